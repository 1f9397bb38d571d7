// seed.exe SCENARIO: installs a scenario's machine state into the running Windows (a Wine
// prefix), through the Win32 API as the driver's setup would: registry keys and values, win.ini
// entries, folders and files. The Programs folder is the one the user's shell-folder settings
// name, the system and Windows directories are the ones Windows reports.
// Exit code 0 when every item was written; otherwise each failure is printed and the code is 1.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "scenario.h"
#include "wine_common.h"

namespace {

int g_failures = 0;

void Fail(const std::string& what, DWORD error) {
  std::fprintf(stderr, "seed: %s: error %lu\n", what.c_str(), static_cast<unsigned long>(error));
  ++g_failures;
}

// Creates a key with every missing parent. Wine keeps HKEY_CURRENT_CONFIG volatile and refuses a
// lasting key below it (ERROR_CHILD_MUST_BE_VOLATILE): such a key is created volatile, and so
// lives as long as this Wine session.
HKEY CreateKey(const machines::RegistryEntry& entry) {
  HKEY root = wine::RootHandle(entry.root);
  HKEY key = nullptr;
  LONG result = RegCreateKeyExA(root, entry.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                &key, nullptr);
  if (result == ERROR_CHILD_MUST_BE_VOLATILE)
    result = RegCreateKeyExA(root, entry.path.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                             nullptr);
  if (result != ERROR_SUCCESS) {
    Fail("RegCreateKeyExA " + entry.root + "\\" + entry.path, static_cast<DWORD>(result));
    return nullptr;
  }
  return key;
}

void SeedRegistry(const machines::RegistryEntry& entry) {
  HKEY key = CreateKey(entry);
  if (!key) return;
  if (entry.kind != machines::RegistryEntry::Key) {
    static const DWORD kTypes[] = {REG_NONE, REG_SZ, REG_DWORD, REG_BINARY};
    LONG result = RegSetValueExA(key, entry.name.c_str(), 0, kTypes[entry.kind], entry.data.data(),
                                 static_cast<DWORD>(entry.data.size()));
    if (result != ERROR_SUCCESS)
      Fail("RegSetValueExA " + entry.root + "\\" + entry.path + " | " + entry.name, static_cast<DWORD>(result));
  }
  RegCloseKey(key);
}

// Creates a folder and every missing parent; an existing one is fine.
bool MakeFolders(const std::string& path) {
  for (std::size_t at = path.find('\\', 3);; at = path.find('\\', at + 1)) {
    std::string prefix = path.substr(0, at);
    if (!CreateDirectoryA(prefix.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      Fail("CreateDirectoryA " + prefix, GetLastError());
      return false;
    }
    if (at == std::string::npos) return true;
  }
}

void SeedFile(const machines::FileEntry& entry, const wine::Folders& folders) {
  std::string path = folders.Expand(entry.path);
  if (entry.isDirectory) {
    MakeFolders(path);
    return;
  }
  if (!MakeFolders(path.substr(0, path.rfind('\\')))) return;
  std::string bytes = folders.ExpandContents(entry.bytes);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    Fail("CreateFileA " + path, GetLastError());
    return;
  }
  DWORD written = 0;
  if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written != bytes.size())
    Fail("WriteFile " + path, GetLastError());
  CloseHandle(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: seed.exe SCENARIO\n");
    return 2;
  }
  machines::Scenario scenario;
  if (!machines::LoadScenarioOrSay("seed", argv[1], scenario)) return 2;
  const wine::Folders folders = wine::Folders::OfThisMachine();
  if (folders.programs.empty()) Fail("no Programs value in the user's shell folders", 0);

  for (const machines::RegistryEntry& entry : scenario.registry) SeedRegistry(entry);
  for (const machines::ProfileEntry& entry : scenario.profile) {
    if (!WriteProfileStringA(entry.section.c_str(), entry.key.c_str(), entry.value.c_str()))
      Fail("WriteProfileStringA [" + entry.section + "] " + entry.key, GetLastError());
  }
  for (const machines::FileEntry& entry : scenario.files) SeedFile(entry, folders);
  RegFlushKey(HKEY_LOCAL_MACHINE);
  RegFlushKey(HKEY_CURRENT_USER);
  RegFlushKey(HKEY_USERS);

  std::printf("seed: %zu registry items, %zu profile entries, %zu files and folders from %s%s\n",
              scenario.registry.size(), scenario.profile.size(), scenario.files.size(), argv[1],
              g_failures ? " (with failures)" : "");
  return g_failures ? 1 : 0;
}
