// The Windows platform on a real Win32 implementation, run under Wine by platform_run.sh once with
// Wine acting as an NT release (where the real RegDeleteKeyA refuses a key with subkeys) and once
// as Windows 98 (where it deletes the subtree itself): the RegDeleteKeyA shim, and the program's
// own C runtime text files against the table that the simulated machine's pass too.
// Prints one line per failed check and a summary; the exit code is the number of failures.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform.h"
#include "file_io_faults.h"
#include "text_mode_cases.h"

namespace {

// From here on RegDeleteKeyA is the real one, for seeding and the checks of what Windows does by
// itself; the shim is called by its own name.
#undef RegDeleteKeyA

int g_failures = 0;
int g_checks = 0;

void Check(bool ok, const std::string& what) {
  ++g_checks;
  if (!ok) {
    ++g_failures;
    printf("FAILED: %s\n", what.c_str());
  }
}

// ---- Registry

const char* const TEST_ROOT = "Software\\RK514 shims test";

bool KeyExists(const std::string& path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

bool CreateKey(const std::string& path, const SECURITY_ATTRIBUTES* security = nullptr) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                      const_cast<SECURITY_ATTRIBUTES*>(security), &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const char value[] = "ZANTEROVA Karsenby RK514";
  RegSetValueExA(key, "DeviceDesc", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value);
  RegCloseKey(key);
  return true;
}

std::string Under(const std::string& relative) { return std::string(TEST_ROOT) + "\\" + relative; }

struct RegistryCase {
  const char* name;
  std::vector<std::string> create;  // relative to TEST_ROOT; parents are created on the way
  const char* deleted;              // the path given to RegDeleteKeyA, relative to TEST_ROOT
  LONG result;
  std::vector<std::string> gone;
  std::vector<std::string> kept;
};

std::vector<RegistryCase> RegistryCases() {
  std::vector<RegistryCase> cases = {
      {"leaf key", {"Leaf"}, "Leaf", ERROR_SUCCESS, {"Leaf"}, {}},
      {"subtree with values at every level",
       {"Tree\\A\\B", "Tree\\A\\C", "Tree\\D", "Tree sibling"},
       "Tree",
       ERROR_SUCCESS,
       {"Tree", "Tree\\A", "Tree\\A\\B", "Tree\\D"},
       {"Tree sibling"}},
      {"key below a parent that stays",
       {"Parent\\Child\\Grandchild", "Parent\\Other"},
       "Parent\\Child",
       ERROR_SUCCESS,
       {"Parent\\Child"},
       {"Parent", "Parent\\Other"}},
      {"missing key", {"Present"}, "Absent", ERROR_FILE_NOT_FOUND, {"Absent"}, {"Present"}},
  };
  // Deep: a chain of 30 levels.
  RegistryCase deep{"chain of 30 levels", {}, "Deep", ERROR_SUCCESS, {"Deep"}, {}};
  std::string chain = "Deep";
  for (int level = 1; level < 30; ++level) {
    chain += "\\L" + std::to_string(level);
  }
  deep.create.push_back(chain);
  deep.gone.push_back(chain);
  cases.push_back(deep);
  // Wide: more subkeys than one enumeration buffer of names would hold.
  RegistryCase wide{"300 subkeys", {}, "Wide", ERROR_SUCCESS, {"Wide"}, {}};
  for (int i = 0; i < 300; ++i) {
    wide.create.push_back("Wide\\" + std::to_string(i) + "\\x");
  }
  wide.gone.push_back("Wide\\299");
  cases.push_back(wide);
  return cases;
}

void TestRegDeleteKey(bool ntFamily) {
  // What the real call does with a key that has a subkey decides whether the shim's own walk
  // is exercised: on the NT family it must refuse.
  CreateKey(Under("Probe\\Sub"));
  LONG real = RegDeleteKeyA(HKEY_CURRENT_USER, Under("Probe").c_str());
  printf("real RegDeleteKeyA on a key with a subkey: %ld\n", static_cast<long>(real));
  Check(ntFamily ? real == ERROR_ACCESS_DENIED : real == ERROR_SUCCESS,
        "the real RegDeleteKeyA behaves as this release's does");
  PlatformRegDeleteKeyA(HKEY_CURRENT_USER, Under("Probe").c_str());

  for (const RegistryCase& c : RegistryCases()) {
    for (const std::string& path : c.create) {
      Check(CreateKey(Under(path)), std::string(c.name) + ": create " + path);
    }
    LONG result = PlatformRegDeleteKeyA(HKEY_CURRENT_USER, Under(c.deleted).c_str());
    Check(result == c.result,
          std::string(c.name) + ": result " + std::to_string(result) + ", expected " + std::to_string(c.result));
    for (const std::string& path : c.gone) {
      Check(!KeyExists(Under(path)), std::string(c.name) + ": " + path + " is gone");
    }
    for (const std::string& path : c.kept) {
      Check(KeyExists(Under(path)), std::string(c.name) + ": " + path + " stays");
    }
  }
}

// A subkey that RegDeleteKeyA cannot delete, beside two that it can: the walk must end, delete
// what it can and leave the rest. Such a subkey is a symbolic link to a key that does not exist
// (RegDeleteKeyA opens the link's target, and there is none); only the NT family has links.
bool CreateDanglingLink(const std::string& path) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE | REG_OPTION_CREATE_LINK,
                      KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const wchar_t target[] = L"\\Registry\\Machine\\Software\\RK514 shims test no such key";
  LONG result = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target),
                               sizeof target - sizeof(wchar_t));
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

void DeleteLink(const std::string& path) {
  typedef LONG(WINAPI * NtDeleteKeyFunction)(HANDLE);
  NtDeleteKeyFunction ntDeleteKey = reinterpret_cast<NtDeleteKeyFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey")));
  HKEY key;
  if (ntDeleteKey != nullptr &&
      RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), REG_OPTION_OPEN_LINK, DELETE, &key) == ERROR_SUCCESS) {
    ntDeleteKey(key);
    RegCloseKey(key);
  }
}

void TestUndeletableSubkey() {
  CreateKey(Under("Locked\\A"));
  Check(CreateDanglingLink(Under("Locked\\B")), "undeletable subkey: create the link Locked\\B");
  CreateKey(Under("Locked\\C\\D"));
  Check(RegDeleteKeyA(HKEY_CURRENT_USER, Under("Locked\\B").c_str()) != ERROR_SUCCESS,
        "undeletable subkey: Locked\\B really refuses deletion");

  LONG result = PlatformRegDeleteKeyA(HKEY_CURRENT_USER, Under("Locked").c_str());
  Check(result == ERROR_ACCESS_DENIED,
        "undeletable subkey: the final result is the refusal, got " + std::to_string(result));
  Check(KeyExists(Under("Locked")), "undeletable subkey: Locked stays");
  Check(!KeyExists(Under("Locked\\A")), "undeletable subkey: Locked\\A before it is gone");
  Check(!KeyExists(Under("Locked\\C")), "undeletable subkey: Locked\\C after it is gone");
  DeleteLink(Under("Locked\\B"));
}

// ---- Text files

std::string g_directory;

// The file's bytes, or nothing when it cannot be read.
std::optional<std::string> ReadRaw(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  std::string bytes;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) {
    bytes.append(chunk, read);
  }
  CloseHandle(file);
  return bytes;
}

// Writes bytes at the end of the file (creating it when `create`), through a handle of its own.
bool WriteRaw(const std::string& path, const std::string& bytes, bool create) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            create ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  bool ok = SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
            WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  return CloseHandle(file) && ok;
}

std::string Visible(const std::string& bytes) {
  std::string text;
  for (unsigned char c : bytes.substr(0, 120)) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      text.push_back(static_cast<char>(c));
    } else {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\x%02X", c);
      text += escaped;
    }
  }
  return bytes.size() > 120 ? text + "... (" + std::to_string(bytes.size()) + " bytes)" : text;
}

int g_skipped = 0;

// Makes the path stand as the case says, with the handle that holds it in use, if any. False
// when this platform cannot make it stand so: the case then shows nothing of the runtime, and is
// skipped, saying why.
bool Hold(const text_mode::Case& c, const std::string& path, HANDLE& holder) {
  holder = INVALID_HANDLE_VALUE;
  switch (c.held) {
    case text_mode::Held::No: break;
    case text_mode::Held::ReadOnly: {
      Check(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY) != 0, std::string(c.name) + ": made read-only");
      // Wine keeps the attribute as the Unix write permission, which the superuser passes.
      HANDLE probe = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        printf("SKIPPED: %s: this platform opens a read-only file for writing (Wine run by the superuser)\n", c.name);
        return false;
      }
      break;
    }
    case text_mode::Held::InUse:
      holder = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      Check(holder != INVALID_HANDLE_VALUE, std::string(c.name) + ": held open, shared with no one");
      break;
    case text_mode::Held::Folder:
      Check(CreateDirectoryA(path.c_str(), nullptr) != 0, std::string(c.name) + ": a folder made");
      break;
  }
  return true;
}

void TestTextMode() {
  g_fileIoFaults.setLastError = SetLastError;
  const bool intercepted = InterceptFileIo(VirtualProtect) != FALSE;
  Check(intercepted, "ReadFile and WriteFile are found in this program's import table");
  int index = 0;
  for (const text_mode::Case& c : text_mode::Cases()) {
    const std::string path = g_directory + "\\case" + std::to_string(index++) + ".ini";
    DeleteFileA(path.c_str());
    if (c.before) {
      Check(WriteRaw(path, *c.before, true), std::string(c.name) + ": seed");
    }
    HANDLE holder;
    if (!Hold(c, path, holder)) {
      ++g_skipped;
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      continue;
    }
    auto grow = [&](const std::string& bytes) {
      Check(WriteRaw(path, bytes, false), std::string(c.name) + ": another handle appends");
    };
    auto fail = [&](text_mode::Op op) { (op == text_mode::Op::FailReads ? g_fileIoFaults.readsFail : g_fileIoFaults.writesFail) = TRUE; };
    std::vector<std::string> problems = intercepted ? text_mode::RunTextModeCase(c, path.c_str(), grow, fail)
                                                    : text_mode::RunTextModeCase(c, path.c_str(), grow);
    g_fileIoFaults.readsFail = FALSE;
    g_fileIoFaults.writesFail = FALSE;
    if (holder != INVALID_HANDLE_VALUE) {
      CloseHandle(holder);
    }
    for (const std::string& problem : problems) {
      Check(false, std::string(c.name) + ": " + problem);
    }
    const std::optional<std::string> expected = c.after ? c.after : c.before;
    const std::optional<std::string> after = ReadRaw(path);
    Check(after == expected, std::string(c.name) + ": the file is \"" + (after ? Visible(*after) : "<missing>") +
                                 "\", expected \"" + (expected ? Visible(*expected) : "<missing>") + "\"");
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(path.c_str());
  }
}

}  // namespace

int main() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  bool ntFamily = version.dwPlatformId == VER_PLATFORM_WIN32_NT;
  printf("platform: %s %lu.%lu\n", ntFamily ? "NT" : "9x", static_cast<unsigned long>(version.dwMajorVersion),
         static_cast<unsigned long>(version.dwMinorVersion));

  PlatformRegDeleteKeyA(HKEY_CURRENT_USER, TEST_ROOT);
  TestRegDeleteKey(ntFamily);
  if (ntFamily) {
    TestUndeletableSubkey();
  }
  Check(PlatformRegDeleteKeyA(HKEY_CURRENT_USER, TEST_ROOT) == ERROR_SUCCESS,
        "the test's own key is removed at the end");

  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  g_directory = std::string(temp) + "rk514-platform-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(g_directory.c_str(), nullptr);
  TestTextMode();

  printf("%d passed, %d failed, %d skipped cases\n", g_checks - g_failures, g_failures, g_skipped);
  fflush(stdout);
  return g_failures;
}
