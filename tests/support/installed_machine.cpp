// The clean and the installed test machines.
#include "installed_machine.h"

#include <stdexcept>

#include "simulated_machine.h"

namespace fixtures {
namespace {

constexpr char kPrint[] = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\Print";
constexpr char kMenuOrder[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs";

// A numbered instance key of one of the two printer lists.
std::string InstanceKey(const product::InstanceList& list, const char* number) {
  return std::string("HKEY_LOCAL_MACHINE\\") + list.base + "\\" + number;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// The LaserJet's win.ini entries, the fonts section and the default printer.
std::string WinIni() {
  return Join({"[windows]", "device=HP LaserJet 4,HPPCL5MS,LPT1:", "", "[Devices]", "HP LaserJet 4=HPPCL5MS,LPT1:", "",
               "[PrinterPorts]", "HP LaserJet 4=HPPCL5MS,LPT1:,15,45", "", "[HP LaserJet 4-LPT1]", "Copies=1", "",
               "[fonts]", "Arial (TrueType)=ARIAL.TTF"});
}

// What the driver's setup leaves on every machine, as the samples and the Wine scenarios have it.
const machines::Scenario& SetupDescription() {
  static const machines::Scenario scenario = [] {
    machines::Scenario loaded;
    std::string error;
    if (!machines::LoadScenarioFile(RK514_SETUP_DESCRIPTION, loaded, error)) throw std::runtime_error(error);
    return loaded;
  }();
  return scenario;
}

}  // namespace

std::string CleanWinIni() { return WinIni(); }
std::string InstalledWinIni() {
  const sim::Machine machine = InstalledMachine();
  return *machine.files.ReadFile(machine.WinIniPath());
}

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
  for (const product::InstanceList& list : product::kInstanceLists) {
    reg.SetString(InstanceKey(list, "0000"), list.valueName, "HP LaserJet 4");
  }
  reg.SetString("HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\HEWLETT-PACKARDLASERJE1F3C", "DeviceDesc", "HP LaserJet 4");
  reg.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{00021400-0000-0000-C000-000000000046}", "", "Desktop");
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
  const machines::Scenario& setup = SetupDescription();
  machines::ApplyScenario(setup, machine);

  // This machine's own details: the shell extension's keys under HKEY_CLASSES_ROOT again under
  // HKLM\SOFTWARE\Classes, which the simulated registry keeps apart, and a third port section.
  machines::Scenario own;
  for (machines::RegistryEntry entry : setup.registry) {
    if (entry.root != "HKCR") continue;
    entry.root = "HKLM";
    entry.path = "SOFTWARE\\Classes\\" + entry.path;
    own.registry.push_back(entry);
  }
  own.profile.push_back({"ZANTEROVA Karsenby RK514-LPT2", "Resolution", "600"});
  machines::ApplyScenario(own, machine);
  sim::Registry& reg = machine.registry;
  reg.SetString("HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\KARSENBYRK_514_(COLO9F98\\0001", "Driver", "Printer\\0001");
  // The instance keys at 0001, next to the LaserJet's 0000.
  const product::InstanceList& devices = product::kInstanceLists[0];
  const product::InstanceList& classes = product::kInstanceLists[1];
  reg.SetString(InstanceKey(devices, "0001"), devices.valueName, kPrinterName);
  reg.SetString(InstanceKey(devices, "0001"), "Driver", "Printer\\0001");
  reg.SetString(InstanceKey(classes, "0001"), classes.valueName, kPrinterName);
  reg.SetString(InstanceKey(classes, "0001\\Default"), "Resolution", "600");
  // The keys that only the releases after build 950 get, and its setup information file.
  const bool laterRelease = product::LaterRelease(machine.buildNumber);
  if (laterRelease) {
    reg.SetString(std::string("HKEY_USERS\\.DEFAULT\\") + kMenuOrder + "\\ZANTEROVA RK514", "Order", "1");
    reg.SetString("HKEY_LOCAL_MACHINE\\Security\\Access\\PRINT\\ZANTEROVA Karsenby RK514", "Owner", "Everyone");
    reg.SetString(std::string("HKEY_CURRENT_USER\\") + kMenuOrder + "\\ZANTEROVA RK514\\Menu", "Order", "2");
  }
  const std::string inf = "[Version]\r\nSignature=\"$CHICAGO$\"\r\n\r\n[RK514.Files]\r\nKB47RK.DRV\r\nKB47STAT.EXE\r\n";
  machine.files.WriteFile(
      machine.windowsDirectory + (laterRelease ? std::string("\\") + product::kFixedInfFile : "\\INF\\oem1.inf"), inf);
}

sim::Machine InstalledMachine(std::uint32_t buildNumber) {
  sim::Machine machine = CleanMachine(buildNumber);
  InstallProduct(machine);
  return machine;
}

}  // namespace fixtures
