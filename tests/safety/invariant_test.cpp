// The invariant checker itself: a real removal passes it, and each kind of damage that a faulty
// removal could do, applied by hand to the machine after a real run, is caught.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "installed_machine.h"
#include "invariant.h"
#include "removal.h"

namespace {

const std::string kPrinterKey = "HKEY_LOCAL_MACHINE\\Enum\\Root\\printer";
const std::string kSystem = "C:\\WINDOWS\\SYSTEM\\";
const std::string kWininit = "C:\\WINDOWS\\wininit.ini";

sim::Machine Removed(const sim::Machine& before) {
  sim::Machine after(before);
  sim::Activation active(after);
  RemoveProduct();
  return after;
}

std::string Entries() { return product::DeferredEntries(); }

struct Damage {
  const char* what;
  std::uint32_t build;
  std::function<void(sim::Machine&)> apply;  // to the machine after a real removal
};

TEST(Invariant, ARealRemovalKeepsIt) {
  for (std::uint32_t build : {sim::kBuildWin95, sim::kBuildWin95Osr2, sim::kBuildWin98}) {
    SCOPED_TRACE(build);
    const sim::Machine before = fixtures::InstalledMachine(build);
    EXPECT_EQ(safety::InvariantViolations(before, Removed(before)), std::vector<std::string>{});
    EXPECT_EQ(safety::InvariantViolations(before, before), std::vector<std::string>{});
  }
}

TEST(Invariant, CatchesEveryKindOfDamage) {
  const Damage damages[] = {
      {"another printer's key", sim::kBuildWin98,
       [](sim::Machine& m) {
         m.registry.DeleteKey("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\Print\\Printers\\HP LaserJet 4");
       }},
      {"a value of a key that stays", sim::kBuildWin98,
       [](sim::Machine& m) { m.registry.DeleteValue(fixtures::kShellFoldersKey, "Desktop"); }},
      {"a changed value", sim::kBuildWin98,
       [](sim::Machine& m) { m.registry.SetString(fixtures::kShellFoldersKey, "Desktop", "C:\\"); }},
      {"a new key", sim::kBuildWin98,
       [](sim::Machine& m) { m.registry.CreateKey("HKEY_LOCAL_MACHINE\\Software\\New"); }},
      {"an instance key of another printer", sim::kBuildWin98,
       [](sim::Machine& m) { m.registry.DeleteKey(kPrinterKey + "\\0000"); }},
      {"part of what stays under a removable parent", sim::kBuildWin98,
       [](sim::Machine& m) {
         m.registry.DeleteKey(
             "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\Print\\Monitors\\PJL Language Monitor");
       }},
      {"a deferred file", sim::kBuildWin98, [](sim::Machine& m) { m.files.Delete(kSystem + "KB47UNIN.EXE"); }},
      {"another system file", sim::kBuildWin98, [](sim::Machine& m) { m.files.Delete(kSystem + "KERNEL32.DLL"); }},
      {"another vendor's INF file", sim::kBuildWin95,
       [](sim::Machine& m) { m.files.Delete("C:\\WINDOWS\\INF\\OTHER\\HEWLETT-PACKARDHPLJ4.INF"); }},
      {"an unmarked oem*.inf", sim::kBuildWin95, [](sim::Machine& m) { m.files.Delete("C:\\WINDOWS\\INF\\oem0.inf"); }},
      {"another folder of the Start menu", sim::kBuildWin98,
       [](sim::Machine& m) {
         m.files.Delete(std::string(fixtures::kProgramsFolder) + "\\Accessories\\Notepad.lnk");
         m.files.RemoveDirectory(std::string(fixtures::kProgramsFolder) + "\\Accessories");
       }},
      {"another printer's win.ini section", sim::kBuildWin98,
       [](sim::Machine& m) {
         sim::Activation active(m);
         WriteProfileStringA("HP LaserJet 4-LPT1", NULL, NULL);
       }},
      {"another printer's [Devices] key", sim::kBuildWin98,
       [](sim::Machine& m) {
         sim::Activation active(m);
         WriteProfileStringA("Devices", "HP LaserJet 4", NULL);
       }},
      {"another default printer", sim::kBuildWin98,
       [](sim::Machine& m) {
         sim::Activation active(m);
         WriteProfileStringA("windows", "device", NULL);
       }},
      {"win.ini line ends rewritten", sim::kBuildWin98,
       [](sim::Machine& m) {
         std::string ini = *m.files.ReadFile(m.WinIniPath());
         ini.erase(ini.find('\r'), 1);
         m.files.WriteFile(m.WinIniPath(), ini);
       }},
      {"a NULL= entry", sim::kBuildWin98,
       [](sim::Machine& m) { m.files.Append(kWininit, "NULL=C:\\WINDOWS\\SYSTEM\\KB47UNIN.EXE\r\n"); }},
      {"an entry for a file that is not deferred", sim::kBuildWin98,
       [](sim::Machine& m) { m.files.Append(kWininit, "NUL=C:\\WINDOWS\\SYSTEM\\KB4732.DLL\r\n"); }},
      {"an entry twice", sim::kBuildWin98,
       [](sim::Machine& m) { m.files.Append(kWininit, "NUL=C:\\WINDOWS\\SYSTEM\\KB47UNIN.EXE\r\n"); }},
      {"a blank line", sim::kBuildWin98, [](sim::Machine& m) { m.files.Append(kWininit, "\r\n"); }},
      {"wininit.ini rewritten before its end", sim::kBuildWin98,
       [](sim::Machine& m) { m.files.WriteFile(kWininit, "[boot]\r\n[rename]\r\n" + Entries()); }},
      {"an attribute", sim::kBuildWin98,
       [](sim::Machine& m) { m.files.SetAttributes(kSystem + "KB47UNIN.EXE", sim::FileAttributes{true}); }},
      {"a new file", sim::kBuildWin98, [](sim::Machine& m) { m.files.WriteFile("C:\\NEW.TXT", ""); }},
      {"a file's bytes", sim::kBuildWin98, [](sim::Machine& m) { m.files.WriteFile(kSystem + "KB47UNIN.EXE", "x"); }},
      {"the system directory", sim::kBuildWin98, [](sim::Machine& m) { m.systemDirectory = "C:\\SYS"; }},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    const sim::Machine before = fixtures::InstalledMachine(damage.build);
    sim::Machine after = Removed(before);
    damage.apply(after);
    EXPECT_FALSE(safety::InvariantViolations(before, after).empty());
  }
}

// The same removal, of keys, files and lines that only near-miss the product's.
TEST(Invariant, CatchesRemovalsOfNearMisses) {
  struct Case {
    const char* what;
    std::function<void(sim::Machine&)> add;     // to the machine before
    std::function<void(sim::Machine&)> remove;  // from the machine after
  } cases[] = {
      {"a matching key the walk never names (1)",
       [](sim::Machine& m) { m.registry.SetString(kPrinterKey + "\\1", "DeviceDesc", fixtures::kPrinterName); },
       [](sim::Machine& m) { m.registry.DeleteKey(kPrinterKey + "\\1"); }},
      {"a description of 261 bytes",
       [](sim::Machine& m) {
         sim::RegValue value;
         value.data.assign(fixtures::kPrinterName, fixtures::kPrinterName + 25);
         value.data.resize(261, 'x');
         m.registry.SetValue(kPrinterKey + "\\0005", "DeviceDesc", value);
       },
       [](sim::Machine& m) { m.registry.DeleteKey(kPrinterKey + "\\0005"); }},
      {"a description without its NUL",
       [](sim::Machine& m) {
         sim::RegValue value;
         value.type = REG_BINARY;
         value.data.assign(fixtures::kPrinterName, fixtures::kPrinterName + 24);
         m.registry.SetValue(kPrinterKey + "\\0002", "DeviceDesc", value);
       },
       [](sim::Machine& m) { m.registry.DeleteKey(kPrinterKey + "\\0002"); }},
      {"a description with a trailing blank",
       [](sim::Machine& m) { m.registry.SetString(kPrinterKey + "\\0002", "DeviceDesc", "ZANTEROVA Karsenby RK514 "); },
       [](sim::Machine& m) { m.registry.DeleteKey(kPrinterKey + "\\0002"); }},
      {"the other list's value name",
       [](sim::Machine& m) { m.registry.SetString(kPrinterKey + "\\0002", "DriverDesc", fixtures::kPrinterName); },
       [](sim::Machine& m) { m.registry.DeleteKey(kPrinterKey + "\\0002"); }},
      {"a port section with a colon",
       [](sim::Machine& m) { m.files.Append(m.WinIniPath(), "[ZANTEROVA Karsenby RK514-LPT1:]\r\nx=1\r\n"); },
       [](sim::Machine& m) {
         sim::Activation active(m);
         WriteProfileStringA("ZANTEROVA Karsenby RK514-LPT1:", NULL, NULL);
       }},
      {"the printer's key in another section",
       [](sim::Machine& m) { m.files.Append(m.WinIniPath(), "[Ports]\r\nZANTEROVA Karsenby RK514=x\r\n"); },
       [](sim::Machine& m) {
         sim::Activation active(m);
         WriteProfileStringA("Ports", fixtures::kPrinterName, NULL);
       }},
      {"a default printer whose name has a blank before its comma",
       [](sim::Machine& m) {
         sim::Activation active(m);
         WriteProfileStringA("windows", "device", "ZANTEROVA Karsenby RK514 ,kb47rk,LPT1:");
       },
       [](sim::Machine& m) {
         sim::Activation active(m);
         WriteProfileStringA("windows", "device", NULL);
       }},
      {"a user's file in the group",
       [](sim::Machine& m) { m.files.WriteFile(std::string(fixtures::kGroupFolder) + "\\Mine.txt", "mine"); },
       [](sim::Machine& m) {
         m.files.Delete(std::string(fixtures::kGroupFolder) + "\\Mine.txt");
         m.files.RemoveDirectory(fixtures::kGroupFolder);
       }},
      {"a marked file whose name does not match oem*.inf",
       [](sim::Machine& m) { m.files.WriteFile("C:\\WINDOWS\\INF\\other.inf", "KB47STAT.EXE\r\n"); },
       [](sim::Machine& m) { m.files.Delete("C:\\WINDOWS\\INF\\other.inf"); }},
      {"a file marked only after a 0x1A",
       [](sim::Machine& m) { m.files.WriteFile("C:\\WINDOWS\\INF\\oem7.inf", "x\x1A KB47STAT.EXE\r\n"); },
       [](sim::Machine& m) { m.files.Delete("C:\\WINDOWS\\INF\\oem7.inf"); }},
      {"the fixed INF file on a first release",
       [](sim::Machine& m) { m.files.WriteFile("C:\\WINDOWS\\INF\\OTHER\\KARSENBYKBRK514.INF", "KB47STAT.EXE\r\n"); },
       [](sim::Machine& m) { m.files.Delete("C:\\WINDOWS\\INF\\OTHER\\KARSENBYKBRK514.INF"); }},
      {"a group at the root while the Programs folder is known",
       [](sim::Machine& m) { m.files.WriteFile("C:\\ZANTEROVA RK514\\How do I for RK514.LNK", "L"); },
       [](sim::Machine& m) { m.files.Delete("C:\\ZANTEROVA RK514\\How do I for RK514.LNK"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Machine before = fixtures::InstalledMachine(sim::kBuildWin95);
    c.add(before);
    sim::Machine after = Removed(before);
    ASSERT_EQ(safety::InvariantViolations(before, after), std::vector<std::string>{});
    c.remove(after);
    EXPECT_FALSE(safety::InvariantViolations(before, after).empty());
  }
}

// What a run may do only when a read failed: without the allowance it is damage, with it not.
TEST(Invariant, AllowancesAddOnlyTheirOwnBranch) {
  struct Case {
    const char* what;
    safety::Allowance allowance;
    std::function<void(sim::Machine&)> add, remove;
  } cases[] = {
      {"the group at the root",
       {false, true, false, false},
       [](sim::Machine& m) { m.files.WriteFile("C:\\ZANTEROVA RK514\\How do I for RK514.LNK", "L"); },
       [](sim::Machine& m) {
         m.files.Delete("C:\\ZANTEROVA RK514\\How do I for RK514.LNK");
         m.files.RemoveDirectory("C:\\ZANTEROVA RK514");
       }},
      {"the local-port sections of a network printer",
       {false, false, true, false},
       [](sim::Machine& m) {
         std::string ini = *m.files.ReadFile(m.WinIniPath());
         const std::string local = "ZANTEROVA Karsenby RK514=kb47rk,LPT1:\r\n";
         ini.replace(ini.find(local), local.size(), "ZANTEROVA Karsenby RK514=kb47rk,\\\\S\\Q\r\n");
         m.files.WriteFile(m.WinIniPath(), ini);
       },
       [](sim::Machine& m) {
         sim::Activation active(m);
         WriteProfileStringA("ZANTEROVA Karsenby RK514-LPT2", NULL, NULL);
       }},
      {"marked oem*.inf files on a later release",
       {true, false, false, false},
       [](sim::Machine& m) { m.files.WriteFile("C:\\WINDOWS\\INF\\oem4.inf", "KB47STAT.EXE\r\n"); },
       [](sim::Machine& m) { m.files.Delete("C:\\WINDOWS\\INF\\oem4.inf"); }},
      {"a blank line before the entries",
       {false, false, false, true},
       [](sim::Machine&) {},
       [](sim::Machine& m) { m.files.WriteFile(kWininit, "\r\n[rename]\r\n" + Entries()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Machine before = fixtures::InstalledMachine(sim::kBuildWin98);
    c.add(before);
    sim::Machine after = Removed(before);
    c.remove(after);
    EXPECT_FALSE(safety::InvariantViolations(before, after).empty());
    EXPECT_EQ(safety::InvariantViolations(before, after, c.allowance), std::vector<std::string>{});
  }
}

TEST(Invariant, ReadingRules) {
  const std::string name = fixtures::kPrinterName;
  auto value = [](std::string bytes) {
    sim::RegValue v;
    v.data.assign(bytes.begin(), bytes.end());
    return v;
  };
  EXPECT_TRUE(safety::ReadsAsPrinterName(value(name + '\0')));
  EXPECT_TRUE(safety::ReadsAsPrinterName(value(name + '\0' + std::string(235, 'x'))));  // 260 bytes
  EXPECT_FALSE(safety::ReadsAsPrinterName(value(name + '\0' + std::string(236, 'x'))));
  EXPECT_FALSE(safety::ReadsAsPrinterName(value(name)));
  EXPECT_FALSE(safety::ReadsAsPrinterName(value(name + " " + '\0')));

  for (const char* text : {"KB47STAT.EXE", "a\tKB47STAT.EXE\v", "x\r\nKB47STAT.EXE = 1"}) {
    EXPECT_TRUE(safety::HoldsMarker(text)) << text;
  }
  for (const char* text : {"", "KB47STAT.EXE,,,1", "\\KB47STAT.EXE", "kb47stat.exe", "x\x1AKB47STAT.EXE"}) {
    EXPECT_FALSE(safety::HoldsMarker(text)) << text;
  }

  const std::pair<const char*, long> names[] = {{"0000", 0}, {"0042", 42}, {"9999", 9999}, {"10000", 10000},
                                                {"1", -1},   {"001", -1},  {"00001", -1},  {"000A", -1}};
  for (const auto& [text, number] : names) EXPECT_EQ(safety::WalkNumber(text), number) << text;
}

}  // namespace
