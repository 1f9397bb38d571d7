// A scenario in a simulated machine: the state loaded as the Wine suite's seeding tool puts it
// into a Wine prefix, the same dump as its probe writes under Wine, and the next start of Windows
// working through wininit.ini.
#pragma once

#include "scenario.h"
#include "sim/machine.h"
#include "state_dump.h"

namespace machines {

// The simulated machine's user Programs folder, as its shell-folder settings give it.
inline constexpr char kSimProgramsFolder[] = "C:\\WINDOWS\\Start Menu\\Programs";
// Where the shell keeps the user's folders ("Programs", "Desktop", ...).
inline constexpr char kShellFoldersKey[] =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// A Windows 95 (build 950) or Windows 98 machine with the scenario's state. The build numbers are
// the ones Wine reports for its win95 and win98 settings.
sim::Machine MachineFor(const Scenario& scenario);

// Adds the scenario's keys, values, win.ini entries and files to a machine that already holds
// a state of its own (its build is kept; the scenario's release is not looked at). The calls that
// write win.ini are not left in the machine's trace, which is empty afterwards.
void ApplyScenario(const Scenario& scenario, sim::Machine& machine);

// The dump of a simulated machine, field for field as probe.exe writes it under Wine.
StateDump DumpMachine(sim::Machine& machine, const Watch& watch);

// What Windows 95 and 98 do with wininit.ini when they next start (WININIT.EXE; Wine's wineboot
// does the same): each line of its [rename] section, in order, "NUL=PATH" deletes PATH and
// "DEST=PATH" moves PATH to DEST (a DEST without a folder lands in the Windows directory); lines
// starting with ';', lines without '=' and lines whose paths name no file ("x=1") are passed
// over; then wininit.ini becomes wininit.bak.
void StartWindowsAgain(sim::Machine& machine);

}  // namespace machines
