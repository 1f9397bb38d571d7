// The shipped KB47UNIN.EXE emulated beside the host-compiled program, on copies of one machine
// under the same answers: what each run left and showed, and whether the two agree.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "emu/runner.h"
#include "sim/machine.h"

namespace emu_test {

using Steps = std::vector<sim::ScriptedUser::Step>;
using Arm = std::function<void(sim::Faults&)>;  // the faults of a run

// KB47UNIN.EXE of the win32 tree, loaded once. A missing or refused file fails the test that
// asks for it, naming the path: the emu tests never pass without the program they are for.
const emu::Program& Shipped();
std::string ShippedPath();

// What a run left and showed.
struct Outcome {
  explicit Outcome(const sim::Machine& before) : machine(before) {}
  sim::Machine machine;  // after the run
  int exitCode = 0;
  std::string error;  // what ended the run by throwing, "" when nothing did
  std::size_t stepsLeft = 0;
  std::vector<sim::DialogState> dialogs;
  std::vector<sim::MessageBoxRecord> boxes;
  std::vector<UINT> restarts;
  emu::Stats stats;  // of an emulated run
};

Outcome RunHost(const sim::Machine& before, const Steps& steps, const Arm& arm = {});
Outcome RunEmulated(const sim::Machine& before, const Steps& steps, const Arm& arm = {},
                    const emu::Limits& limits = {}, const emu::Program& program = Shipped());

// The trace without the calls that only one of the two makes: the Windows program's text files
// and memory go through KERNEL32 files and the heap (CreateFileA, ReadFile, HeapAlloc, ...) and
// its entry through GetModuleHandleA and ExitProcess, the host program's through the C runtime
// (fopen, fgetc, ...); lstrlenA is left out on both sides, as the Windows runtime's fprintf
// calls it for its result. Taken from the trace only where a comparison asks for the calls.
std::vector<sim::Call> SharedCalls(const sim::Trace& trace);

// kEverything: neither run fails, and both have the same exit, the same final machine, the same
// dialogs (names, captions, control texts, results, in order), message boxes and restart
// requests, and the same shared calls with the same arguments and results; the emulated program
// leaves no handle open and no heap block allocated. kMachineAndDialogs, for runs with faults:
// the same but for the calls and the balance, and a failure of the simulator's own (a message box
// the user has no answer for) agrees with the same failure. A failure says what differs first.
enum class Compare { kEverything, kMachineAndDialogs };
::testing::AssertionResult SameRun(const Outcome& host, const Outcome& emulated,
                                   Compare compare = Compare::kEverything);

// Both runs on copies of before, compared.
::testing::AssertionResult Agree(const sim::Machine& before, const Steps& steps, const Arm& arm = {},
                                 Compare compare = Compare::kEverything);

}  // namespace emu_test
