// The simulated registry and its Win32 calls: the aliases, names without letter case, the
// query buffer contract, deletion with the subtree, handles to deleted keys, injected faults.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "sim/machine.h"
#include "win32.h"

namespace {

using sim::Machine;
using sim::Registry;

constexpr unsigned char kFill = 0xCC;  // what a buffer holds before a call

// Opens HKEY_LOCAL_MACHINE\subKey for queries; a failure names the key and the error.
::testing::AssertionResult Opens(const char* subKey, HKEY* key) {
  const LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_QUERY_VALUE, key);
  if (result == ERROR_SUCCESS) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "HKEY_LOCAL_MACHINE\\" << subKey << " did not open: error " << result;
}

TEST(RegistryAliases, EachAliasAndItsTargetSeeTheSameKeys) {
  struct Case {
    const char* user;    // SetCurrentUser, or nullptr for the bare machine's .DEFAULT
    const char* config;  // SetCurrentConfig, or nullptr for 0001
    const char* alias;
    const char* target;
  };
  const Case cases[] = {
      {nullptr, nullptr, "HKEY_CLASSES_ROOT", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes"},
      {nullptr, nullptr, "HKEY_CURRENT_CONFIG", "HKEY_LOCAL_MACHINE\\Config\\0001"},
      {nullptr, nullptr, "HKEY_CURRENT_USER", "HKEY_USERS\\.DEFAULT"},
      {nullptr, nullptr, "HKCR", "HKLM\\SOFTWARE\\Classes"},
      {"Karin", nullptr, "HKEY_CURRENT_USER", "HKEY_USERS\\Karin"},
      {nullptr, "0002", "HKEY_CURRENT_CONFIG", "HKEY_LOCAL_MACHINE\\Config\\0002"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.alias) + " -> " + c.target);
    Registry registry;
    if (c.user) registry.SetCurrentUser(c.user);
    if (c.config) registry.SetCurrentConfig(c.config);
    const std::string viaAlias = std::string(c.alias) + "\\FromAlias";
    const std::string viaTarget = std::string(c.target) + "\\FromTarget";
    registry.SetString(viaAlias, "Written", "alias");
    registry.SetString(viaTarget, "Written", "target");
    EXPECT_TRUE(registry.KeyExists(std::string(c.target) + "\\FromAlias"));
    EXPECT_TRUE(registry.KeyExists(std::string(c.alias) + "\\FromTarget"));
    EXPECT_EQ(registry.Resolve(viaAlias), registry.Resolve(std::string(c.target) + "\\FromAlias"));
    EXPECT_EQ(registry.GetValue(std::string(c.alias) + "\\FromTarget", "Written"),
              registry.GetValue(viaTarget, "Written"));
    EXPECT_TRUE(registry.DeleteKey(std::string(c.alias) + "\\FromTarget"));
    EXPECT_FALSE(registry.KeyExists(viaTarget));
  }
}

TEST(RegistryAliases, Win32CallsOnAnAliasRootReachTheTarget) {
  Machine machine;
  sim::Activation active(machine);
  machine.registry.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{x}", "Name", "shell");
  machine.registry.CreateKey("HKEY_USERS\\.DEFAULT\\Software\\Group");
  machine.registry.CreateKey("HKEY_LOCAL_MACHINE\\Config\\0001\\System\\Printer");

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{X}", 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
  char text[16] = {};
  DWORD size = sizeof text;
  EXPECT_EQ(RegQueryValueExA(key, "name", nullptr, nullptr, reinterpret_cast<LPBYTE>(text), &size), ERROR_SUCCESS);
  EXPECT_STREQ(text, "shell");
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Group"), ERROR_SUCCESS);
  EXPECT_FALSE(machine.registry.KeyExists("HKEY_USERS\\.DEFAULT\\Software\\Group"));
  EXPECT_TRUE(machine.registry.KeyExists("HKEY_USERS\\.DEFAULT\\Software"));
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_CONFIG, "System\\Printer"), ERROR_SUCCESS);
  EXPECT_FALSE(machine.registry.KeyExists("HKEY_LOCAL_MACHINE\\Config\\0001\\System\\Printer"));
}

TEST(RegistryNames, CompareWithoutCaseAndKeepTheCaseTheyWereCreatedWith) {
  Registry registry;
  registry.CreateKey("HKLM\\System\\CurrentControlSet\\control\\Print");
  registry.CreateKey("HKLM\\SYSTEM\\currentcontrolset\\Control\\PRINT\\Monitors");
  registry.SetString("HKLM\\System", "DeviceDesc", "first");
  registry.SetString("HKLM\\system", "DEVICEDESC", "second");

  EXPECT_EQ(registry.SubkeyNames("HKLM"), (std::vector<std::string>{"Config", "SOFTWARE", "System"}));
  EXPECT_EQ(registry.SubkeyNames("hklm\\SYSTEM\\CURRENTCONTROLSET"), std::vector<std::string>{"control"});
  EXPECT_EQ(registry.SubkeyNames("HKLM\\System\\CurrentControlSet\\control\\Print"),
            std::vector<std::string>{"Monitors"});
  // One value, with the name it was first created with and the data written last.
  EXPECT_EQ(registry.ValueNames("HKLM\\System"), std::vector<std::string>{"DeviceDesc"});
  auto value = registry.GetValue("HKEY_LOCAL_MACHINE\\SYSTEM", "devicedesc");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(std::string(value->data.begin(), value->data.end()), std::string("second", 7));
  // Case counts when two registries are compared: a renamed key is a different state.
  Registry other;
  other.CreateKey("HKLM\\SYSTEM\\CurrentControlSet\\control\\Print\\Monitors");
  other.SetString("HKLM\\System", "DeviceDesc", "second");
  EXPECT_FALSE(registry == other);
}

TEST(RegistryNames, OpenAndDeleteFindKeysWhateverTheirCase) {
  Machine machine;
  sim::Activation active(machine);
  machine.registry.CreateKey("HKLM\\Enum\\Root\\Printer\\0000");
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "ENUM\\root\\printer\\0000", 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "enum\\ROOT\\PRINTER"), ERROR_SUCCESS);
  EXPECT_EQ(machine.registry.SubkeyNames("HKLM\\Enum"), std::vector<std::string>{"Root"});
}

// RegQueryValueExA's buffer contract, for values of each shape.
TEST(RegQueryValueExA, CopiesWhatFitsAndReportsTheSizeOfWhatDoesNot) {
  struct Case {
    const char* name;
    std::uint32_t type;
    std::vector<std::uint8_t> stored;
    bool nullData;
    DWORD size;
    LONG result;
    DWORD sizeAfter;
    bool copied;  // the buffer holds the stored bytes, followed by untouched fill
  };
  const std::vector<std::uint8_t> printer = {'R', 'K', '5', '1', '4', 0};
  const std::vector<std::uint8_t> noNul = {'R', 'K', '5'};
  const std::vector<std::uint8_t> dword = {0x0a, 0, 0, 0};
  const Case cases[] = {
      {"string, large buffer", REG_SZ, printer, false, 260, ERROR_SUCCESS, 6, true},
      {"string, exact fit with its NUL", REG_SZ, printer, false, 6, ERROR_SUCCESS, 6, true},
      {"string, no room for its NUL", REG_SZ, printer, false, 5, ERROR_MORE_DATA, 6, false},
      {"string, size 0", REG_SZ, printer, false, 0, ERROR_MORE_DATA, 6, false},
      {"string, size only", REG_SZ, printer, true, 0, ERROR_SUCCESS, 6, false},
      {"stored without a NUL", REG_SZ, noNul, false, 260, ERROR_SUCCESS, 3, true},
      {"stored without a NUL, exact fit", REG_SZ, noNul, false, 3, ERROR_SUCCESS, 3, true},
      {"dword", REG_DWORD, dword, false, 4, ERROR_SUCCESS, 4, true},
      {"dword, too small", REG_DWORD, dword, false, 3, ERROR_MORE_DATA, 4, false},
      {"empty binary", REG_BINARY, {}, false, 0, ERROR_SUCCESS, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Machine machine;
    sim::Activation active(machine);
    machine.registry.SetValue("HKLM\\Enum\\Root\\printer\\0000", "DeviceDesc", {c.type, c.stored});
    HKEY key = nullptr;
    ASSERT_TRUE(Opens("Enum\\Root\\printer\\0000", &key));
    std::array<unsigned char, 16> buffer;
    buffer.fill(kFill);
    DWORD type = 99;
    DWORD size = c.size;
    EXPECT_EQ(RegQueryValueExA(key, "DeviceDesc", nullptr, &type, c.nullData ? nullptr : buffer.data(), &size),
              c.result);
    EXPECT_EQ(size, c.sizeAfter);
    EXPECT_EQ(type, c.type);
    std::array<unsigned char, 16> expected;
    expected.fill(kFill);
    if (c.copied) std::copy(c.stored.begin(), c.stored.end(), expected.begin());
    EXPECT_EQ(buffer, expected);
  }
}

TEST(RegQueryValueExA, MissingValuesAndBadHandlesLeaveTheBufferAlone) {
  Machine machine;
  sim::Activation active(machine);
  machine.registry.SetString("HKLM\\Enum\\Root\\printer\\0000", "DeviceDesc", "RK514");
  HKEY key = nullptr;
  ASSERT_TRUE(Opens("Enum\\Root\\printer\\0000", &key));
  struct Case {
    const char* what;
    HKEY key;
    const char* name;
    bool reserved;
    LONG result;
  };
  const Case cases[] = {
      {"no such value", key, "DriverDesc", false, ERROR_FILE_NOT_FOUND},
      {"a handle never opened", reinterpret_cast<HKEY>(0x7777), "DeviceDesc", false, ERROR_INVALID_HANDLE},
      {"a reserved pointer", key, "DeviceDesc", true, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::array<unsigned char, 8> buffer;
    buffer.fill(kFill);
    DWORD reserved = 0;
    DWORD size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(c.key, c.name, c.reserved ? &reserved : nullptr, nullptr, buffer.data(), &size),
              c.result);
    EXPECT_EQ(size, sizeof buffer);
    for (unsigned char byte : buffer) EXPECT_EQ(byte, kFill);
  }
}

TEST(RegOpenKeyExA, OpensExistingKeysOnly) {
  Machine machine;
  sim::Activation active(machine);
  machine.registry.SetString("HKLM\\Enum\\Root\\printer", "Class", "Printer");
  machine.registry.SetString("HKLM\\Enum\\Root\\printer\\0003", "DeviceDesc", "RK514");
  HKEY parent = nullptr;
  ASSERT_TRUE(Opens("Enum\\Root\\printer", &parent));

  struct Case {
    const char* what;
    HKEY root;
    const char* subKey;
    DWORD options;
    LONG result;
    const char* value;  // a value that the opened key must hold
  };
  const Case cases[] = {
      {"a full path", HKEY_LOCAL_MACHINE, "Enum\\Root\\printer\\0003", 0, ERROR_SUCCESS, "DeviceDesc"},
      {"below an open handle", parent, "0003", 0, ERROR_SUCCESS, "DeviceDesc"},
      {"empty subkey: the key itself", parent, "", 0, ERROR_SUCCESS, "Class"},
      {"NULL subkey: the key itself", parent, nullptr, 0, ERROR_SUCCESS, "Class"},
      {"trailing backslash", HKEY_LOCAL_MACHINE, "Enum\\Root\\printer\\", 0, ERROR_SUCCESS, "Class"},
      {"missing last key", HKEY_LOCAL_MACHINE, "Enum\\Root\\printer\\0000", 0, ERROR_FILE_NOT_FOUND, nullptr},
      {"missing on the way", HKEY_LOCAL_MACHINE, "Enum\\LPTENUM\\X", 0, ERROR_FILE_NOT_FOUND, nullptr},
      {"a handle never opened", reinterpret_cast<HKEY>(0x7777), "0003", 0, ERROR_INVALID_HANDLE, nullptr},
      {"options not 0", HKEY_LOCAL_MACHINE, "Enum", 1, ERROR_INVALID_PARAMETER, nullptr},
  };
  const HKEY untouched = reinterpret_cast<HKEY>(0x5555);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HKEY key = untouched;
    EXPECT_EQ(RegOpenKeyExA(c.root, c.subKey, c.options, KEY_QUERY_VALUE, &key), c.result);
    if (c.result != ERROR_SUCCESS) {
      EXPECT_EQ(key, untouched);
      continue;
    }
    ASSERT_NE(key, untouched);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, c.value, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE) << "a handle is released once";
  }
}

TEST(RegDeleteKeyA, RemovesTheKeyWithItsWholeSubtree) {
  Machine machine;
  sim::Activation active(machine);
  Registry& registry = machine.registry;
  registry.SetString("HKLM\\SOFTWARE\\Classes\\CLSID\\{5b1e}", "", "Shell Extension");
  registry.SetString("HKLM\\SOFTWARE\\Classes\\CLSID\\{5b1e}\\InProcServer32", "", "KB47SHEX.DLL");
  registry.SetString("HKLM\\SOFTWARE\\Classes\\CLSID\\{5b1e}\\InProcServer32\\Deeper", "x", "y");
  registry.SetString("HKLM\\SOFTWARE\\Classes\\CLSID\\{other}", "", "Other");
  Registry before = registry;

  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{5B1E}"), ERROR_SUCCESS);
  EXPECT_FALSE(registry.KeyExists("HKLM\\SOFTWARE\\Classes\\CLSID\\{5b1e}"));
  EXPECT_EQ(registry.SubkeyNames("HKLM\\SOFTWARE\\Classes\\CLSID"), std::vector<std::string>{"{other}"});
  // Deleting the same key again, or below a missing key, changes nothing more.
  Registry after = registry;
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{5B1E}"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Nowhere\\Key"), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(registry == after);
  EXPECT_FALSE(registry == before);

  // Below an open handle.
  HKEY classes = nullptr;
  ASSERT_TRUE(Opens("SOFTWARE\\Classes", &classes));
  EXPECT_EQ(RegDeleteKeyA(classes, "CLSID"), ERROR_SUCCESS);
  EXPECT_TRUE(registry.SubkeyNames("HKLM\\SOFTWARE\\Classes").empty());
  EXPECT_TRUE(registry.KeyExists("HKLM\\SOFTWARE\\Classes"));
}

TEST(RegDeleteKeyA, HandlesToADeletedKeyAndItsSubkeysFailAsDeleted) {
  Machine machine;
  sim::Activation active(machine);
  machine.registry.SetString("HKLM\\Enum\\Root\\printer\\0000", "DeviceDesc", "RK514");
  machine.registry.SetString("HKLM\\Enum\\Root\\printer\\0000\\Sub", "v", "1");
  machine.registry.SetString("HKLM\\Enum\\Root\\printer\\00001", "DeviceDesc", "a longer name, not a subkey");
  HKEY deleted = nullptr, below = nullptr, sibling = nullptr;
  ASSERT_TRUE(Opens("Enum\\Root\\printer\\0000", &deleted));
  ASSERT_TRUE(Opens("Enum\\Root\\printer\\0000\\Sub", &below));
  ASSERT_TRUE(Opens("Enum\\Root\\printer\\00001", &sibling));

  ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\Root\\printer\\0000"), ERROR_SUCCESS);
  // Created again under the same name: the old handles still name the deleted key.
  machine.registry.SetString("HKLM\\Enum\\Root\\printer\\0000", "DeviceDesc", "new");

  DWORD size = 0;
  HKEY key = nullptr;
  for (HKEY gone : {deleted, below}) {
    EXPECT_EQ(RegQueryValueExA(gone, "DeviceDesc", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegOpenKeyExA(gone, "", 0, KEY_QUERY_VALUE, &key), ERROR_KEY_DELETED);
    EXPECT_EQ(RegFlushKey(gone), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteKeyA(gone, "Sub"), ERROR_KEY_DELETED);
    char name[8];
    DWORD nameSize = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(gone, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(gone), ERROR_SUCCESS) << "a handle to a deleted key is still released";
  }
  EXPECT_EQ(RegQueryValueExA(sibling, "DeviceDesc", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_TRUE(machine.registry.KeyExists("HKLM\\Enum\\Root\\printer\\0000"));

  // A key removed from the registry directly counts as deleted for a handle open on it.
  EXPECT_TRUE(machine.registry.DeleteKey("HKLM\\Enum\\Root\\printer\\00001"));
  EXPECT_EQ(RegQueryValueExA(sibling, "DeviceDesc", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
}

// The walk that deletes a subtree where RegDeleteKeyA refuses a key with subkeys: index by index,
// in the registry's order, with the buffer contract of Windows 95 and 98.
TEST(RegEnumKeyExA, GivesTheSubkeysByIndex) {
  Machine machine;
  sim::Activation active(machine);
  for (const char* key : {"Zeta", "alpha", "Beta"}) machine.registry.CreateKey(std::string("HKLM\\Walk\\") + key);
  HKEY walk = nullptr;
  ASSERT_TRUE(Opens("Walk", &walk));
  struct Case {
    DWORD index, size;
    LONG result;
    const char* name;  // what the buffer holds after
    DWORD sizeAfter;
  };
  const Case cases[] = {
      {0, 256, ERROR_SUCCESS, "alpha", 5},  // by name without letter case, as created
      {1, 256, ERROR_SUCCESS, "Beta", 4},
      {2, 5, ERROR_SUCCESS, "Zeta", 4},            // the name and its NUL just fit
      {2, 4, ERROR_MORE_DATA, "\xCC\xCC\xCC", 4},  // else nothing is written
      {3, 256, ERROR_NO_MORE_ITEMS, "\xCC\xCC\xCC", 256},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.index) + " into " + std::to_string(c.size));
    char name[256];
    std::memset(name, kFill, sizeof name);
    DWORD size = c.size;
    EXPECT_EQ(RegEnumKeyExA(walk, c.index, name, &size, nullptr, nullptr, nullptr, nullptr), c.result);
    EXPECT_EQ(std::string(name, std::strlen(c.name) + (c.result == ERROR_SUCCESS)),
              std::string(c.name, std::strlen(c.name) + (c.result == ERROR_SUCCESS)));
    EXPECT_EQ(size, c.sizeAfter);
  }
  // No class names and no times of last writing on Windows 95 and 98.
  char name[16], className[16] = "junk";
  DWORD size = sizeof name, classSize = sizeof className;
  FILETIME written{1, 2};
  EXPECT_EQ(RegEnumKeyExA(HKEY_LOCAL_MACHINE, 0, name, &size, nullptr, className, &classSize, &written), ERROR_SUCCESS);
  EXPECT_STREQ(className, "");
  EXPECT_EQ(classSize, 0u);
  EXPECT_EQ(written.dwLowDateTime | written.dwHighDateTime, 0u);
  DWORD reserved = 0;
  EXPECT_EQ(RegEnumKeyExA(walk, 0, name, &size, &reserved, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegEnumKeyExA(walk, 0, nullptr, &size, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCloseKey(walk), ERROR_SUCCESS);
  EXPECT_EQ(RegEnumKeyExA(walk, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(machine.trace().Of("RegEnumKeyExA").front().ToString(),
            "RegEnumKeyExA(hkey#4096, 0, name, 256, NULL, NULL, NULL, NULL) = 0");
}

TEST(RegistryFaults, AFailingCallReturnsAccessDeniedAndChangesNothing) {
  struct Case {
    const char* op;
    std::function<LONG(HKEY open)> call;
  };
  std::array<unsigned char, 8> buffer;
  DWORD size = 0;
  HKEY out = nullptr;
  const Case cases[] = {
      {"RegOpenKeyExA", [&](HKEY) { return RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum", 0, KEY_QUERY_VALUE, &out); }},
      {"RegQueryValueExA",
       [&](HKEY open) { return RegQueryValueExA(open, "DeviceDesc", nullptr, nullptr, buffer.data(), &size); }},
      {"RegCloseKey", [&](HKEY open) { return RegCloseKey(open); }},
      {"RegFlushKey", [&](HKEY) { return RegFlushKey(HKEY_LOCAL_MACHINE); }},
      {"RegDeleteKeyA", [&](HKEY) { return RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\Root\\printer\\0000"); }},
      {"RegEnumKeyExA",
       [&](HKEY) {
         size = sizeof buffer;
         return RegEnumKeyExA(HKEY_LOCAL_MACHINE, 0, reinterpret_cast<LPSTR>(buffer.data()), &size, nullptr, nullptr,
                              nullptr, nullptr);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.op);
    Machine machine;
    sim::Activation active(machine);
    machine.registry.SetString("HKLM\\Enum\\Root\\printer\\0000", "DeviceDesc", "RK514");
    HKEY open = nullptr;
    ASSERT_TRUE(Opens("Enum\\Root\\printer\\0000", &open));
    const Machine before = machine;
    buffer.fill(kFill);
    size = sizeof buffer;
    out = reinterpret_cast<HKEY>(0x5555);
    machine.faults().FailAll(c.op);
    EXPECT_EQ(c.call(open), ERROR_ACCESS_DENIED);
    machine.faults().Clear();
    EXPECT_TRUE(machine.SameState(before));
    EXPECT_EQ(out, reinterpret_cast<HKEY>(0x5555));
    EXPECT_EQ(size, sizeof buffer);
    for (unsigned char byte : buffer) EXPECT_EQ(byte, kFill);
    // The handle is still open: a failed close did not release it.
    EXPECT_EQ(RegQueryValueExA(open, "DeviceDesc", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(open), ERROR_SUCCESS);
  }
}

// Keys go 512 levels deep, as in the Windows registry, and no deeper: a key at that depth is
// copied, compared, exported, loaded again and deleted with its machine.
TEST(RegistryDepth, KeysGoAsDeepAsWindowsAllowsAndNoDeeper) {
  std::string deepest = "HKEY_LOCAL_MACHINE";
  for (std::size_t i = 0; i < sim::Registry::kDeepestKey; ++i) deepest += "\\K";
  {
    Machine machine;
    machine.registry.SetDword(deepest, "Depth", 512);
    const Machine copy(machine);
    EXPECT_TRUE(copy.SameState(machine));
    sim::Registry loaded;
    loaded.LoadRegText(machine.registry.ExportRegText());
    EXPECT_TRUE(loaded.KeyExists(deepest));
    EXPECT_TRUE(machine.registry.DeleteKey("HKEY_LOCAL_MACHINE\\K"));
  }
  Machine machine;
  EXPECT_THROW(machine.registry.CreateKey(deepest + "\\K"), sim::Unmodelled);
  EXPECT_THROW(machine.registry.SetString("HKCU" + deepest.substr(18), "Name", "x"), sim::Unmodelled)
      << "HKEY_CURRENT_USER is one level below HKEY_USERS";
  EXPECT_FALSE(machine.registry.KeyExists("HKEY_LOCAL_MACHINE\\K"));
}

// A copy shares the keys it leaves alone: each change to it, and each to the original after it,
// stays on its own side, Win32 calls on the machine included.
TEST(RegistryCopies, AChangeToOneCopyLeavesTheOtherAsItWas) {
  struct Case {
    const char* name;
    std::function<void(Registry&)> change;
  };
  const std::vector<Case> cases = {
      {"a value set", [](Registry& r) { r.SetString("HKLM\\SOFTWARE\\A\\B", "V", "new"); }},
      {"a value added", [](Registry& r) { r.SetDword("HKLM\\SOFTWARE\\A\\B", "W", 7); }},
      {"a value deleted", [](Registry& r) { r.DeleteValue("HKLM\\SOFTWARE\\A\\B", "V"); }},
      {"a key deleted", [](Registry& r) { r.DeleteKey("HKLM\\SOFTWARE\\A\\B"); }},
      {"a key created below", [](Registry& r) { r.CreateKey("HKLM\\SOFTWARE\\A\\B\\C"); }},
      {"a value through an alias", [](Registry& r) { r.SetString("HKCU\\Software", "V", "new"); }},
      {"a key through its Find", [](Registry& r) { r.Find("HKLM\\SOFTWARE\\A\\B")->values.Edit().clear(); }},
      {"the registry cleared", [](Registry& r) { r.Clear(); }},
  };
  Registry original;
  original.SetString("HKLM\\SOFTWARE\\A\\B", "V", "old");
  original.SetString("HKCU\\Software", "V", "old");
  const std::string text = original.ExportRegText();
  for (const Case& c : cases) {
    Registry copy = original;
    c.change(copy);
    EXPECT_EQ(original.ExportRegText(), text) << c.name;
    EXPECT_NE(copy.ExportRegText(), text) << c.name;
    Registry later = original;  // and the other way round: the original changed, the copy kept
    c.change(original);
    EXPECT_EQ(later.ExportRegText(), text) << c.name;
    original = later;
  }
  Machine machine;
  machine.registry = original;
  const Machine before = machine;
  {
    sim::Activation active(machine);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B"), ERROR_SUCCESS);
  }
  EXPECT_FALSE(machine.registry.KeyExists("HKLM\\SOFTWARE\\A\\B"));
  EXPECT_EQ(before.registry.ExportRegText(), text);
}

}  // namespace
