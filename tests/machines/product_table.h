// The ZANTEROVA Karsenby RK514 driver as the tests know it: its names, its fixed registry keys,
// the lists of numbered instance keys, its win.ini port sections, its shortcuts and its files.
// Written out here on purpose, apart from the program's own tables in removal/, so that a wrong
// table in the program is still caught; every test, fixture and dump takes them from here.
// Plain C++, no Windows headers: the Wine suite's probe is built with it too.
#pragma once

#include <cstdint>
#include <string>

namespace product {

inline constexpr char kPrinterName[] = "ZANTEROVA Karsenby RK514";
inline constexpr char kGroupName[] = "ZANTEROVA RK514";
// The word that marks the product's own INF files.
inline constexpr char kMarker[] = "KB47STAT.EXE";
// Builds above this one are the later releases (Windows 95 OSR2, 98), with three more keys and
// the fixed INF file instead of the oem*.inf scan.
inline constexpr unsigned kBuildGate = 950;
// Whether a machine of this dwBuildNumber (its low 16 bits are the build) has a later release.
inline constexpr bool LaterRelease(std::uint32_t buildNumber) { return (buildNumber & 0xFFFF) > kBuildGate; }

struct FixedKey {
  const char* root;  // the root's long name: "HKEY_CLASSES_ROOT"
  const char* path;  // below the root
  bool laterReleaseOnly;
};
// In the order the removal deletes them: the first 11 on every run, the last 3 only on builds
// above kBuildGate.
inline constexpr FixedKey kFixedKeys[14] = {
    {"HKEY_CLASSES_ROOT", "CLSID\\{5b1e7d20-4a9c-11d1-8f3a-2c61d0e4b795}", false},
    {"HKEY_CLASSES_ROOT", "Printers\\shellex\\ContextMenuHandlers\\ZANTEROVA RK514 Shell Extension", false},
    {"HKEY_CURRENT_CONFIG", "System\\CurrentControlSet\\control\\Print\\Printers\\ZANTEROVA Karsenby RK514", false},
    {"HKEY_LOCAL_MACHINE",
     "Config\\0001\\System\\CurrentControlSet\\control\\Print\\Printers\\ZANTEROVA Karsenby RK514", false},
    {"HKEY_LOCAL_MACHINE", "Enum\\LPTENUM\\KARSENBYRK_514_(COLO9F98", false},
    {"HKEY_LOCAL_MACHINE", "SOFTWARE\\Classes\\CLSID\\{5b1e7d20-4a9c-11d1-8f3a-2c61d0e4b795}", false},
    {"HKEY_LOCAL_MACHINE", "SOFTWARE\\Classes\\Printers\\shellex\\ContextMenuHandlers\\ZANTEROVA RK514 Shell Extension",
     false},
    {"HKEY_LOCAL_MACHINE",
     "System\\CurrentControlSet\\control\\Print\\Environments\\Windows 4.0\\Drivers\\ZANTEROVA Karsenby RK514", false},
    {"HKEY_LOCAL_MACHINE",
     "System\\CurrentControlSet\\control\\Print\\Environments\\Windows 4.0\\Print Processors\\ZANTEROVA RK514 "
     "PrintProcessor",
     false},
    {"HKEY_LOCAL_MACHINE", "System\\CurrentControlSet\\control\\Print\\Monitors\\ZANTEROVA RK514 LanguageMonitor",
     false},
    {"HKEY_LOCAL_MACHINE", "System\\CurrentControlSet\\control\\Print\\Printers\\ZANTEROVA Karsenby RK514", false},
    {"HKEY_USERS",
     ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs\\ZANTEROVA "
     "RK514",
     true},
    {"HKEY_LOCAL_MACHINE", "Security\\Access\\PRINT\\ZANTEROVA Karsenby RK514", true},
    {"HKEY_CURRENT_USER",
     "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs\\ZANTEROVA RK514", true},
};

// The two lists of numbered instance keys (0000, 0001, ...) under HKEY_LOCAL_MACHINE; a key goes
// when its value of this name is the printer's name.
struct InstanceList {
  const char* base;  // below HKEY_LOCAL_MACHINE
  const char* valueName;
};
inline constexpr InstanceList kInstanceLists[2] = {
    {"Enum\\Root\\printer", "DeviceDesc"},
    {"System\\CurrentControlSet\\Services\\Class\\Printer", "DriverDesc"},
};

// The win.ini port sections of a printer on a local port: kPrinterName followed by each.
inline constexpr const char* kLocalPortSuffixes[3] = {"-LPT1", "-FILE", "-LPT2"};

// The four shortcuts of the Start-menu group kGroupName.
inline constexpr const char* kShortcuts[4] = {"How do I for RK514.LNK", "Troubleshooting for RK514.LNK",
                                              "RK514 Printer Monitor.LNK", "RK514 Uninstall program.LNK"};

// The fourteen files in the system directory that the removal deletes at once, and the five it
// leaves to the next start of Windows (wininit.ini), each in the removal's order.
inline constexpr const char* kSystemFiles[14] = {
    "KB4732.DLL", "KB47CT.DLL",   "KB47HLP.HLP",  "KB47HLP.GID",  "KB47TRB.HLP", "KB47TRB.GID",  "KB47JNLI.DLL",
    "KB47RK.DRV", "KB47RKLN.DLL", "KB47LN98.DLL", "KB47RAST.DLL", "KB47RS.DLL",  "KB47SHEL.DLL", "KB47STAT.EXE"};
inline constexpr const char* kDeferredFiles[5] = {"KB47TN16.DLL", "KB47TN32.DLL", "KB47LANG.DLL", "KB47PRIN.DLL",
                                                  "KB47UNIN.EXE"};

// The five lines the removal adds to wininit.ini for the deferred files, each with its CR LF.
inline std::string DeferredEntries(const std::string& systemDirectory = "C:\\WINDOWS\\SYSTEM") {
  std::string text;
  for (const char* name : kDeferredFiles) text += "NUL=" + systemDirectory + "\\" + name + "\r\n";
  return text;
}

// The setup information file that later releases keep below the Windows directory.
inline constexpr char kFixedInfFile[] = "INF\\OTHER\\KARSENBYKBRK514.INF";

}  // namespace product
