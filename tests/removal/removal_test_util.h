// What the removal's tests read from a simulated machine's trace.
#pragma once

#include <regex>
#include <string>
#include <vector>

#include "sim/trace.h"

namespace removal_test {

// The driver's fixed keys as the removal deletes them: root, then the path below it. The first
// 11 go on every run, the last 3 only on builds above 950.
struct FixedKey {
  const char* root;
  const char* path;
};
inline constexpr FixedKey kFixedKeys[14] = {
    {"HKEY_CLASSES_ROOT", "CLSID\\{5b1e7d20-4a9c-11d1-8f3a-2c61d0e4b795}"},
    {"HKEY_CLASSES_ROOT", "Printers\\shellex\\ContextMenuHandlers\\ZANTEROVA RK514 Shell Extension"},
    {"HKEY_CURRENT_CONFIG", "System\\CurrentControlSet\\control\\Print\\Printers\\ZANTEROVA Karsenby RK514"},
    {"HKEY_LOCAL_MACHINE", "Config\\0001\\System\\CurrentControlSet\\control\\Print\\Printers\\ZANTEROVA Karsenby RK514"},
    {"HKEY_LOCAL_MACHINE", "Enum\\LPTENUM\\KARSENBYRK_514_(COLO9F98"},
    {"HKEY_LOCAL_MACHINE", "SOFTWARE\\Classes\\CLSID\\{5b1e7d20-4a9c-11d1-8f3a-2c61d0e4b795}"},
    {"HKEY_LOCAL_MACHINE", "SOFTWARE\\Classes\\Printers\\shellex\\ContextMenuHandlers\\ZANTEROVA RK514 Shell Extension"},
    {"HKEY_LOCAL_MACHINE", "System\\CurrentControlSet\\control\\Print\\Environments\\Windows 4.0\\Drivers\\ZANTEROVA Karsenby RK514"},
    {"HKEY_LOCAL_MACHINE", "System\\CurrentControlSet\\control\\Print\\Environments\\Windows 4.0\\Print Processors\\ZANTEROVA RK514 PrintProcessor"},
    {"HKEY_LOCAL_MACHINE", "System\\CurrentControlSet\\control\\Print\\Monitors\\ZANTEROVA RK514 LanguageMonitor"},
    {"HKEY_LOCAL_MACHINE", "System\\CurrentControlSet\\control\\Print\\Printers\\ZANTEROVA Karsenby RK514"},
    {"HKEY_USERS", ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs\\ZANTEROVA RK514"},
    {"HKEY_LOCAL_MACHINE", "Security\\Access\\PRINT\\ZANTEROVA Karsenby RK514"},
    {"HKEY_CURRENT_USER", "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs\\ZANTEROVA RK514"},
};

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
