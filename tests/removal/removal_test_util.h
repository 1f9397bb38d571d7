// What the removal's tests read from a simulated machine's trace.
#pragma once

#include <regex>
#include <string>
#include <vector>

#include "sim/trace.h"

namespace removal_test {

// The string helpers (lstrcpyA, lstrcatA, lstrlenA, lstrcmpA, lstrcmpiA) only build and compare
// names: every call but theirs, each as "Op(args)" without its result.
inline std::vector<std::string> PlatformCalls(const sim::Trace& trace, bool withFgetc = true) {
  std::vector<std::string> calls;
  for (const sim::Call& call : trace.Calls()) {
    if (call.op.rfind("lstr", 0) == 0 || (!withFgetc && call.op == "fgetc")) continue;
    sim::Call bare = call;
    bare.result.clear();
    // Registry and search handles by kind only: their numbers are the simulator's business.
    static const std::regex handle("(hkey|search)#[0-9]+");
    calls.push_back(std::regex_replace(bare.ToString(), handle, "$1"));
  }
  return calls;
}

inline std::vector<std::string> Ops(const std::vector<std::string>& calls) {
  std::vector<std::string> ops;
  for (const std::string& call : calls) ops.push_back(call.substr(0, call.find('(')));
  return ops;
}

}  // namespace removal_test
