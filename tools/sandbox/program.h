// The uninstaller itself, run on a simulated machine: the very WinMain of app/ with the resource
// script that the Windows build compiles, and the removal alone for a look at what it would touch.
#pragma once

#include "sim/machine.h"

namespace sandbox {

struct ProgramRun {
  int exitCode = 0;
  bool removalRan = false;  // RemoveProduct returned inside the progress dialog
};

// Runs WinMain once on machine (made current for the run) with user answering its windows. The
// machine's trace then holds every call the program made. Errors of the user or of the simulated
// machine propagate (AnswerError, sim::Unanswered, sim::Unmodelled).
ProgramRun RunUninstaller(sim::Machine& machine, sim::User& user);
// Whether RemoveProduct returned in the last RunUninstaller, also in one that an error ended.
bool RemovalRan();

// Runs RemoveProduct alone on machine: what a confirmed run would do to it.
void RunRemovalOnly(sim::Machine& machine);

}  // namespace sandbox
