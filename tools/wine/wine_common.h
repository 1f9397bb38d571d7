// What the Windows tools of the Wine suite share: the registry roots by name, this machine's
// folders as Windows reports them, and the scenario file.
#pragma once

#include <windows.h>

#include <string>

#include "scenario.h"

namespace wine {

// HKLM, HKCU, HKU, HKCR or HKCC; nullptr for any other name.
HKEY RootHandle(const std::string& shortName);

struct Folders {
  std::string windows, system, programs;
  // GetWindowsDirectoryA, GetSystemDirectoryA, and the "Programs" value of the user's
  // "Shell Folders" key ("" when it is missing).
  static Folders OfThisMachine();
  std::string Expand(const std::string& path) const { return machines::ExpandPath(path, windows, system, programs); }
  std::string ExpandContents(const std::string& bytes) const {
    return machines::ExpandContents(bytes, windows, system);
  }
};

}  // namespace wine
