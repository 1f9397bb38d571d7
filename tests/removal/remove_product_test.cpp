// A whole removal: the platform calls in their order, and what is left of the driver afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installed_machine.h"
#include "removal_test_util.h"
#include "sim/machine.h"
#include "removal.h"

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

struct Layout {
  bool laterRelease;
  bool installed;  // instance keys 0000 (another printer) and 0001 (ours); shell folders; INF files
};

std::vector<std::string> ExpectedCalls(const Layout& layout) {
  Expected e;
  e.Add("GetVersionExA", {"148"});
  for (int i = 0; i < (layout.laterRelease ? 14 : 11); ++i) {
    e.Add("RegDeleteKeyA", {removal_test::kFixedKeys[i].root, Q(removal_test::kFixedKeys[i].path)});
  }
  if (layout.laterRelease) {
    e.Add("RegFlushKey", {"HKEY_USERS"});
    e.Add("RegFlushKey", {"HKEY_CURRENT_USER"});
  }
  e.Add("RegFlushKey", {"HKEY_LOCAL_MACHINE"});

  const char* passes[][2] = {{"Enum\\Root\\printer\\", "DeviceDesc"},
                             {"System\\CurrentControlSet\\Services\\Class\\Printer\\", "DriverDesc"}};
  for (auto& pass : passes) {
    auto open = [&](int n) {
      char number[8];
      std::snprintf(number, sizeof number, "%04d", n);
      e.Add("RegOpenKeyExA", {"HKEY_LOCAL_MACHINE", Q(std::string(pass[0]) + number), "0", "1"});
    };
    auto examine = [&] {
      e.Add("RegQueryValueExA", {"hkey", Q(pass[1]), "NULL", "type", "data", "260"});
      e.Add("RegCloseKey", {"hkey"});
    };
    open(0);
    int next = 1;
    if (layout.installed) {
      examine();  // 0000: another printer
      open(1);
      examine();  // 0001: ours, deleted, and its name tried once more
      e.Add("RegDeleteKeyA", {"HKEY_LOCAL_MACHINE", Q(std::string(pass[0]) + "0001")});
      open(1);
      open(2);  // ends the examine phase
      next = 3;
    }
    for (int n = next; n <= 101; ++n) open(n);
  }

  const std::string printer = Q(fixtures::kPrinterName);
  e.Add("GetProfileStringA", {Q("Devices"), printer, Q("kb47rk,lpt1:"), "150"});
  for (const char* port : {"LPT1", "FILE", "LPT2"}) {
    e.Add("WriteProfileStringA", {Q(std::string(fixtures::kPrinterName) + "-" + port), "NULL", "NULL"});
  }
  e.Add("WriteProfileStringA", {Q("Devices"), printer, "NULL"});
  e.Add("WriteProfileStringA", {Q("PrinterPorts"), printer, "NULL"});
  e.Add("GetProfileStringA", {Q("windows"), Q("device"), Q(""), "150"});  // another default printer

  e.Add("RegOpenKeyExA", {"HKEY_CURRENT_USER", Q("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"),
                          "0", "1"});
  std::string group = "\\ZANTEROVA RK514";
  if (layout.installed) {
    e.Add("RegQueryValueExA", {"hkey", Q("Programs"), "NULL", "type", "data", "260"});
    e.Add("RegCloseKey", {"hkey"});
    group = fixtures::kGroupFolder;
  }
  for (const std::string& name : product::kShortcuts) e.Add("DeleteFileA", {Q(group + "\\" + name)});
  e.Add("RemoveDirectoryA", {Q(group)});

  e.Add("GetSystemDirectoryA", {"buffer", "260"});
  e.Add("GetWindowsDirectoryA", {"buffer", "260"});
  for (const std::string& name : product::kSystemFiles) e.Add("DeleteFileA", {Q("C:\\WINDOWS\\SYSTEM\\" + name)});
  if (layout.laterRelease) {
    e.Add("DeleteFileA", {Q("C:\\WINDOWS\\INF\\OTHER\\KARSENBYKBRK514.INF")});
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
  for (const std::string& name : product::kDeferredFiles) {
    e.Add("fprintf", {"file#1", Q("%s\n"), Q("NUL=C:\\WINDOWS\\SYSTEM\\" + name)});
  }
  e.Add("fclose", {"file#1"});
  return e.calls;
}

std::string NewWininit() {
  std::string text = "[rename]\r\n";
  for (const std::string& name : product::kDeferredFiles) text += "NUL=C:\\WINDOWS\\SYSTEM\\" + name + "\r\n";
  return text;
}

struct RunCase {
  const char* what;
  std::uint32_t build;
  bool installed;
};
const RunCase kRuns[] = {
    {"Windows 98, installed", sim::kBuildWin98, true},
    {"Windows 95 OSR2, installed", sim::kBuildWin95Osr2, true},
    {"Windows 95, installed", sim::kBuildWin95, true},
    {"Windows 98, nothing installed", sim::kBuildWin98, false},
    {"Windows 95, nothing installed", sim::kBuildWin95, false},
};

TEST(RemoveProduct, MakesExactlyTheseCallsInThisOrder) {
  for (const RunCase& run : kRuns) {
    SCOPED_TRACE(run.what);
    sim::Machine machine;
    machine.buildNumber = run.build;
    if (run.installed) machine = fixtures::InstalledMachine(run.build);
    sim::Activation active(machine);
    EXPECT_EQ(RemoveProduct(), 0);
    const std::vector<std::string> calls = removal_test::PlatformCalls(machine.trace(), false);
    const std::vector<std::string> expected = ExpectedCalls({(run.build & 0xFFFF) > 950, run.installed});
    EXPECT_EQ(calls.size(), expected.size());
    for (std::size_t i = 0; i < std::min(calls.size(), expected.size()); ++i) {
      ASSERT_EQ(calls[i], expected[i]) << "call " << i;
    }
  }
}

TEST(RemoveProduct, LeavesTheMachineAsItWasBeforeTheDriver) {
  for (const RunCase& run : kRuns) {
    SCOPED_TRACE(run.what);
    sim::Machine machine = run.installed ? fixtures::InstalledMachine(run.build) : fixtures::CleanMachine(run.build);
    sim::Activation active(machine);
    RemoveProduct();

    // All that stays until the next start: the five files that wininit.ini names.
    sim::Machine expected = fixtures::CleanMachine(run.build);
    if (run.installed) {
      for (const std::string& name : product::kDeferredFiles) {
        expected.files.WriteFile("C:\\WINDOWS\\SYSTEM\\" + name, name);
      }
    }
    expected.files.WriteFile("C:\\WINDOWS\\wininit.ini", NewWininit());
    EXPECT_TRUE(machine.registry == expected.registry) << machine.registry.ExportRegText();
    EXPECT_EQ(machine.files.ReadFile(machine.WinIniPath()), fixtures::CleanWinIni());
    EXPECT_TRUE(machine.files == expected.files);
    EXPECT_TRUE(machine.SameState(expected));
  }
}

TEST(RemoveProduct, OnABareMachineOnlyWininitChanges) {
  sim::Machine machine;
  const sim::Machine before(machine);
  sim::Activation active(machine);
  EXPECT_EQ(RemoveProduct(), 0);
  sim::Machine expected(before);
  expected.files.WriteFile("C:\\WINDOWS\\wininit.ini", NewWininit());
  EXPECT_TRUE(machine.SameState(expected));
}

TEST(RemoveProduct, UnknownDirectoriesAreNeverTakenForTheRoot) {
  struct Case {
    const char* what;
    const char* failing;     // the directory call that fails, or none
    std::size_t systemLength;  // a system directory this long instead (0: as it is)
    bool systemKnown, windowsKnown;
  } cases[] = {
      {"GetSystemDirectoryA fails", "GetSystemDirectoryA", 0, false, true},
      {"GetWindowsDirectoryA fails", "GetWindowsDirectoryA", 0, true, false},
      {"a system directory of 260 characters", nullptr, 260, false, true},
      {"a long system directory that fits the buffer", nullptr, 200, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Machine machine = fixtures::InstalledMachine(sim::kBuildWin98);
    if (c.systemLength != 0) {
      machine.systemDirectory = "C:\\" + std::string(c.systemLength - 3, 'S');
      machine.files.WriteFile(machine.systemDirectory + "\\KB47RK.DRV", "x");
    }
    for (const char* name : {"KB47RK.DRV", "KARSENBYKBRK514.INF", "wininit.ini"}) {
      machine.files.WriteFile(std::string("C:\\") + name, "[boot]\r\n");
    }
    machine.files.WriteFile("C:\\INF\\OTHER\\KARSENBYKBRK514.INF", "x");
    if (c.failing != nullptr) machine.faults().FailAll(c.failing);
    sim::Activation active(machine);

    const int result = RemoveProduct();

    for (const char* path : {"C:\\KB47RK.DRV", "C:\\INF\\OTHER\\KARSENBYKBRK514.INF"}) {
      EXPECT_TRUE(machine.files.Exists(path)) << path;
    }
    EXPECT_EQ(machine.files.ReadFile("C:\\wininit.ini"), "[boot]\r\n");
    EXPECT_EQ(machine.files.Exists(machine.systemDirectory + "\\KB47RK.DRV"), !c.systemKnown);
    EXPECT_EQ(machine.files.Exists("C:\\WINDOWS\\INF\\OTHER\\KARSENBYKBRK514.INF"), !c.windowsKnown);
    EXPECT_EQ(machine.files.Exists("C:\\WINDOWS\\wininit.ini"), c.systemKnown && c.windowsKnown);
    EXPECT_EQ(result, c.systemKnown && c.windowsKnown ? 0 : -1);
    // The stages before the directories are read run all the same.
    EXPECT_FALSE(machine.files.Exists(fixtures::kGroupFolder));
  }
}

}  // namespace
