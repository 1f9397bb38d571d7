// A whole removal: the platform calls in their order, and what is left of the driver afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "expected_calls.h"
#include "installed_machine.h"
#include "product_table.h"
#include "removal.h"
#include "removal_test_util.h"
#include "sim/machine.h"

namespace {

std::string NewWininit() { return "[rename]\r\n" + product::DeferredEntries(); }

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
    const std::vector<std::string> expected =
        fixtures::ExpectedCalls({product::LaterRelease(run.build), run.installed});
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
    const sim::Machine before(machine);
    sim::Activation active(machine);
    RemoveProduct();

    // All that stays until the next start: the five files that wininit.ini names, as they were.
    sim::Machine expected = fixtures::CleanMachine(run.build);
    if (run.installed) {
      for (const std::string name : product::kDeferredFiles) {
        const std::string path = "C:\\WINDOWS\\SYSTEM\\" + name;
        expected.files.WriteFile(path, before.files.ReadFile(path).value());
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
    const char* failing;       // the directory call that fails, or none
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
