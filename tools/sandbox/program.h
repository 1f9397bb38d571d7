// The uninstaller itself, run on a simulated machine: the very WinMain of app/ with the resource
// script that the Windows build compiles, or a given KB47UNIN.EXE on an emulated 32-bit x86; and
// the removal alone for a look at what it would touch.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "emu/runner.h"
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

// A KB47UNIN.EXE given to run in place of the built-in code (--exe): the file as read, checked
// by the emulator's loader, and what says which program it is.
struct GivenProgram {
  std::string path;  // absolute
  std::uintmax_t size = 0;
  std::string sha256;  // 64 hexadecimal digits, lower case
  std::optional<emu::Program> program;
};
// Reads and checks the file; throws emu::Refused saying why it will not run (a file that cannot
// be read included).
GivenProgram LoadGivenProgram(const std::string& path);
// The SHA-256 of bytes, in lower-case hexadecimal.
std::string Sha256Hex(std::string_view bytes);

// Runs the given program, emulated, once on machine, with user answering its windows; its trace
// then holds every call the program made. Errors of the run (emu::GuestFailure), of the user or
// of the simulated machine propagate.
ProgramRun RunGivenProgram(sim::Machine& machine, sim::User& user, const GivenProgram& given);
// Whether the removal ran to its end in the calls of machine's trace: the removal's first call
// (GetVersionExA), then the progress dialog's close after it. For a program whose globals are
// not the sandbox's own (a given one).
bool RemovalRanIn(const sim::Trace& trace);

// Runs RemoveProduct alone on machine: what a confirmed run would do to it.
void RunRemovalOnly(sim::Machine& machine);

}  // namespace sandbox
