// The two runs and their comparison: see emu_run.h.
#include "emu_run.h"

#include <filesystem>
#include <memory>
#include <set>

#include "app.h"
#include "embedded_resources.h"

namespace emu_test {
namespace {

// Calls one program makes and the other does not (emu_run.h says why).
const std::set<std::string, std::less<>> kOneSided = {
    "CreateFileA", "ReadFile",         "WriteFile",      "SetFilePointer", "GetFileSize", "SetEndOfFile",
    "CloseHandle", "GetProcessHeap",   "HeapAlloc",      "HeapReAlloc",    "HeapFree",    "GetModuleHandleA",
    "ExitProcess", "fopen",            "fgetc",          "ftell",          "feof",        "ferror",
    "fputs",       "fprintf",          "fclose",         "lstrlenA"};

void Record(Outcome& outcome, sim::ScriptedUser& user) {
  sim::Ui& ui = outcome.machine.ui();
  outcome.stepsLeft = user.StepsLeft();
  outcome.dialogs = ui.closedDialogs;
  outcome.boxes = ui.messageBoxes;
  outcome.restarts = ui.exitWindowsRequests;
}

std::string DialogText(const sim::DialogState& dialog) {
  std::string text = dialog.tmpl.name + " \"" + dialog.caption + "\" result " + std::to_string(dialog.result) +
                     " timers " + std::to_string(dialog.timerMessages);
  for (const sim::ControlState& control : dialog.controls) {
    text += " | " + std::to_string(control.tmpl.id) + " \"" + control.text + "\"";
    if (!control.messageCounts.empty()) {
      text += " (";
      for (const auto& [message, count] : control.messageCounts)
        text += std::to_string(message) + "x" + std::to_string(count) + " ";
      text += "pos " + std::to_string(control.pos) + ")";
    }
  }
  return text;
}

std::string BoxText(const sim::MessageBoxRecord& box) {
  return "\"" + box.title + "\" \"" + box.text + "\" style " + std::to_string(box.style) + " answer " +
         std::to_string(box.answer) + (box.owner ? " owned" : " unowned") + (box.ownerShown ? " shown" : "");
}

template <typename T, typename Text>
void CompareLists(const char* what, const std::vector<T>& host, const std::vector<T>& emulated, Text text,
                  std::vector<std::string>& differences) {
  for (std::size_t i = 0; i < std::max(host.size(), emulated.size()); ++i) {
    const std::string h = i < host.size() ? text(host[i]) : "(none)";
    const std::string e = i < emulated.size() ? text(emulated[i]) : "(none)";
    if (h != e) {
      differences.push_back(std::string(what) + " " + std::to_string(i) + ": host " + h + "\n    emulated " + e);
      return;
    }
  }
}

}  // namespace

std::string ShippedPath() { return RK514_WIN32_EXE; }

const emu::Program& Shipped() {
  static std::unique_ptr<emu::Program> program;
  if (!program) {
    if (!std::filesystem::exists(ShippedPath()))
      throw std::runtime_error(ShippedPath() +
                               " is missing: build the win32 tree first (cmake --preset win32 && cmake --build "
                               "--preset win32), as the README's test command does");
    program = std::make_unique<emu::Program>(emu::Program::LoadFile(ShippedPath()));
  }
  return *program;
}

// The records of the shared calls: a run of identical calls is one record with its count.
static std::vector<sim::Call> SharedRecords(const sim::Trace& trace) {
  std::vector<sim::Call> records;
  for (const sim::Call& record : trace.Calls())
    if (!kOneSided.contains(record.op)) records.push_back(record);
  return records;
}

std::vector<sim::Call> SharedCalls(const sim::Trace& trace) {
  // Record by record, each run of identical calls unfolded only where it is kept.
  std::vector<sim::Call> calls;
  for (const sim::Call& record : trace.Calls()) {
    if (kOneSided.contains(record.op)) continue;
    sim::Call one = record;
    one.count = 1;
    calls.insert(calls.end(), record.count, one);
  }
  return calls;
}

Outcome RunHost(const sim::Machine& before, const Steps& steps, const Arm& arm) {
  Outcome outcome(before);
  sim::Machine& machine = outcome.machine;
  if (arm) arm(machine.faults());
  sim::ScriptedUser user(steps);
  // The program's process-wide state as a new process has it.
  g_confirmed = 1;
  g_removalRan = 0;
  try {
    sim::Activation active(machine);
    HINSTANCE instance = machine.ui().LoadModule(rk514::kResourceScript, rk514::kResourceHeader);
    machine.ui().SetUser(&user);
    outcome.exitCode = WinMain(instance, nullptr, const_cast<LPSTR>(""), SW_SHOWNORMAL);
  } catch (const std::exception& error) {
    outcome.error = error.what();
  }
  machine.ui().SetUser(nullptr);
  Record(outcome, user);
  return outcome;
}

Outcome RunEmulated(const sim::Machine& before, const Steps& steps, const Arm& arm, const emu::Limits& limits,
                    const emu::Program& program) {
  Outcome outcome(before);
  sim::Machine& machine = outcome.machine;
  if (arm) arm(machine.faults());
  sim::ScriptedUser user(steps);
  try {
    outcome.exitCode = emu::Run(program, machine, user, limits, &outcome.stats);
  } catch (const std::exception& error) {
    outcome.error = error.what();
  }
  Record(outcome, user);
  return outcome;
}

::testing::AssertionResult SameRun(const Outcome& host, const Outcome& emulated, Compare compare) {
  std::vector<std::string> differences;
  // A run that fails for the simulator's own reason (a message box the user has no answer for)
  // may agree with the other run failing alike, where faults are injected.
  const bool errorsAllowed = compare == Compare::kMachineAndDialogs && host.error == emulated.error;
  if ((!host.error.empty() || !emulated.error.empty()) && !errorsAllowed)
    differences.push_back("errors: host \"" + host.error + "\", emulated \"" + emulated.error + "\"");
  if (host.exitCode != emulated.exitCode)
    differences.push_back("exit codes: host " + std::to_string(host.exitCode) + ", emulated " +
                          std::to_string(emulated.exitCode));
  if (host.stepsLeft != emulated.stepsLeft)
    differences.push_back("the user's steps left: host " + std::to_string(host.stepsLeft) + ", emulated " +
                          std::to_string(emulated.stepsLeft));
  if (!host.machine.SameState(emulated.machine)) differences.push_back("the final machines differ");
  CompareLists("dialog", host.dialogs, emulated.dialogs, DialogText, differences);
  CompareLists("message box", host.boxes, emulated.boxes, BoxText, differences);
  CompareLists("restart request", host.restarts, emulated.restarts, [](UINT flags) { return std::to_string(flags); },
               differences);
  if (compare == Compare::kEverything) {
    // Walked as runs of identical calls, as the traces hold them, without unfolding either.
    const std::vector<sim::Call> h = SharedRecords(host.machine.trace());
    const std::vector<sim::Call> e = SharedRecords(emulated.machine.trace());
    std::size_t hi = 0, ei = 0, hUsed = 0, eUsed = 0, position = 0;
    while (hi < h.size() && ei < e.size() && h[hi].op == e[ei].op && h[hi].args == e[ei].args &&
           h[hi].result == e[ei].result) {
      const std::size_t step = std::min(h[hi].count - hUsed, e[ei].count - eUsed);
      position += step;
      hUsed += step;
      eUsed += step;
      if (hUsed == h[hi].count) ++hi, hUsed = 0;
      if (eUsed == e[ei].count) ++ei, eUsed = 0;
    }
    auto one = [](const std::vector<sim::Call>& calls, std::size_t i) {
      if (i == calls.size()) return std::string("(none)");
      sim::Call call = calls[i];
      call.count = 1;
      return call.ToString();
    };
    if (hi < h.size() || ei < e.size())
      differences.push_back("shared call " + std::to_string(position) + ": host " + one(h, hi) + "\n    emulated " +
                            one(e, ei));
  }
  if (differences.empty()) return ::testing::AssertionSuccess();
  ::testing::AssertionResult failure = ::testing::AssertionFailure();
  for (const std::string& difference : differences) failure << "\n  " << difference;
  return failure;
}

::testing::AssertionResult Agree(const sim::Machine& before, const Steps& steps, const Arm& arm, Compare compare) {
  emu::Limits limits;
  // A close or a free that is made to fail leaves its handle or block behind, as on Windows.
  limits.requireBalance = compare == Compare::kEverything;
  return SameRun(RunHost(before, steps, arm), RunEmulated(before, steps, arm, limits), compare);
}

}  // namespace emu_test
