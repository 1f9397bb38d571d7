// Simulated machines for the removal's tests: a Windows 95/98 PC with another printer and another
// vendor's INF file, and the same PC after the RK514 driver's setup has run on it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "product_table.h"
#include "sim/machine.h"
#include "simulated_machine.h"

namespace fixtures {

using machines::kShellFoldersKey;
using product::kPrinterName;
inline constexpr const auto& kProgramsFolder = machines::kSimProgramsFolder;
inline constexpr char kGroupFolder[] = "C:\\WINDOWS\\Start Menu\\Programs\\ZANTEROVA RK514";

// A PC of the given build (sim::kBuildWin95, ...) before the driver is installed: the shell's
// folders, an HP LaserJet 4 on LPT1 with its registry keys, instance keys 0000 and win.ini
// entries, another vendor's oem0.inf, and the registry folders the driver's keys live in.
sim::Machine CleanMachine(std::uint32_t buildNumber = sim::kBuildWin98);

// Adds what the RK514 setup leaves on that machine: what it leaves on every machine
// (tests/machines/rk514_setup.inc: its fixed registry keys, win.ini entries for LPT1, the
// Start-menu group with its four shortcuts, the nineteen files in the system directory), and this
// machine's own details: the shell extension's keys under HKLM\SOFTWARE\Classes too, instance
// keys 0001 in both printer lists, a third port section (LPT2), the Start-menu order and access
// keys only on builds above 950, and its INF file (oem1.inf on build 950, INF\OTHER on later
// builds).
void InstallProduct(sim::Machine& machine);

// CleanMachine with InstallProduct applied.
sim::Machine InstalledMachine(std::uint32_t buildNumber = sim::kBuildWin98);

// The win.ini of CleanMachine and of InstalledMachine, byte for byte (the printer's sections
// follow the clean file's, as the profile functions add them).
std::string CleanWinIni();
std::string InstalledWinIni();

}  // namespace fixtures
