// The registry roots and folders of the running Windows, for the seeding tool and the probe.
#include "wine_common.h"

namespace wine {

HKEY RootHandle(const std::string& shortName) {
  if (shortName == "HKLM") return HKEY_LOCAL_MACHINE;
  if (shortName == "HKCU") return HKEY_CURRENT_USER;
  if (shortName == "HKU") return HKEY_USERS;
  if (shortName == "HKCR") return HKEY_CLASSES_ROOT;
  if (shortName == "HKCC") return HKEY_CURRENT_CONFIG;
  return nullptr;
}

Folders Folders::OfThisMachine() {
  Folders folders;
  char buffer[MAX_PATH] = {};
  if (GetWindowsDirectoryA(buffer, MAX_PATH) < MAX_PATH) folders.windows = buffer;
  buffer[0] = '\0';
  if (GetSystemDirectoryA(buffer, MAX_PATH) < MAX_PATH) folders.system = buffer;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                    KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    char programs[1024] = {};
    DWORD size = sizeof programs - 1;
    DWORD type = 0;
    if (RegQueryValueExA(key, "Programs", nullptr, &type, reinterpret_cast<BYTE*>(programs), &size) == ERROR_SUCCESS &&
        type == REG_SZ)
      folders.programs = programs;
    RegCloseKey(key);
  }
  return folders;
}

}  // namespace wine
