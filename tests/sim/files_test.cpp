// The simulated drives: path rules, generated 8.3 aliases, the Win32 refusals of deletion, entry
// order, deep copies, machine-image drives and attributes, and speed in a big folder.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "sim/errors.h"
#include "sim/files.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const std::vector<sim::DirEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& entry : entries) names.push_back(entry.name);
  return names;
}

std::string AliasOf(const sim::FileSystem& files, const std::string& folder, const std::string& name) {
  for (const auto& entry : files.List(folder))
    if (entry.name == name) return entry.shortName;
  return "<missing>";
}

// A folder of the Linux disk that is removed with the test.
struct TempDir {
  fs::path path;
  TempDir() {
    path = fs::temp_directory_path() /
           ("rk514_files_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
};

void WriteLinuxFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(FileSystemPaths, ResolveWithoutCaseAndKeepTheCaseOfCreation) {
  sim::FileSystem files;
  files.WriteFile("C:\\Windows\\System\\Kb47Rk.Drv", "driver");
  EXPECT_EQ(files.ReadFile("c:\\WINDOWS\\system\\KB47RK.DRV"), "driver");
  EXPECT_EQ(files.LongPath("c:\\WINDOWS\\SYSTEM\\kb47rk.drv"), "C:\\Windows\\System\\Kb47Rk.Drv");
  // Writing through another spelling changes the bytes, not the name.
  files.WriteFile("C:\\WINDOWS\\SYSTEM\\KB47RK.DRV", "new");
  EXPECT_EQ(Names(files.List("C:\\windows\\system")), std::vector<std::string>{"Kb47Rk.Drv"});
  EXPECT_EQ(files.ReadFile("C:\\Windows\\System\\Kb47Rk.Drv"), "new");
}

TEST(FileSystemPaths, RootedPathsAreOnDriveC) {
  sim::FileSystem files;
  files.MakeDirectory("D:\\ZANTEROVA RK514");
  files.WriteFile("\\ZANTEROVA RK514\\How do I for RK514.LNK", "link");
  EXPECT_TRUE(files.IsFile("C:\\zanterova rk514\\how do i for rk514.lnk"));
  EXPECT_TRUE(files.List("D:\\ZANTEROVA RK514").empty());
  EXPECT_EQ(files.LongPath("\\zanterova rk514"), "C:\\ZANTEROVA RK514");
}

TEST(FileSystemPaths, EmptyComponentsAreSkipped) {
  sim::FileSystem files;
  files.WriteFile("C:\\A\\B.TXT", "x");
  EXPECT_TRUE(files.IsDirectory("C:\\A\\"));
  EXPECT_TRUE(files.IsFile("C:\\A\\\\B.TXT"));
  EXPECT_TRUE(files.IsDirectory("C:\\"));
}

// Setting up a machine takes full paths only; a path from a program is read as Windows reads it,
// and every form gets the answer Windows gives.
TEST(FileSystemPaths, SetUpTakesFullPathsAndProgramPathsGetWindowsAnswers) {
  sim::FileSystem files;
  for (const char* path : {"C:/WINDOWS", "WINDOWS\\SYSTEM", "C:WINDOWS", "\\\\server\\share\\x", "",
                           "C:\\WINDOWS\\..\\X", "C:\\A*B", "C:\\name."}) {
    SCOPED_TRACE(path);
    EXPECT_THROW(files.MakeDirectory(path), sim::Unmodelled);
  }
  files.WriteFile("C:\\WINDOWS\\SYSTEM\\KB47RK.DRV", "driver");
  const struct {
    const char* path;
    bool exists;
    std::uint32_t deleteError;
  } cases[] = {
      {"C:/WINDOWS/SYSTEM/KB47RK.DRV", true, 0},
      {"C:\\WINDOWS\\..\\WINDOWS\\SYSTEM\\KB47RK.DRV", true, 0},
      {"C:\\..\\WINDOWS\\.\\SYSTEM\\KB47RK.DRV", true, 0},  // ".." at the root stays there
      {"WINDOWS\\SYSTEM\\KB47RK.DRV", true, 0},               // the current directory is the root of C:
      {"C:WINDOWS\\SYSTEM\\KB47RK.DRV", true, 0},
      {"C:\\WINDOWS\\SYSTEM\\KB47RK.DRV. ", true, 0},
      {"%windir%\\SYSTEM\\KB47RK.DRV", false, 3},  // taken as the name it is
      {"\\\\server\\share\\KB47RK.DRV", false, 53},
      {"C:\\WINDOWS\\SYSTEM\\KB47*.DRV", false, 123},
      {"C:\\WINDOWS\\SYSTEM\\...\\KB47RK.DRV", false, 123},
      {"", false, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    sim::FileSystem copy = files;
    EXPECT_EQ(copy.Exists(c.path), c.exists);
    EXPECT_EQ(copy.Delete(c.path), c.deleteError);
    EXPECT_EQ(copy.Exists("C:\\WINDOWS\\SYSTEM\\KB47RK.DRV"), c.deleteError != 0);
  }
}

struct AliasCase {
  const char* longName;
  const char* alias;  // "" for a name that is its own 8.3 name
};

TEST(FileSystemAliases, MadeAsWindows95MakesThem) {
  // Created in this order in one folder; each later name sees the aliases before it.
  const AliasCase cases[] = {
      {"oemx.info", "OEMX~1.INF"},
      {"Troubleshooting for RK514.LNK", "TROUBL~1.LNK"},
      {"Troubleshooting again.LNK", "TROUBL~2.LNK"},
      {"oem0.inf", ""},
      {"Examples.Txt", ""},
      {"KB47STAT.EXE", ""},
      {"My Doc.txt", "MYDOC~1.TXT"},
      {"a+b;c.txt", "ABC~1.TXT"},
      {"This is a really long filename.123.456.789.txt", "THISIS~1.TXT"},
      {"archive.tar.gz", "ARCHIV~1.GZ"},
      {".profile", "PROFIL~1"},
      {"ABCDEFGHI", "ABCDEF~1"},
      {"README.TEXT", "README~1.TEX"},
      {"two.dots.x", "TWODOT~1.X"},
  };
  sim::FileSystem files;
  for (const auto& c : cases) files.WriteFile(std::string("C:\\F\\") + c.longName, "");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.longName);
    EXPECT_EQ(AliasOf(files, "C:\\F", c.longName), c.alias);
  }
}

TEST(FileSystemAliases, TenthAliasKeepsFiveCharacters) {
  sim::FileSystem files;
  for (int i = 1; i <= 10; ++i) files.WriteFile("C:\\F\\Longname number " + std::to_string(i) + ".txt", "");
  EXPECT_EQ(AliasOf(files, "C:\\F", "Longname number 9.txt"), "LONGNA~9.TXT");
  EXPECT_EQ(AliasOf(files, "C:\\F", "Longname number 10.txt"), "LONGN~10.TXT");
}

TEST(FileSystemAliases, LowestFreeNumberAndNamesAlreadyTaken) {
  sim::FileSystem files;
  files.WriteFile("C:\\F\\TROUBL~1.LNK", "an 8.3 name of its own");
  files.WriteFile("C:\\F\\Troubleshooting one.LNK", "");
  files.WriteFile("C:\\F\\Troubleshooting two.LNK", "");
  EXPECT_EQ(AliasOf(files, "C:\\F", "Troubleshooting one.LNK"), "TROUBL~2.LNK");
  EXPECT_EQ(AliasOf(files, "C:\\F", "Troubleshooting two.LNK"), "TROUBL~3.LNK");
  ASSERT_EQ(files.Delete("C:\\F\\Troubleshooting one.LNK"), 0u);
  files.WriteFile("C:\\F\\Troubleshooting three.LNK", "");
  EXPECT_EQ(AliasOf(files, "C:\\F", "Troubleshooting three.LNK"), "TROUBL~2.LNK");
  // Aliases belong to a folder: another folder starts again at ~1.
  files.WriteFile("C:\\G\\Troubleshooting one.LNK", "");
  EXPECT_EQ(AliasOf(files, "C:\\G", "Troubleshooting one.LNK"), "TROUBL~1.LNK");
}

TEST(FileSystemAliases, PathsResolveThroughAliases) {
  sim::FileSystem files;
  files.WriteFile("C:\\Program Files\\Some Long Name.txt", "bytes");
  EXPECT_EQ(files.ReadFile("C:\\PROGRA~1\\somelo~1.txt"), "bytes");
  EXPECT_EQ(files.LongPath("C:\\PROGRA~1\\SOMELO~1.TXT"), "C:\\Program Files\\Some Long Name.txt");
  EXPECT_EQ(files.Delete("C:\\progra~1\\SOMELO~1.TXT"), 0u);
  EXPECT_TRUE(files.List("C:\\Program Files").empty());
}

// ---- Deletion.

sim::FileSystem RefusalMachine() {
  sim::FileSystem files;
  files.WriteFile("C:\\D\\plain.txt", "p");
  files.WriteFile("C:\\D\\readonly.txt", "r", {.readOnly = true});
  files.WriteFile("C:\\D\\busy.txt", "b", {.inUse = true});
  files.WriteFile("C:\\D\\hidden.txt", "h", {.hidden = true, .system = true});
  files.MakeDirectory("C:\\D\\Empty");
  files.WriteFile("C:\\D\\Full\\one.txt", "1");
  files.MakeDirectory("C:\\D\\Locked");
  files.SetAttributes("C:\\D\\Locked", {.readOnly = true});
  files.MakeDirectory("C:\\D\\Busy");
  files.SetAttributes("C:\\D\\Busy", {.inUse = true});
  return files;
}

struct RemovalCase {
  const char* path;
  std::uint32_t error;
};

// Runs remove for each case on a fresh RefusalMachine: with error 0 the entry is gone from C:\D
// and nothing else is; with any other error nothing changes.
template <typename Remove>
void ExpectRemovals(std::span<const RemovalCase> cases, Remove remove) {
  for (const RemovalCase& c : cases) {
    SCOPED_TRACE(c.path);
    sim::FileSystem files = RefusalMachine();
    const sim::FileSystem before = files;
    EXPECT_EQ(remove(files, c.path), c.error);
    if (c.error == 0) {
      EXPECT_FALSE(files.Exists(c.path));
      EXPECT_EQ(files.List("C:\\D").size(), before.List("C:\\D").size() - 1);
    } else {
      EXPECT_TRUE(files == before);
    }
  }
}

TEST(FileSystemDelete, RefusesAsWindowsDoes) {
  const RemovalCase cases[] = {
      {"C:\\D\\plain.txt", 0},    {"C:\\D\\hidden.txt", 0},  // hidden and system files delete like any other
      {"C:\\D\\missing.txt", 2},  {"C:\\D\\No folder\\plain.txt", 3},
      {"C:\\D\\plain.txt\\x", 3},  // a file on the way is no folder
      {"E:\\plain.txt", 3},        // no such drive
      {"C:\\D\\Empty", 5},        {"C:\\", 5},
      {"C:\\D\\readonly.txt", 5}, {"C:\\D\\busy.txt", 32},
  };
  ExpectRemovals(cases, [](sim::FileSystem& files, const char* path) { return files.Delete(path); });
}

TEST(FileSystemRemoveDirectory, RemovesOnlyAnEmptyFolder) {
  const RemovalCase cases[] = {
      {"C:\\D\\Empty", 0},
      {"C:\\d\\empty\\", 0},
      {"C:\\D\\Missing", 2},
      {"C:\\D\\No folder\\Empty", 3},
      {"C:\\D\\plain.txt", 267},
      {"C:\\D\\Full", 145},
      {"C:\\D\\Locked", 5},
      {"C:\\D\\Busy", 32},
      {"C:\\", 5},
  };
  ExpectRemovals(cases, [](sim::FileSystem& files, const char* path) { return files.RemoveDirectory(path); });
}

TEST(FileSystemWrites, AppendAndReplace) {
  sim::FileSystem files = RefusalMachine();
  EXPECT_EQ(files.Append("C:\\D\\plain.txt", "+more"), 0u);
  EXPECT_EQ(files.ReadFile("C:\\D\\plain.txt"), "p+more");
  EXPECT_EQ(files.Append("C:\\D\\new.txt", "x"), 2u);
  EXPECT_FALSE(files.Exists("C:\\D\\new.txt"));
  EXPECT_EQ(files.Append("C:\\D\\readonly.txt", "x"), 5u);
  EXPECT_EQ(files.Append("C:\\D\\busy.txt", "x"), 32u);

  EXPECT_EQ(files.Replace("C:\\D\\new.txt", "fresh"), 0u);
  EXPECT_EQ(files.ReadFile("C:\\D\\new.txt"), "fresh");
  EXPECT_EQ(files.Replace("C:\\D\\HIDDEN.TXT", "over"), 0u);
  EXPECT_EQ(files.ReadFile("C:\\D\\hidden.txt"), "over");
  EXPECT_TRUE(files.Attributes("C:\\D\\hidden.txt")->hidden);
  EXPECT_EQ(files.Replace("C:\\D\\readonly.txt", "x"), 5u);
  EXPECT_EQ(files.Replace("C:\\D\\Empty", "x"), 5u);
  EXPECT_EQ(files.Replace("C:\\D\\Nowhere\\x.txt", "x"), 3u);
  EXPECT_EQ(files.ReadFile("C:\\D\\readonly.txt"), "r");
  EXPECT_FALSE(files.ReadFile("C:\\D\\Empty").has_value());
}

TEST(FileSystemOrder, EntriesComeInCreationOrder) {
  sim::FileSystem files;
  for (const char* name : {"oem2.inf", "oem10.inf", "Oem0.inf", "SUB", "oem1.inf"})
    files.WriteFile(std::string("C:\\INF\\") + name, "");
  ASSERT_EQ(files.Delete("C:\\INF\\oem10.inf"), 0u);
  files.WriteFile("C:\\INF\\oem10.inf", "again");
  EXPECT_EQ(Names(files.List("C:\\INF")),
            (std::vector<std::string>{"oem2.inf", "Oem0.inf", "SUB", "oem1.inf", "oem10.inf"}));
}

TEST(FileSystemCopies, AreDeepAndCompareByContent) {
  sim::FileSystem original;
  original.WriteFile("C:\\A\\Long file name.txt", "one");
  sim::FileSystem copy = original;
  EXPECT_TRUE(copy == original);
  EXPECT_EQ(AliasOf(copy, "C:\\A", "Long file name.txt"), "LONGFI~1.TXT");
  copy.WriteFile("C:\\A\\Long file name.txt", "two");
  EXPECT_FALSE(copy == original);
  EXPECT_EQ(original.ReadFile("C:\\A\\long file name.txt"), "one");
  copy = original;
  EXPECT_TRUE(copy == original);
  copy.SetAttributes("C:\\A", {.hidden = true});
  EXPECT_FALSE(copy == original);

  // Letter case of a name counts; so does an empty folder.
  sim::FileSystem other;
  other.WriteFile("C:\\a\\Long file name.txt", "one");
  EXPECT_FALSE(other == original);
  sim::FileSystem withFolder = original;
  withFolder.MakeDirectory("C:\\A\\Empty");
  EXPECT_FALSE(withFolder == original);
}

// ---- Machine image.

TEST(FileSystemImage, DrivesAndAttributesRoundTrip) {
  TempDir dir;
  sim::FileSystem files;
  const std::string binary("MZ\0\x1A\r\n\xff end", 11);
  files.WriteFile("C:\\WINDOWS\\SYSTEM\\KB47RK.DRV", binary, {.readOnly = true, .system = true});
  files.WriteFile("C:\\WINDOWS\\Start Menu\\Programs\\ZANTEROVA RK514\\RK514 Printer Monitor.LNK", "lnk",
                  {.inUse = true});
  files.WriteFile("C:\\WINDOWS\\INF\\oem0.inf", "[Version]\r\n");
  files.MakeDirectory("C:\\Empty Folder");
  files.SetAttributes("C:\\Empty Folder", {.hidden = true});
  files.WriteFile("D:\\data.bin", "");

  files.SaveDrives(dir.path / "drives");
  EXPECT_TRUE(fs::is_regular_file(dir.path / "drives" / "C" / "WINDOWS" / "Start Menu" / "Programs" /
                                  "ZANTEROVA RK514" / "RK514 Printer Monitor.LNK"));
  std::ofstream(dir.path / "attributes.txt", std::ios::binary) << files.AttributesText();

  sim::FileSystem loaded;
  loaded.LoadDrives(dir.path / "drives");
  loaded.LoadAttributes(dir.path / "attributes.txt");
  EXPECT_TRUE(loaded == files);
  EXPECT_EQ(loaded.ReadFile("C:\\WINDOWS\\SYSTEM\\KB47RK.DRV"), binary);
  EXPECT_EQ(loaded.AttributesText(), files.AttributesText());
  EXPECT_EQ(loaded.Drives(), (std::vector<char>{'C', 'D'}));

  // Saving again over the same folder leaves no stale file behind.
  ASSERT_EQ(loaded.Delete("C:\\WINDOWS\\INF\\oem0.inf"), 0u);
  loaded.SaveDrives(dir.path / "drives");
  EXPECT_FALSE(fs::exists(dir.path / "drives" / "C" / "WINDOWS" / "INF" / "oem0.inf"));
}

TEST(FileSystemImage, AttributesTextFormat) {
  sim::FileSystem files;
  files.WriteFile("C:\\A\\one.txt", "", {.readOnly = true, .inUse = true});
  files.WriteFile("C:\\A\\two.txt", "");
  files.WriteFile("C:\\A\\three.txt", "", {.hidden = true, .system = true});
  EXPECT_EQ(files.AttributesText(), "R--U C:\\A\\one.txt\n-HS- C:\\A\\three.txt\n");
}

TEST(FileSystemImage, LoadIsAllOrNothing) {
  struct BadImage {
    const char* what;
    std::vector<std::string> files;  // relative to drives/
    const char* named;               // part of the path the error must name
  };
  const BadImage cases[] = {
      {"names that differ only in case", {"C/WINDOWS/win.ini", "C/WINDOWS/WIN.INI"}, "WIN"},
      {"a folder that is no drive", {"C/x.txt", "CD/y.txt"}, "CD"},
      {"a name Windows refuses", {"C/what?.txt"}, "what?.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    for (const auto& file : c.files) WriteLinuxFile(dir.path / "drives" / file, "x");
    sim::FileSystem files;
    files.WriteFile("C:\\KEEP.TXT", "kept");
    const sim::FileSystem before = files;
    try {
      files.LoadDrives(dir.path / "drives");
      ADD_FAILURE() << "no ImageError";
    } catch (const sim::ImageError& error) {
      EXPECT_NE(std::string(error.what()).find(c.named), std::string::npos) << error.what();
    }
    EXPECT_TRUE(files == before);
  }
}

TEST(FileSystemImage, MalformedAttributesLines) {
  struct BadLine {
    const char* line;
    const char* reason;
  };
  const BadLine cases[] = {
      {"RHS C:\\A\\one.txt", "expected four flags"},
      {"XHSU C:\\A\\one.txt", "expected four flags"},
      {"HR-- C:\\A\\one.txt", "expected four flags"},
      {"R---C:\\A\\one.txt", "expected four flags"},
      {"R--- ", "expected four flags"},
      {"R--- C:\\A\\missing.txt", "no such file"},
      {"R--- A\\one.txt", "not a Windows path"},
      {"R--- C:\\A\\ONE.TXT", "listed twice"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    TempDir dir;
    // The first line is good; the bad second line must keep it from being applied.
    WriteLinuxFile(dir.path / "attributes.txt", std::string("-H-- C:\\A\\one.txt\r\n") + c.line + "\r\n");
    sim::FileSystem files;
    files.WriteFile("C:\\A\\one.txt", "");
    try {
      files.LoadAttributes(dir.path / "attributes.txt");
      ADD_FAILURE() << "no ImageError";
    } catch (const sim::ImageError& error) {
      const std::string message = error.what();
      EXPECT_EQ(message.rfind("attributes.txt:2: ", 0), 0u) << message;
      EXPECT_NE(message.find(c.reason), std::string::npos) << message;
    }
    EXPECT_FALSE(files.Attributes("C:\\A\\one.txt")->hidden);
  }
}

// ---- Speed: a scan and an emptying of a big folder stay linear.

// Measured in processor time: the build machine is shared, and waiting for a core is no fault.
// Linear work takes about a second in the sanitized build on a busy machine (1.05 s seen there);
// quadratic work on 10,000 entries takes many times that, so the bound is 3 s.
TEST(FileSystemSpeed, TenThousandFilesScannedAndEmptied) {
  const std::clock_t start = std::clock();
  sim::FileSystem files;
  std::vector<std::string> paths;
  for (int i = 0; i < 10000; ++i) {
    // Half carry long names that share one alias basis: the worst case for ~N.
    paths.push_back("C:\\BIG\\" + (i % 2 == 0 ? "OEM" + std::to_string(i) + ".INF"
                                              : "Long printer file " + std::to_string(i) + ".inf"));
    files.WriteFile(paths.back(), "x");
  }
  EXPECT_EQ(files.Find("C:\\BIG\\*.*").size(), 10002u);  // with "." and ".."
  EXPECT_EQ(files.Find("C:\\BIG\\long*").size(), 5000u);
  for (const auto& path : paths) ASSERT_TRUE(files.Exists(path)) << path;
  for (const auto& path : paths) ASSERT_EQ(files.Delete(path), 0u) << path;
  EXPECT_EQ(files.RemoveDirectory("C:\\BIG"), 0u);
  const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  EXPECT_LT(seconds, 3.0) << "a folder of 10,000 entries is handled in quadratic time";
}

}  // namespace
