// The installed-files stage: the system files, and the INF file by build (the marker-word scan
// of oem*.inf or the one fixed file).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installed_machine.h"
#include "removal_test_util.h"
#include "sim/crt.h"
#include "sim/machine.h"
#include "stages.h"

namespace {

const std::string kInf = "C:\\WINDOWS\\INF";
const std::string kOtherInf = "C:\\WINDOWS\\INF\\OTHER\\KARSENBYKBRK514.INF";
const std::string kMarked = "[Files]\r\nKB47STAT.EXE\r\n";

TEST(InstalledFiles, SystemFilesGoAndTheRestStays) {
  sim::Machine machine = fixtures::InstalledMachine(sim::kBuildWin98);
  sim::Activation active(machine);
  RemoveInstalledFiles("C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS", 1998);
  for (const std::string name : product::kSystemFiles) {
    EXPECT_FALSE(machine.files.Exists("C:\\WINDOWS\\SYSTEM\\" + name)) << name;
  }
  for (const std::string name : product::kDeferredFiles) {
    EXPECT_TRUE(machine.files.Exists("C:\\WINDOWS\\SYSTEM\\" + name)) << name;
  }
  EXPECT_TRUE(machine.files.Exists("C:\\WINDOWS\\SYSTEM\\HPPCL5MS.DRV"));
  EXPECT_FALSE(machine.files.Exists(kOtherInf));
  EXPECT_TRUE(machine.files.Exists("C:\\WINDOWS\\INF\\OTHER\\HEWLETT-PACKARDHPLJ4.INF"));
}

TEST(InstalledFiles, TheBuildChoosesTheInfRule) {
  for (WORD build : {WORD(0), WORD(950), WORD(951), WORD(1998)}) {
    SCOPED_TRACE(build);
    sim::Machine machine;
    machine.files.WriteFile(kInf + "\\oem3.inf", kMarked);
    machine.files.WriteFile(kOtherInf, kMarked);
    sim::Activation active(machine);
    RemoveInstalledFiles("C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS", build);
    EXPECT_EQ(machine.files.Exists(kInf + "\\oem3.inf"), build > 950);
    EXPECT_EQ(machine.files.Exists(kOtherInf), build <= 950);
    EXPECT_EQ(machine.trace().Count("FindFirstFileA"), build <= 950 ? 1u : 0u);
  }
}

TEST(PurgeMarkedInfFiles, WholeWordsOnly) {
  const std::string longWord(199, 'w');
  struct Case {
    const char* what;
    std::string text;
    bool marked;
  } cases[] = {
      {"alone on its line", "[Files]\r\nKB47STAT.EXE\r\n", true},
      {"before \" = 1\"", "KB47STAT.EXE = 1\r\n", true},
      {"joined to =1", "KB47STAT.EXE=1\r\n", false},
      {"joined to ,,,1", "KB47STAT.EXE,,,1\r\n", false},
      {"after a backslash", "\\KB47STAT.EXE\r\n", false},
      {"in lower case", "kb47stat.exe\r\n", false},
      {"between tab, vertical tab and form feed", "a\tKB47STAT.EXE\v\fb", true},
      {"the last bytes, no line end", "[Files]\r\nKB47STAT.EXE", true},
      {"only after a Ctrl-Z",
       "[Files]\r\n\x1A"
       "KB47STAT.EXE\r\n",
       false},
      {"just before a Ctrl-Z",
       "KB47STAT.EXE\x1A"
       "junk",
       true},
      {"an empty file", "", false},
      {"white space only", " \r\n\t \r\n", false},
      {"at the end of a word of 199 characters", longWord.substr(12) + "KB47STAT.EXE\r\n", false},
      {"at the end of a word of 211 characters", std::string(199, 'x') + "KB47STAT.EXE\r\n", false},
      {"at the end of a word of 410 characters", std::string(398, 'x') + "KB47STAT.EXE\r\n", false},
      {"after a word longer than the buffer", std::string(1000, 'x') + " KB47STAT.EXE\r\n", true},
      {"after a word of exactly 199 characters", longWord + " KB47STAT.EXE", true},
      {"followed by a NUL byte in the same word", std::string("KB47STAT.EXE\0x\r\n", 16), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Machine machine;
    machine.files.WriteFile(kInf + "\\oem0.inf", c.text);
    sim::Activation active(machine);
    PurgeMarkedInfFiles(kInf.c_str(), "oem*.inf", "KB47STAT.EXE");
    EXPECT_EQ(machine.files.Exists(kInf + "\\oem0.inf"), !c.marked);
    EXPECT_EQ(machine.files.Exists(kInf), true);
  }
}

TEST(PurgeMarkedInfFiles, EveryListedNameIsExaminedInSearchOrder) {
  sim::Machine machine;
  machine.files.WriteFile(kInf + "\\oem0.inf", kMarked);
  machine.files.WriteFile(kInf + "\\oem1.inf", "[Files]\r\nHPPCL5MS.DRV\r\n");
  machine.files.WriteFile(kInf + "\\oem2.inf", kMarked);
  machine.files.WriteFile(kInf + "\\oem3.inf", "");                               // right after a marked file
  machine.files.MakeDirectory(kInf + "\\oem4.inf");                               // a folder that matches
  machine.files.WriteFile(kInf + "\\oem5.inf", kMarked, {.inUse = true});         // cannot be opened
  machine.files.WriteFile(kInf + "\\OEMSETUP.INF", kMarked);                      // letter case
  machine.files.WriteFile(kInf + "\\oem6.inf", "KB47STAT.EXE KB47STAT.EXE\r\n");  // twice
  machine.files.WriteFile(kInf + "\\oem7.inf", kMarked);
  machine.files.WriteFile(kInf + "\\msprint.inf", kMarked);  // not oem*.inf
  sim::Activation active(machine);

  PurgeMarkedInfFiles(kInf.c_str(), "oem*.inf", "KB47STAT.EXE");

  std::vector<std::string> left;
  for (const sim::DirEntry& entry : machine.files.List(kInf)) left.push_back(entry.name);
  EXPECT_EQ(left, (std::vector<std::string>{"oem1.inf", "oem3.inf", "oem4.inf", "oem5.inf", "msprint.inf"}));

  // Every name is collected and the search closed before the first file is opened.
  const std::vector<std::string> ops = removal_test::Ops(removal_test::PlatformCalls(machine.trace(), false));
  const auto close = std::find(ops.begin(), ops.end(), "FindClose");
  ASSERT_NE(close, ops.end());
  EXPECT_EQ(std::count(ops.begin(), close, "FindNextFileA"), 9);
  EXPECT_EQ(std::count(close, ops.end(), "FindNextFileA") + std::count(ops.begin(), close, "fopen"), 0);
  // A file is read no further than its first marker, and deleted once.
  EXPECT_EQ(sim::BytesRead(machine, kInf + "\\oem6.inf"), 13u);
  EXPECT_EQ(sim::BytesRead(machine, kInf + "\\oem7.inf"), 21u);
  std::vector<std::string> deleted;
  for (const sim::Call& call : machine.trace().Of("DeleteFileA")) deleted.push_back(call.args[0]);
  EXPECT_EQ(deleted, (std::vector<std::string>{"\"C:\\WINDOWS\\INF\\oem0.inf\"", "\"C:\\WINDOWS\\INF\\oem2.inf\"",
                                               "\"C:\\WINDOWS\\INF\\OEMSETUP.INF\"", "\"C:\\WINDOWS\\INF\\oem6.inf\"",
                                               "\"C:\\WINDOWS\\INF\\oem7.inf\""}));
}

TEST(PurgeMarkedInfFiles, MoreThanTwoHundredNames) {
  sim::Machine machine;
  for (int i = 0; i < 450; ++i) {
    machine.files.WriteFile(kInf + "\\oem" + std::to_string(i) + ".inf", i % 3 == 0 ? "HPPCL5MS.DRV\r\n" : kMarked);
  }
  sim::Activation active(machine);
  PurgeMarkedInfFiles(kInf.c_str(), "oem*.inf", "KB47STAT.EXE");
  for (int i = 0; i < 450; ++i) {
    const std::string name = "oem" + std::to_string(i) + ".inf";
    ASSERT_EQ(machine.files.Exists(kInf + "\\" + name), i % 3 == 0) << name;
  }
}

TEST(PurgeMarkedInfFiles, AReadErrorEndsTheFile) {
  sim::Machine machine;
  machine.files.WriteFile(kInf + "\\oem0.inf", "a KB47STAT.EXE\r\n");
  machine.files.WriteFile(kInf + "\\oem1.inf", kMarked);
  machine.faults().FailNth("fgetc", 2);  // the byte after "a" in oem0.inf
  sim::Activation active(machine);
  PurgeMarkedInfFiles(kInf.c_str(), "oem*.inf", "KB47STAT.EXE");
  EXPECT_TRUE(machine.files.Exists(kInf + "\\oem0.inf"));
  EXPECT_FALSE(machine.files.Exists(kInf + "\\oem1.inf"));
  EXPECT_EQ(sim::BytesRead(machine, kInf + "\\oem0.inf"), 1u);
}

TEST(InstalledFiles, UnknownOrOverlongDirectoriesAreSkipped) {
  const std::string longWindows = "C:\\" + std::string(100, 'W') + "\\" + std::string(136, 'X');  // 240
  struct Case {
    const char* what;
    std::string system, windows;
    WORD build;
    std::vector<std::string> untouched;  // what a path at a root or a cut path would have named
  } cases[] = {
      {"no system directory", "", "C:\\WINDOWS", 1998, {"C:\\KB4732.DLL", "C:\\KB47STAT.EXE"}},
      {"no Windows directory, later build", "C:\\WINDOWS\\SYSTEM", "", 1998, {"C:\\INF\\OTHER\\KARSENBYKBRK514.INF"}},
      {"no Windows directory, first release", "C:\\WINDOWS\\SYSTEM", "", 950, {"C:\\INF\\oem0.inf"}},
      {"a Windows directory too long for the INF name",
       "C:\\WINDOWS\\SYSTEM",
       longWindows,
       1998,
       {longWindows + "\\INF\\OTHER\\KARSENBY"}},
      {"a system directory too long for the names",
       std::string(longWindows) + "\\SYSTEM\\SYS",
       "C:\\WINDOWS",
       1998,
       {longWindows + "\\SYSTEM\\SYS\\KB47", longWindows + "\\SYSTEM\\SYS\\KB47STAT"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Machine machine;
    for (const std::string& path : c.untouched) machine.files.WriteFile(path, kMarked);
    machine.files.WriteFile("C:\\WINDOWS\\SYSTEM\\KB47RK.DRV", "x");
    sim::Activation active(machine);
    RemoveInstalledFiles(c.system.c_str(), c.windows.c_str(), c.build);
    for (const std::string& path : c.untouched) EXPECT_TRUE(machine.files.Exists(path)) << path;
    // What does not need the missing directory still happens.
    EXPECT_EQ(machine.files.Exists("C:\\WINDOWS\\SYSTEM\\KB47RK.DRV"), c.system != "C:\\WINDOWS\\SYSTEM");
  }
}

}  // namespace
