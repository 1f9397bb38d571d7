// What the removal's tests read from a simulated machine's trace.
#pragma once

#include <regex>
#include <string>
#include <vector>

#include "product_table.h"
#include "sim/trace.h"

namespace removal_test {

// The driver's fixed keys as the removal deletes them, in its order: root, then the path below it.
using product::kFixedKeys;

// The string helpers (lstrcpyA, lstrcatA, lstrlenA, lstrcmpA, lstrcmpiA) only build and compare
// names: every call but theirs, each as "Op(args)" without its result, one per call.
inline std::vector<std::string> PlatformCalls(const sim::Trace& trace, bool withFgetc = true) {
  std::vector<std::string> calls;
  for (sim::Call call : trace.Unfolded()) {
    if (call.op.rfind("lstr", 0) == 0 || (!withFgetc && call.op == "fgetc")) continue;
    call.result.clear();
    // Registry and search handles by kind only: their numbers are the simulator's business.
    static const std::regex handle("(hkey|search)#[0-9]+");
    calls.push_back(std::regex_replace(call.ToString(), handle, "$1"));
  }
  return calls;
}

inline std::vector<std::string> Ops(const std::vector<std::string>& calls) {
  std::vector<std::string> ops;
  for (const std::string& call : calls) ops.push_back(call.substr(0, call.find('(')));
  return ops;
}

}  // namespace removal_test
