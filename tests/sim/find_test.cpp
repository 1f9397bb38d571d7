// Directory search and the KERNEL32 calls on the simulated drives: the wildcard rules, what a
// search yields and in which order, FindFirstFileA/FindNextFileA/FindClose with their errors,
// DeleteFileA/RemoveDirectoryA, the injected faults, and the lstr string calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/machine.h"
#include "win32.h"

namespace {

struct MatchCase {
  const char* pattern;
  const char* name;
  bool matches;
};

TEST(WildcardMatch, WindowsRules) {
  const MatchCase cases[] = {
      {"oem*.inf", "oem0.inf", true},
      {"oem*.inf", "OEM12.INF", true},  // letter case ignored
      {"oem*.inf", "oem.inf", true},    // * may match nothing
      {"oem*.inf", "oem0.inf.bak", false},
      {"oem*.inf", "oem0.info", false},  // on its long name; its alias OEM0~1.INF matches
      {"oem*.inf", "myoem0.inf", false},
      {"oem*.inf", "oem0.in", false},
      {"*.*", "README", true},  // "*.*" matches every name, with a dot or without
      {"*.*", "a.b.c", true},
      {"*.*", ".", true},
      {"*", "Troubleshooting for RK514.LNK", true},
      {"*.LNK", "Troubleshooting for RK514.LNK", true},
      {"oem?.inf", "oem5.inf", true},
      {"oem?.inf", "oem.inf", true},  // a ? before a dot matches nothing at the dot
      {"oem?.inf", "oem12.inf", false},
      {"oem??", "oem", true},  // ?s at the end match nothing at the end
      {"oem??", "oem1", true},
      {"oem??", "oem123", false},
      {"o?m.inf", "om.inf", false},  // a ? inside a name needs one character
      {"o?m.inf", "o.m.inf", true},  // ... and that may be a dot
      {"KB47*.?LL", "KB47TN16.DLL", true},
      {"*STAT.EXE", "kb47stat.exe", true},
      {"*.e", "a.exe", false},
      {"x.*", "x", true},
      {"x.?", "x", true},
      {"x.?", "xy", false},
      {"wininit.ini", "WININIT.INI", true},
      {"wininit.ini", "wininit.ini2", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " vs " + c.name);
    EXPECT_EQ(sim::FileSystem::WildcardMatch(c.pattern, c.name), c.matches);
  }
}

class FindTest : public ::testing::Test {
 protected:
  sim::Machine machine;
  sim::Activation active{machine};

  void SetUp() override {
    auto& files = machine.files;
    files.WriteFile("C:\\WINDOWS\\INF\\oem2.inf", "KB47STAT.EXE", {.readOnly = true});
    files.WriteFile("C:\\WINDOWS\\INF\\mdmgen.inf", "modem");
    files.WriteFile("C:\\WINDOWS\\INF\\oemx.info", "long extension");
    files.MakeDirectory("C:\\WINDOWS\\INF\\OEM9.INF");  // a folder with a matching name
    files.WriteFile("C:\\WINDOWS\\INF\\Oem0.inf", std::string(70000, 'x'), {.hidden = true});
  }

  std::vector<std::string> FoundNames(const char* pattern) {
    std::vector<std::string> names;
    for (const auto& entry : machine.files.Find(pattern)) names.push_back(entry.name);
    return names;
  }

  // Every name FindFirstFileA/FindNextFileA yield, and the last error at the end.
  std::vector<std::string> Enumerate(const char* pattern, DWORD* endError) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern, &data);
    if (search == INVALID_HANDLE_VALUE) {
      *endError = machine.lastError;
      return names;
    }
    do names.push_back(data.cFileName);
    while (FindNextFileA(search, &data));
    *endError = machine.lastError;
    EXPECT_TRUE(FindClose(search));
    return names;
  }
};

TEST_F(FindTest, YieldsMatchesInCreationOrderWithAliasesAndFolders) {
  EXPECT_EQ(FoundNames("C:\\WINDOWS\\INF\\oem*.inf"),
            (std::vector<std::string>{"oem2.inf", "oemx.info", "OEM9.INF", "Oem0.inf"}));
  EXPECT_EQ(FoundNames("\\windows\\inf\\OEMX~1.INF"), std::vector<std::string>{"oemx.info"});
  EXPECT_EQ(FoundNames("C:\\WINDOWS\\INF\\*"),
            (std::vector<std::string>{".", "..", "oem2.inf", "mdmgen.inf", "oemx.info", "OEM9.INF", "Oem0.inf"}));
  EXPECT_EQ(FoundNames("C:\\WINDOWS\\INF\\oem?.inf"), (std::vector<std::string>{"oem2.inf", "OEM9.INF", "Oem0.inf"}));
  // The root of a drive holds no "." or "..".
  EXPECT_EQ(FoundNames("C:\\*"), std::vector<std::string>{"WINDOWS"});
}

TEST_F(FindTest, SearchErrorsTellAMissingFolderFromNoMatch) {
  struct Case {
    const char* pattern;
    std::uint32_t error;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"C:\\WINDOWS\\wininit.ini", 2, {}},
      {"C:\\WINDOWS\\INF\\OEM2.INF", 0, {"oem2.inf"}},  // an exact name: an existence test
      {"C:\\WINDOWS\\INF", 0, {"INF"}},                 // a folder exists the same way
      {"C:\\WINDOWS\\INF\\*.pnf", 2, {}},
      {"C:\\WINDOWS\\INF\\", 2, {}},
      {"C:\\WINDOWS\\Missing\\oem*.inf", 3, {}},
      {"C:\\WINDOWS\\INF\\oem2.inf\\*", 3, {}},  // a file is no folder to search
      {"Q:\\*.*", 3, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    DWORD error = 0;
    machine.lastError = 0;
    EXPECT_EQ(Enumerate(c.pattern, &error), c.names);
    EXPECT_EQ(error, c.error == 0 ? static_cast<DWORD>(ERROR_NO_MORE_FILES) : c.error);
  }
}

TEST_F(FindTest, FindDataCarriesNamesSizeAndAttributes) {
  WIN32_FIND_DATAA data;
  std::memset(&data, 0x55, sizeof data);
  HANDLE search = FindFirstFileA("C:\\WINDOWS\\INF\\oem*.inf", &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  struct Expected {
    const char* name;
    const char* alias;
    DWORD attributes;
    DWORD size;
  };
  const Expected expected[] = {
      {"oem2.inf", "", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY, 12},
      {"oemx.info", "OEMX~1.INF", FILE_ATTRIBUTE_ARCHIVE, 14},
      {"OEM9.INF", "", FILE_ATTRIBUTE_DIRECTORY, 0},
      {"Oem0.inf", "", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN, 70000},
  };
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(expected[i].name);
    if (i > 0) {
      ASSERT_TRUE(FindNextFileA(search, &data));
    }
    EXPECT_STREQ(data.cFileName, expected[i].name);
    EXPECT_STREQ(data.cAlternateFileName, expected[i].alias);
    EXPECT_EQ(data.dwFileAttributes, expected[i].attributes);
    EXPECT_EQ(data.nFileSizeLow, expected[i].size);
    EXPECT_EQ(data.nFileSizeHigh, 0u);
  }
  EXPECT_FALSE(FindNextFileA(search, &data));
  EXPECT_EQ(machine.lastError, static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_FALSE(FindNextFileA(search, &data));  // the end stays the end
  EXPECT_TRUE(FindClose(search));
}

TEST_F(FindTest, HandlesThatAreNotOpen) {
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA("C:\\WINDOWS\\INF\\*.inf", &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(FindClose(search));
  EXPECT_FALSE(FindClose(search));
  EXPECT_EQ(machine.lastError, static_cast<DWORD>(ERROR_INVALID_HANDLE));
  machine.lastError = 0;
  EXPECT_FALSE(FindNextFileA(search, &data));
  EXPECT_EQ(machine.lastError, static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
}

TEST_F(FindTest, TwoSearchesRunSideBySide) {
  WIN32_FIND_DATAA first, second;
  HANDLE a = FindFirstFileA("C:\\WINDOWS\\INF\\oem*.inf", &first);
  HANDLE b = FindFirstFileA("C:\\WINDOWS\\INF\\m*", &second);
  ASSERT_NE(a, INVALID_HANDLE_VALUE);
  ASSERT_NE(b, INVALID_HANDLE_VALUE);
  EXPECT_NE(a, b);
  EXPECT_STREQ(second.cFileName, "mdmgen.inf");
  ASSERT_TRUE(FindNextFileA(a, &first));
  EXPECT_STREQ(first.cFileName, "oemx.info");
  EXPECT_FALSE(FindNextFileA(b, &second));
  EXPECT_TRUE(FindClose(a));
  EXPECT_TRUE(FindClose(b));
}

TEST_F(FindTest, DeleteAndRemoveSetTheLastError) {
  machine.files.WriteFile("C:\\WINDOWS\\busy.dll", "", {.inUse = true});
  EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\BUSY.DLL"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\INF\\oem2.inf"));  // read-only
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(RemoveDirectoryA("C:\\WINDOWS\\INF"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\INF\\mdmgen.inf"));
  EXPECT_TRUE(RemoveDirectoryA("c:\\windows\\inf\\oem9.inf"));
  EXPECT_FALSE(machine.files.Exists("C:\\WINDOWS\\INF\\mdmgen.inf"));
  EXPECT_FALSE(machine.files.Exists("C:\\WINDOWS\\INF\\OEM9.INF"));
  EXPECT_EQ(machine.trace().Of("DeleteFileA").back().ToString(), "DeleteFileA(\"C:\\WINDOWS\\INF\\mdmgen.inf\") = 1");
}

TEST_F(FindTest, InjectedFaultsFailAndChangeNothing) {
  const sim::FileSystem before = machine.files;
  machine.faults().FailAll("DeleteFileA");
  machine.faults().FailAll("RemoveDirectoryA");
  EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\INF\\mdmgen.inf"));
  EXPECT_EQ(machine.lastError, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(RemoveDirectoryA("C:\\WINDOWS\\INF\\OEM9.INF"));
  EXPECT_EQ(machine.lastError, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(machine.files == before);

  WIN32_FIND_DATAA data;
  machine.faults().FailNth("FindFirstFileA", 1);
  EXPECT_EQ(FindFirstFileA("C:\\WINDOWS\\INF\\oem*.inf", &data), INVALID_HANDLE_VALUE);
  EXPECT_NE(machine.lastError, 0u);

  // A failed read of the folder: FALSE with an error that is not the end, then the search goes on.
  HANDLE search = FindFirstFileA("C:\\WINDOWS\\INF\\oem*.inf", &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  machine.faults().FailNth("FindNextFileA", 1);
  EXPECT_FALSE(FindNextFileA(search, &data));
  EXPECT_NE(machine.lastError, static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_NE(machine.lastError, 0u);
  ASSERT_TRUE(FindNextFileA(search, &data));
  EXPECT_STREQ(data.cFileName, "oemx.info");

  machine.faults().FailNth("FindClose", 1);
  EXPECT_FALSE(FindClose(search));
  ASSERT_TRUE(FindNextFileA(search, &data));  // still open
  EXPECT_STREQ(data.cFileName, "OEM9.INF");
  EXPECT_TRUE(FindClose(search));
  EXPECT_FALSE(FindNextFileA(search, &data));
}

// ---- Strings.

struct CompareCase {
  const char* a;
  const char* b;
  int cmp;   // sign of lstrcmpA
  int cmpi;  // sign of lstrcmpiA
};

int Sign(int value) { return (value > 0) - (value < 0); }

TEST(StringCalls, CompareAsTheWindowsWordSort) {
  sim::Machine machine;
  sim::Activation active(machine);
  const CompareCase cases[] = {
      {"KB47STAT.EXE", "KB47STAT.EXE", 0, 0},
      {"KB47STAT.EXE", "kb47stat.exe", 1, 0},  // case counts only in lstrcmpA: lower case first
      {"a", "A", -1, 0},
      {"a", "B", -1, -1},  // letters before case, unlike a byte comparison
      {"abc", "abd", -1, -1},
      {"ab", "abc", -1, -1},
      {"", "a", -1, -1},
      {"", "", 0, 0},
      {"1", "a", -1, -1},       // digits before letters
      {"_", "1", -1, -1},       // symbols before digits
      {"co-op", "coop", 1, 1},  // a hyphen weighs nothing at first
      {"co-op", "cop", -1, -1},
      {"KB47STAT.EXE,,,1", "KB47STAT.EXE", 1, 1},
      {nullptr, "a", -1, -1},
      {nullptr, nullptr, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a ? c.a : "NULL") + " vs " + (c.b ? c.b : "NULL"));
    EXPECT_EQ(Sign(lstrcmpA(c.a, c.b)), c.cmp);
    EXPECT_EQ(Sign(lstrcmpA(c.b, c.a)), -c.cmp);
    EXPECT_EQ(Sign(lstrcmpiA(c.a, c.b)), c.cmpi);
    EXPECT_EQ(Sign(lstrcmpiA(c.b, c.a)), -c.cmpi);
  }
}

TEST(StringCalls, CopyAppendLengthAndNoInjectedFailure) {
  sim::Machine machine;
  sim::Activation active(machine);
  for (const char* op : {"lstrcpyA", "lstrcatA", "lstrcmpA", "lstrlenA"}) machine.faults().FailAll(op);
  char buffer[MAX_PATH];
  std::memset(buffer, 'z', sizeof buffer);
  EXPECT_EQ(lstrcpyA(buffer, "C:\\WINDOWS"), buffer);
  EXPECT_EQ(lstrcatA(buffer, "\\wininit.ini"), buffer);
  EXPECT_STREQ(buffer, "C:\\WINDOWS\\wininit.ini");
  EXPECT_EQ(lstrlenA(buffer), 22);
  EXPECT_EQ(lstrcmpA(buffer, "C:\\WINDOWS\\wininit.ini"), 0);
  EXPECT_EQ(lstrcpyA(buffer, ""), buffer);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], ':');  // the copy ends at its NUL
  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_EQ(lstrcpyA(nullptr, "x"), nullptr);
  EXPECT_EQ(lstrcatA(buffer, nullptr), nullptr);
  EXPECT_EQ(machine.trace().Of("lstrcatA").front().ToString(),
            "lstrcatA(\"C:\\WINDOWS\", \"\\wininit.ini\") = \"C:\\WINDOWS\\wininit.ini\"");
}

}  // namespace
