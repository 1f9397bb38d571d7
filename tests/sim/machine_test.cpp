// The simulated PC: the bare Windows 98 machine, the version and directory calls, snapshots and
// SameState, and machine images saved to and loaded from disk.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "sim/machine.h"
#include "win32.h"

namespace {

namespace fs = std::filesystem;
using sim::Machine;

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  explicit TempDir(const std::string& name)
      : path_(fs::temp_directory_path() / (name + "_" + std::to_string(::getpid()))) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void WriteText(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

TEST(Machine, StartsAsABareWindows98Machine) {
  Machine machine;
  EXPECT_EQ(machine.buildNumber, sim::kBuildWin98);
  EXPECT_TRUE(machine.files.IsDirectory("C:\\WINDOWS"));
  EXPECT_TRUE(machine.files.IsDirectory("C:\\WINDOWS\\SYSTEM"));
  EXPECT_FALSE(machine.files.Exists(machine.WinIniPath()));
  EXPECT_TRUE(machine.registry.KeyExists("HKEY_USERS\\.DEFAULT"));
  EXPECT_TRUE(machine.registry.KeyExists("HKEY_CURRENT_USER"));
  EXPECT_TRUE(machine.registry.KeyExists("HKEY_CURRENT_CONFIG"));
  EXPECT_TRUE(machine.registry.KeyExists("HKEY_CLASSES_ROOT"));
  EXPECT_EQ(machine.registry.SubkeyNames("HKEY_LOCAL_MACHINE"), (std::vector<std::string>{"Config", "SOFTWARE"}));
}

TEST(GetVersionExA, ReportsTheReleaseOfTheBuildNumber) {
  struct Case {
    std::uint32_t build;
    DWORD major, minor;
    const char* csd;
  };
  const Case cases[] = {
      {sim::kBuildWin95, 4, 0, ""},      {sim::kBuildWin95Osr2, 4, 0, " B"}, {sim::kBuildWin98, 4, 10, ""},
      {sim::kBuildWin98Se, 4, 10, " A"}, {0xABCD03B6, 0xAB, 0xCD, ""},  // the high word is reported as it is set
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.build);
    Machine machine;
    machine.buildNumber = c.build;
    sim::Activation active(machine);
    OSVERSIONINFOA info;
    std::memset(&info, 0xCC, sizeof info);
    info.dwOSVersionInfoSize = 148;
    ASSERT_EQ(GetVersionExA(&info), TRUE);
    EXPECT_EQ(info.dwOSVersionInfoSize, 148u);
    EXPECT_EQ(info.dwMajorVersion, c.major);
    EXPECT_EQ(info.dwMinorVersion, c.minor);
    EXPECT_EQ(info.dwBuildNumber, c.build);
    EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
    EXPECT_STREQ(info.szCSDVersion, c.csd);
  }
}

TEST(GetVersionExA, RefusesARecordOfAnotherSize) {
  for (DWORD size : {0u, 147u, 156u}) {
    SCOPED_TRACE(size);
    Machine machine;
    sim::Activation active(machine);
    OSVERSIONINFOA info;
    std::memset(&info, 0xCC, sizeof info);
    info.dwOSVersionInfoSize = size;
    EXPECT_EQ(GetVersionExA(&info), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(info.dwBuildNumber, 0xCCCCCCCCu);
    EXPECT_EQ(info.dwMajorVersion, 0xCCCCCCCCu);
  }
}

TEST(DirectoryCalls, ReturnTheLengthWhenThePathFitsAndTheSizeNeededWhenNot) {
  struct Case {
    const char* what;
    bool system;
    std::string path;
    UINT size;
    UINT result;
    bool copied;
  };
  const Case cases[] = {
      {"system, 260", true, "C:\\WINDOWS\\SYSTEM", 260, 17, true},
      {"system, exact fit", true, "C:\\WINDOWS\\SYSTEM", 18, 17, true},
      {"system, no room for the NUL", true, "C:\\WINDOWS\\SYSTEM", 17, 18, false},
      {"system, size 0", true, "C:\\WINDOWS\\SYSTEM", 0, 18, false},
      {"windows, 260", false, "C:\\WINDOWS", 260, 10, true},
      {"windows, one short", false, "C:\\WINDOWS", 10, 11, false},
      {"windows elsewhere", false, "D:\\WIN98", 260, 8, true},
      {"a 259-byte path fills 260", false, "C:\\" + std::string(256, 'W'), 260, 259, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Machine machine;
    (c.system ? machine.systemDirectory : machine.windowsDirectory) = c.path;
    sim::Activation active(machine);
    char buffer[300];
    std::memset(buffer, 'x', sizeof buffer);
    UINT result = c.system ? GetSystemDirectoryA(buffer, c.size) : GetWindowsDirectoryA(buffer, c.size);
    EXPECT_EQ(result, c.result);
    std::string expected(sizeof buffer, 'x');
    if (c.copied) expected.replace(0, c.path.size() + 1, c.path.c_str(), c.path.size() + 1);
    EXPECT_EQ(std::string(buffer, sizeof buffer), expected);
  }
}

TEST(Snapshot, CopiesTheStateAndNothingOfTheRun) {
  Machine machine;
  machine.registry.SetString("HKLM\\Enum\\Root\\printer\\0000", "DeviceDesc", "RK514");
  machine.files.WriteFile("C:\\WINDOWS\\SYSTEM\\KB47MON.DLL", "MZ");
  machine.buildNumber = sim::kBuildWin95;
  {
    sim::Activation active(machine);
    RegFlushKey(HKEY_LOCAL_MACHINE);
  }
  machine.faults().FailAll("RegDeleteKeyA");

  Machine snapshot = machine;
  EXPECT_TRUE(snapshot.SameState(machine));
  EXPECT_TRUE(snapshot.trace().Calls().empty());
  {
    sim::Activation active(snapshot);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum"), ERROR_SUCCESS) << "faults stay with the original";
  }
  EXPECT_FALSE(snapshot.SameState(machine));
  EXPECT_TRUE(machine.registry.KeyExists("HKLM\\Enum\\Root\\printer\\0000"));

  // Assigning a snapshot restores the state and keeps this machine's trace.
  machine = Machine();
  EXPECT_EQ(machine.trace().Calls().size(), 1u);
  EXPECT_TRUE(machine.SameState(Machine()));
}

TEST(Snapshot, SameStateSeesEveryPartOfTheState) {
  struct Case {
    const char* what;
    std::function<void(Machine&)> change;
  };
  const Case cases[] = {
      {"a key", [](Machine& m) { m.registry.CreateKey("HKLM\\Enum"); }},
      {"a value's bytes",
       [](Machine& m) {
         m.registry.SetValue("HKU\\.DEFAULT", "v", {1, {'a'}});
       }},
      {"a value's type",
       [](Machine& m) {
         m.registry.SetValue("HKU\\.DEFAULT", "v", {3, {'b'}});
       }},
      {"the current user", [](Machine& m) { m.registry.SetCurrentUser("Karin"); }},
      {"the current config", [](Machine& m) { m.registry.SetCurrentConfig("0002"); }},
      {"a file", [](Machine& m) { m.files.WriteFile("C:\\WINDOWS\\WIN.INI", ""); }},
      {"a file's bytes", [](Machine& m) { m.files.WriteFile("C:\\WINDOWS\\SYSTEM\\A.DLL", "MZ!"); }},
      {"the build number", [](Machine& m) { m.buildNumber = sim::kBuildWin98Se; }},
      {"the Windows directory", [](Machine& m) { m.windowsDirectory = "C:\\WIN"; }},
      {"the system directory", [](Machine& m) { m.systemDirectory = "C:\\WIN\\SYSTEM"; }},
  };
  Machine base;
  base.registry.SetValue("HKU\\.DEFAULT", "v", {3, {'a'}});
  base.files.WriteFile("C:\\WINDOWS\\SYSTEM\\A.DLL", "MZ");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Machine changed = base;
    c.change(changed);
    EXPECT_FALSE(changed.SameState(base));
    EXPECT_FALSE(base.SameState(changed));
  }
}

// A machine with something in every part of an image.
Machine FullMachine() {
  Machine machine;
  machine.buildNumber = sim::kBuildWin95Osr2;
  machine.windowsDirectory = "C:\\WIN95";
  machine.systemDirectory = "C:\\WIN95\\SYSTEM";
  machine.registry.SetCurrentUser("Karin");
  machine.registry.DeleteKey("HKEY_USERS\\.DEFAULT");  // a bare key gone stays gone
  machine.registry.SetCurrentConfig("0002");
  machine.registry.SetString("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "Programs",
                             "C:\\WIN95\\Start Menu\\Programs");
  machine.registry.SetString("HKLM\\Enum\\Root\\printer\\0000", "DeviceDesc", "ZANTEROVA Karsenby RK514");
  machine.registry.SetValue("HKLM\\Enum\\Root\\printer\\0000", "Raw", {1, {'n', 'o', ' ', 'n', 'u', 'l'}});
  machine.registry.SetDword("HKCC\\System\\CurrentControlSet\\control\\Print\\Printers\\ZANTEROVA Karsenby RK514",
                            "Attributes", 0xA00);
  // This machine's Windows lives elsewhere: nothing of the bare C:\WINDOWS may come back on loading.
  EXPECT_EQ(machine.files.RemoveDirectory("C:\\WINDOWS\\SYSTEM"), 0u);
  EXPECT_EQ(machine.files.RemoveDirectory("C:\\WINDOWS"), 0u);
  machine.files.MakeDirectory("C:\\WIN95\\SYSTEM");
  machine.files.MakeDirectory("C:\\WIN95\\INF\\Empty folder");
  machine.files.WriteFile("C:\\WIN95\\SYSTEM\\KB47MON.DLL", std::string("MZ\0\x1A\r\n", 6), {true, false, true, false});
  machine.files.WriteFile("C:\\WIN95\\INF\\oem3.inf", "[Version]\r\nSignature=\"$CHICAGO$\"\r\n");
  machine.files.MakeDirectory("D:\\Data");
  machine.files.WriteFile("D:\\Data\\Long file name.txt", "on D:", {false, true, false, true});
  return machine;
}

TEST(MachineImage, SaveThenLoadGivesTheSameMachine) {
  TempDir dir("machine_image");
  const Machine original = FullMachine();
  original.SaveImage(dir.path());
  for (const char* file : {"registry.reg", "attributes.txt", "machine.ini", "drives"}) {
    EXPECT_TRUE(fs::exists(dir.path() / file)) << file;
  }
  Machine loaded = Machine::LoadImage(dir.path());
  EXPECT_TRUE(loaded.SameState(original));
  EXPECT_EQ(loaded.registry.ExportRegText(), original.registry.ExportRegText());
  EXPECT_EQ(loaded.files.AttributesText(), original.files.AttributesText());

  // Saving a smaller machine over the same folder leaves nothing of the first behind.
  Machine bare;
  bare.SaveImage(dir.path());
  EXPECT_TRUE(Machine::LoadImage(dir.path()).SameState(bare));
}

TEST(MachineImage, EveryFileIsOptional) {
  TempDir dir("machine_image_optional");
  EXPECT_TRUE(Machine::LoadImage(dir.path()).SameState(Machine()));
  WriteText(dir.path() / "machine.ini", "; Windows 95, first release\r\nBuildNumber=4.00.950\r\n");
  Machine loaded = Machine::LoadImage(dir.path());
  EXPECT_EQ(loaded.buildNumber, sim::kBuildWin95);
  Machine expected;
  expected.buildNumber = sim::kBuildWin95;
  EXPECT_TRUE(loaded.SameState(expected));
}

TEST(MachineImage, RegistrySectionsResolveWithTheImagesCurrentUser) {
  TempDir dir("machine_image_user");
  WriteText(dir.path() / "machine.ini", "[machine]\nCurrentUser=Karin\nCurrentConfig=0003\n");
  WriteText(dir.path() / "registry.reg",
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n\"Who\"=\"Karin\"\r\n\r\n"
            "[HKEY_CURRENT_CONFIG\\System]\r\n");
  Machine loaded = Machine::LoadImage(dir.path());
  EXPECT_TRUE(loaded.registry.KeyExists("HKEY_USERS\\Karin\\Software"));
  EXPECT_TRUE(loaded.registry.KeyExists("HKEY_LOCAL_MACHINE\\Config\\0003\\System"));
  EXPECT_EQ(loaded.registry.CurrentUser(), "Karin");
}

// BuildNumber in hexadecimal with 0x, or as a version in decimal; digits alone could be either.
TEST(MachineImage, BuildNumberSaysItsBase) {
  struct Case {
    const char* value;
    std::optional<std::uint32_t> build;  // none: refused
    const char* hint = "";
  } cases[] = {
      {"0x040003B6", sim::kBuildWin95},
      {"0X40a07ce", sim::kBuildWin98},
      {"0x3B6", 0x3B6},
      {"4.00.950", sim::kBuildWin95},
      {"4.10.1998", sim::kBuildWin98},
      {"4.0.1111", sim::kBuildWin95Osr2},
      {"950", std::nullopt, "write 0x3B6 (build 950) or 4.00.950"},
      {"0950", std::nullopt, "or 0x0950 if build 2384 is meant"},
      {"040003B6", std::nullopt, "write hexadecimal with 0x"},
      {"0x", std::nullopt},
      {"0x1040003B6", std::nullopt},
      {"4.00", std::nullopt},
      {"4..950", std::nullopt},
      {"4.00.65536", std::nullopt},
      {"256.0.950", std::nullopt},
      {"4.00.950.1", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    TempDir dir("machine_image_build");
    WriteText(dir.path() / "machine.ini", std::string("BuildNumber=") + c.value + "\r\n");
    try {
      const Machine loaded = Machine::LoadImage(dir.path());
      ASSERT_TRUE(c.build.has_value()) << "loaded as " << loaded.buildNumber;
      EXPECT_EQ(loaded.buildNumber, *c.build);
    } catch (const sim::ImageError& error) {
      EXPECT_FALSE(c.build.has_value()) << error.what();
      EXPECT_EQ(std::string(error.what()).rfind("machine.ini:1: ", 0), 0u) << error.what();
      EXPECT_NE(std::string(error.what()).find(c.hint), std::string::npos) << error.what();
    }
  }
}

TEST(MachineImage, AMalformedFileNamesTheFileAndLine) {
  struct Case {
    const char* what;
    const char* file;
    std::string text;
    const char* prefix;
  };
  const Case cases[] = {
      {"ini: no =", "machine.ini", "BuildNumber=0x040003B6\r\nWindows\r\n", "machine.ini:2: "},
      {"ini: unknown key", "machine.ini", "Build=1\r\n", "machine.ini:1: "},
      {"ini: key given twice", "machine.ini", "\r\nBuildNumber=0x3B6\r\nBuildNumber=0x3B6\r\n", "machine.ini:3: "},
      {"ini: build too long", "machine.ini", "BuildNumber=0x1040003B6\r\n", "machine.ini:1: "},
      {"ini: build not a number", "machine.ini", "BuildNumber=Windows 98\r\n", "machine.ini:1: "},
      {"ini: relative directory", "machine.ini", "WindowsDirectory=WINDOWS\r\n", "machine.ini:1: "},
      {"ini: trailing backslash", "machine.ini", "SystemDirectory=C:\\WINDOWS\\SYSTEM\\\r\n", "machine.ini:1: "},
      {"ini: user with a backslash", "machine.ini", "CurrentUser=a\\b\r\n", "machine.ini:1: "},
      {"ini: empty config", "machine.ini", "CurrentConfig=\r\n", "machine.ini:1: "},
      {"registry", "registry.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"B\"=hex:1\r\n", "registry.reg:4: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir("machine_image_bad");
    WriteText(dir.path() / c.file, c.text);
    try {
      Machine::LoadImage(dir.path());
      ADD_FAILURE() << "loaded without an error";
    } catch (const sim::ImageError& error) {
      EXPECT_EQ(std::string(error.what()).substr(0, std::strlen(c.prefix)), c.prefix) << error.what();
    }
  }
  EXPECT_THROW(Machine::LoadImage("/nonexistent/machine/image"), sim::ImageError);
}

}  // namespace
