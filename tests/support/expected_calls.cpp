// The calls of a whole removal, written out from what the machine holds: see expected_calls.h.
#include "expected_calls.h"

#include <cstdio>

#include "installed_machine.h"
#include "product_table.h"

namespace fixtures {
namespace {

std::string Q(const std::string& text) { return "\"" + text + "\""; }

// The calls a removal makes, written out from what the machine holds.
struct Expected {
  std::vector<std::string> calls;
  void Add(const std::string& op, const std::vector<std::string>& args) {
    std::string call = op + "(";
    for (std::size_t i = 0; i < args.size(); ++i) call += (i > 0 ? ", " : "") + args[i];
    calls.push_back(call + ")");
  }
};

}  // namespace

std::vector<std::string> ExpectedCalls(const Layout& layout) {
  Expected e;
  e.Add("GetVersionExA", {"148"});
  for (const product::FixedKey& key : product::kFixedKeys) {
    if (!key.laterReleaseOnly || layout.laterRelease) e.Add("RegDeleteKeyA", {key.root, Q(key.path)});
  }
  if (layout.laterRelease) {
    e.Add("RegFlushKey", {"HKEY_USERS"});
    e.Add("RegFlushKey", {"HKEY_CURRENT_USER"});
  }
  e.Add("RegFlushKey", {"HKEY_LOCAL_MACHINE"});

  for (const product::InstanceList& list : product::kInstanceLists) {
    const std::string base = std::string(list.base) + "\\";
    auto open = [&](int n) {
      char number[8];
      std::snprintf(number, sizeof number, "%04d", n);
      e.Add("RegOpenKeyExA", {"HKEY_LOCAL_MACHINE", Q(base + number), "0", "1"});
    };
    auto examine = [&] {
      e.Add("RegQueryValueExA", {"hkey", Q(list.valueName), "NULL", "type", "data", "260"});
      e.Add("RegCloseKey", {"hkey"});
    };
    open(0);
    int next = 1;
    if (layout.installed) {
      examine();  // 0000: another printer
      open(1);
      examine();  // 0001: ours, deleted, and its name tried once more
      e.Add("RegDeleteKeyA", {"HKEY_LOCAL_MACHINE", Q(base + "0001")});
      open(1);
      open(2);  // ends the examine phase
      next = 3;
    }
    for (int n = next; n <= 101; ++n) open(n);
  }

  const std::string printer = Q(kPrinterName);
  e.Add("GetProfileStringA", {Q("Devices"), printer, Q("kb47rk,lpt1:"), "150"});
  for (const char* port : product::kLocalPortSuffixes) {
    e.Add("WriteProfileStringA", {Q(std::string(kPrinterName) + port), "NULL", "NULL"});
  }
  e.Add("WriteProfileStringA", {Q("Devices"), printer, "NULL"});
  e.Add("WriteProfileStringA", {Q("PrinterPorts"), printer, "NULL"});
  e.Add("GetProfileStringA", {Q("windows"), Q("device"), Q(""), "150"});  // another default printer

  e.Add("RegOpenKeyExA",
        {"HKEY_CURRENT_USER", Q("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"), "0", "1"});
  std::string group = std::string("\\") + product::kGroupName;
  if (layout.installed) {
    e.Add("RegQueryValueExA", {"hkey", Q("Programs"), "NULL", "type", "data", "260"});
    e.Add("RegCloseKey", {"hkey"});
    group = kGroupFolder;
  }
  for (const std::string name : product::kShortcuts) e.Add("DeleteFileA", {Q(group + "\\" + name)});
  e.Add("RemoveDirectoryA", {Q(group)});

  e.Add("GetSystemDirectoryA", {"buffer", "260"});
  e.Add("GetWindowsDirectoryA", {"buffer", "260"});
  for (const std::string name : product::kSystemFiles) e.Add("DeleteFileA", {Q("C:\\WINDOWS\\SYSTEM\\" + name)});
  if (layout.laterRelease) {
    e.Add("DeleteFileA", {Q(std::string("C:\\WINDOWS\\") + product::kFixedInfFile)});
  } else {
    e.Add("FindFirstFileA", {Q("C:\\WINDOWS\\INF\\oem*.inf"), "data"});
    if (layout.installed) {
      e.Add("FindNextFileA", {"search", "data"});
      e.Add("FindNextFileA", {"search", "data"});
      e.Add("FindClose", {"search"});
      e.Add("fopen", {Q("C:\\WINDOWS\\INF\\oem0.inf"), Q("r")});
      e.Add("fclose", {"file#1"});
      e.Add("fopen", {Q("C:\\WINDOWS\\INF\\oem1.inf"), Q("r")});
      e.Add("fclose", {"file#1"});
      e.Add("DeleteFileA", {Q("C:\\WINDOWS\\INF\\oem1.inf")});
    }
  }

  e.Add("FindFirstFileA", {Q("C:\\WINDOWS\\wininit.ini"), "data"});
  e.Add("fopen", {Q("C:\\WINDOWS\\wininit.ini"), Q("a+")});
  e.Add("fprintf", {"file#1", Q("%s\n"), Q("[rename]")});
  for (const std::string name : product::kDeferredFiles) {
    e.Add("fprintf", {"file#1", Q("%s\n"), Q("NUL=C:\\WINDOWS\\SYSTEM\\" + name)});
  }
  e.Add("fclose", {"file#1"});
  return e.calls;
}

}  // namespace fixtures
