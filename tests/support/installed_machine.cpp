// The clean and the installed test machines.
#include "installed_machine.h"

namespace fixtures {
namespace {

constexpr char kPrint[] = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\Print";
constexpr char kEnumPrinters[] = "HKEY_LOCAL_MACHINE\\Enum\\Root\\printer";
constexpr char kClassPrinters[] = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Printer";
constexpr char kMenuOrder[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs";
constexpr char kClsid[] = "{5b1e7d20-4a9c-11d1-8f3a-2c61d0e4b795}";

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// win.ini in pieces: the clean file is the pieces without the product's lines.
std::string WinIni(bool installed) {
  std::vector<std::string> lines = {
      "[windows]", "device=HP LaserJet 4,HPPCL5MS,LPT1:", "", "[Devices]", "HP LaserJet 4=HPPCL5MS,LPT1:"};
  if (installed) lines.push_back("ZANTEROVA Karsenby RK514=kb47rk,LPT1:");
  lines.insert(lines.end(), {"", "[PrinterPorts]", "HP LaserJet 4=HPPCL5MS,LPT1:,15,45"});
  if (installed) lines.push_back("ZANTEROVA Karsenby RK514=kb47rk,LPT1:,15,45");
  lines.push_back("");
  if (installed) {
    for (const char* port : {"LPT1", "FILE", "LPT2"}) {
      lines.insert(lines.end(), {std::string("[ZANTEROVA Karsenby RK514-") + port + "]",
                                 "ColorMode=1", "Resolution=600", ""});
    }
  }
  lines.insert(lines.end(), {"[HP LaserJet 4-LPT1]", "Copies=1", "", "[fonts]", "Arial (TrueType)=ARIAL.TTF"});
  return Join(lines);
}

}  // namespace

std::string CleanWinIni() { return WinIni(false); }
std::string InstalledWinIni() { return WinIni(true); }

sim::Machine CleanMachine(std::uint32_t buildNumber) {
  sim::Machine machine;
  machine.buildNumber = buildNumber;
  sim::Registry& reg = machine.registry;
  const std::string print = kPrint;

  reg.SetString(kShellFoldersKey, "Programs", kProgramsFolder);
  reg.SetString(kShellFoldersKey, "Desktop", "C:\\WINDOWS\\Desktop");

  // The other printer, and the folders that the product's keys go into.
  reg.SetString(print + "\\Printers\\HP LaserJet 4", "Port", "LPT1:");
  reg.SetString("HKEY_LOCAL_MACHINE\\Config\\0001\\System\\CurrentControlSet\\control\\Print\\Printers\\HP LaserJet 4",
                "Port", "LPT1:");
  reg.SetString(print + "\\Environments\\Windows 4.0\\Drivers\\HP LaserJet 4", "Driver", "HPPCL5MS.DRV");
  reg.SetString(print + "\\Environments\\Windows 4.0\\Print Processors\\WinPrint", "Driver", "SPOOLSS.DLL");
  reg.SetString(print + "\\Monitors\\PJL Language Monitor", "Driver", "PJLMON.DLL");
  reg.SetString(std::string(kEnumPrinters) + "\\0000", "DeviceDesc", "HP LaserJet 4");
  reg.SetString(std::string(kClassPrinters) + "\\0000", "DriverDesc", "HP LaserJet 4");
  reg.SetString("HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\HEWLETT-PACKARDLASERJE1F3C", "DeviceDesc", "HP LaserJet 4");
  reg.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{00021400-0000-0000-C000-000000000046}", "",
                "Desktop");
  reg.CreateKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Printers\\shellex\\ContextMenuHandlers");
  reg.CreateKey("HKEY_LOCAL_MACHINE\\Security\\Access\\PRINT");
  reg.SetString(std::string("HKEY_USERS\\.DEFAULT\\") + kMenuOrder + "\\Accessories", "Order", "1");

  sim::FileSystem& files = machine.files;
  files.WriteFile(machine.WinIniPath(), CleanWinIni());
  files.WriteFile(machine.systemDirectory + "\\HPPCL5MS.DRV", "MZ hp");
  files.WriteFile(machine.systemDirectory + "\\KERNEL32.DLL", "MZ kernel");
  files.WriteFile(machine.windowsDirectory + "\\INF\\oem0.inf",
                  "[Version]\r\nSignature=\"$CHICAGO$\"\r\n\r\n[HP.Files]\r\nHPPCL5MS.DRV\r\n");
  files.WriteFile(machine.windowsDirectory + "\\INF\\OTHER\\HEWLETT-PACKARDHPLJ4.INF",
                  "[Version]\r\nSignature=\"$CHICAGO$\"\r\n");
  files.WriteFile(std::string(kProgramsFolder) + "\\Accessories\\Notepad.lnk", "L");
  return machine;
}

void InstallProduct(sim::Machine& machine) {
  sim::Registry& reg = machine.registry;
  const std::string print = kPrint;
  const bool laterRelease = (machine.buildNumber & 0xFFFF) > 950;

  for (const std::string classes : {"HKEY_CLASSES_ROOT", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes"}) {
    reg.SetString(classes + "\\CLSID\\" + kClsid, "", "ZANTEROVA RK514 Shell Extension");
    reg.SetString(classes + "\\CLSID\\" + kClsid + "\\InProcServer32", "", "KB47SHEL.DLL");
    reg.SetString(classes + "\\Printers\\shellex\\ContextMenuHandlers\\ZANTEROVA RK514 Shell Extension", "",
                  kClsid);
  }
  reg.SetString("HKEY_CURRENT_CONFIG\\System\\CurrentControlSet\\control\\Print\\Printers\\ZANTEROVA Karsenby RK514",
                "Port", "LPT1:");
  reg.SetString("HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\KARSENBYRK_514_(COLO9F98", "DeviceDesc", kPrinterName);
  reg.SetString(print + "\\Environments\\Windows 4.0\\Drivers\\ZANTEROVA Karsenby RK514", "Driver", "KB47RK.DRV");
  reg.SetString(print + "\\Environments\\Windows 4.0\\Print Processors\\ZANTEROVA RK514 PrintProcessor", "Driver",
                "KB47PRIN.DLL");
  reg.SetString(print + "\\Monitors\\ZANTEROVA RK514 LanguageMonitor", "Driver", "KB47LANG.DLL");
  reg.SetString(print + "\\Printers\\ZANTEROVA Karsenby RK514", "Port", "LPT1:");
  reg.SetString(print + "\\Printers\\ZANTEROVA Karsenby RK514\\PrinterDriverData", "Resolution", "600");
  if (laterRelease) {
    reg.SetString(std::string("HKEY_USERS\\.DEFAULT\\") + kMenuOrder + "\\ZANTEROVA RK514", "Order", "1");
    reg.SetString("HKEY_LOCAL_MACHINE\\Security\\Access\\PRINT\\ZANTEROVA Karsenby RK514", "Owner", "Everyone");
    reg.SetString(std::string("HKEY_CURRENT_USER\\") + kMenuOrder + "\\ZANTEROVA RK514\\Menu", "Order", "2");
  }
  reg.SetString(std::string(kEnumPrinters) + "\\0001", "DeviceDesc", kPrinterName);
  reg.SetString(std::string(kEnumPrinters) + "\\0001", "Driver", "Printer\\0001");
  reg.SetString(std::string(kClassPrinters) + "\\0001", "DriverDesc", kPrinterName);
  reg.SetString(std::string(kClassPrinters) + "\\0001\\Default", "Resolution", "600");

  sim::FileSystem& files = machine.files;
  files.WriteFile(machine.WinIniPath(), InstalledWinIni());
  for (const char* name : product::kShortcuts) files.WriteFile(std::string(kGroupFolder) + "\\" + name, "L");
  for (const std::string& name : product::kSystemFiles) files.WriteFile(machine.systemDirectory + "\\" + name, name);
  for (const std::string& name : product::kDeferredFiles) files.WriteFile(machine.systemDirectory + "\\" + name, name);
  const std::string inf = "[Version]\r\nSignature=\"$CHICAGO$\"\r\n\r\n[RK514.Files]\r\nKB47RK.DRV\r\nKB47STAT.EXE\r\n";
  if (laterRelease) {
    files.WriteFile(machine.windowsDirectory + "\\INF\\OTHER\\KARSENBYKBRK514.INF", inf);
  } else {
    files.WriteFile(machine.windowsDirectory + "\\INF\\oem1.inf", inf);
  }
}

sim::Machine InstalledMachine(std::uint32_t buildNumber) {
  sim::Machine machine = CleanMachine(buildNumber);
  InstallProduct(machine);
  return machine;
}

}  // namespace fixtures
