// The calls a removal makes, counted against what its stages prescribe: on a bare and on an
// installed machine, and as the machine grows (instance keys, INF files, win.ini lines), where
// each count must grow by exactly what the walk and the scan add per item, and no INF file is
// read twice or past its first marker.
#include <gtest/gtest.h>

#include <string>

#include "expectations.h"
#include "expected_calls.h"
#include "installed_machine.h"
#include "removal.h"

namespace {

// Every platform call but the string helpers and the byte reads, which the tables count apart.
std::size_t PlatformCalls(const sim::Trace& trace) {
  std::size_t count = 0;
  for (const sim::Call& call : trace.Calls()) {
    if (call.op.rfind("lstr", 0) != 0 && call.op != "fgetc") count += call.count;
  }
  return count;
}

// The totals of the call sequence that the removal's tests check call by call. On a bare Windows
// 98 machine: the version (1); 14 key deletions and 3 flushes; 102 names tried in each instance
// list (204); the [Devices] read, 5 profile writes and the default printer's read (7); the
// shell-folder open, 4 shortcut deletions and the folder (6); the two directories (2); 14 system
// files and the fixed INF file (15); the rename list's existence test, open, header, 5 entries,
// close (9): 261.
const std::size_t kBareLaterRelease = fixtures::ExpectedCalls({true, false}).size();
const std::size_t kBareFirstRelease = fixtures::ExpectedCalls({false, false}).size();
const std::size_t kInstalledLaterRelease = fixtures::ExpectedCalls({true, true}).size();
const std::size_t kInstalledFirstRelease = fixtures::ExpectedCalls({false, true}).size();

TEST(CallCount, BareAndInstalledMachines) {
  struct Case {
    const char* what;
    sim::Machine machine;
    std::size_t calls;
  } cases[] = {
      {"bare, Windows 98", sim::Machine(), kBareLaterRelease},
      {"installed, Windows 98", fixtures::InstalledMachine(sim::kBuildWin98), kInstalledLaterRelease},
      {"installed, Windows 95", fixtures::InstalledMachine(sim::kBuildWin95), kInstalledFirstRelease},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Activation active(c.machine);
    RemoveProduct();
    EXPECT_EQ(PlatformCalls(c.machine.trace()), c.calls);
  }
  sim::Machine firstRelease;
  firstRelease.buildNumber = sim::kBuildWin95;
  sim::Activation active(firstRelease);
  RemoveProduct();
  EXPECT_EQ(PlatformCalls(firstRelease.trace()), kBareFirstRelease);
}

// An INF file that the scan reads to the line end after its marker: 23 bytes in text mode.
const std::string kMarkedInf = "[Version]\r\nKB47STAT.EXE\r\n" + std::string(200, 'f');
constexpr std::size_t kBytesToMarker = 23;

TEST(CallCount, GrowsByItsPerItemCostOnly) {
  struct Case {
    const char* what;
    int instanceKeys, infFiles, winIniLines;
    std::size_t extraCalls;  // over the bare first-release machine
  } cases[] = {
      // Keys 0000 to n-1 of another printer and the printer's at n: n more names tried, each
      // of the n + 1 keys read and closed, one deletion.
      {"10 instance keys", 10, 0, 0, 3 * 10 + 3},
      {"100 instance keys", 100, 0, 0, 3 * 100 + 3},
      {"1000 instance keys", 1000, 0, 0, 3 * 1000 + 3},
      // m marked files: the search yields m names and ends (m + 2 against the failed search),
      // each file is opened, closed and deleted.
      {"10 INF files", 0, 10, 0, 4 * 10 + 1},
      {"200 INF files", 0, 200, 0, 4 * 200 + 1},
      {"201 INF files", 0, 201, 0, 4 * 201 + 1},
      {"500 INF files", 0, 500, 0, 4 * 500 + 1},
      // win.ini's length costs no calls.
      {"10 win.ini lines", 0, 0, 10, 0},
      {"5000 win.ini lines", 0, 0, 5000, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Machine machine;
    machine.buildNumber = sim::kBuildWin95;
    for (int n = 0; n <= c.instanceKeys && c.instanceKeys > 0; ++n) {
      char name[16];
      std::snprintf(name, sizeof name, "%04d", n);
      machine.registry.SetString(std::string("HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\") + name, "DeviceDesc",
                                 n == c.instanceKeys ? fixtures::kPrinterName : "HP LaserJet 4");
    }
    for (int i = 0; i < c.infFiles; ++i) {
      machine.files.WriteFile("C:\\WINDOWS\\INF\\oem" + std::to_string(i) + ".inf", kMarkedInf);
    }
    if (c.winIniLines > 0) {
      std::string ini = "[Devices]\r\nZANTEROVA Karsenby RK514=kb47rk,LPT1:\r\n[fonts]\r\n";
      for (int i = 3; i < c.winIniLines; ++i) ini += "Font" + std::to_string(i) + "=F.TTF\r\n";
      machine.files.WriteFile(machine.WinIniPath(), ini);
    }
    const sim::Machine before(machine);
    sim::Activation active(machine);
    RemoveProduct();

    EXPECT_EQ(PlatformCalls(machine.trace()), kBareFirstRelease + c.extraCalls);
    EXPECT_EQ(machine.trace().Count("fgetc"), static_cast<std::size_t>(c.infFiles) * kBytesToMarker);
    EXPECT_EQ(safety::ScanWaste(before, machine), std::vector<std::string>{});
    EXPECT_EQ(machine.files.List("C:\\WINDOWS\\INF").size(), 0u);
    EXPECT_EQ(machine.registry.SubkeyNames("HKEY_LOCAL_MACHINE\\Enum\\Root\\printer").size(),
              static_cast<std::size_t>(c.instanceKeys));
  }
}

}  // namespace
