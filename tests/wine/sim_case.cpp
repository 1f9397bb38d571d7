// Runs a case on the simulated machine: see sim_case.h.
#include "sim_case.h"

#include "app.h"
#include "embedded_resources.h"
#include "simulated_machine.h"

namespace wine {
namespace {

std::string Quoted(const std::string& text) { return "\"" + machines::EncodeBytes(text) + "\""; }

// The scripted user of the flow, who also writes down each window as it first shows, in the
// form the dialog driver prints under Wine.
class WatchingUser : public sim::ScriptedUser {
 public:
  using ScriptedUser::ScriptedUser;
  std::optional<sim::Input> NextInput(const sim::DialogState& dialog, std::uint64_t nowMs) override {
    if (dialog.hwnd != lastDialog_) {
      lastDialog_ = dialog.hwnd;
      std::string line = "dialog " + Quoted(dialog.caption);
      for (const sim::ControlState& control : dialog.controls) {
        if (control.tmpl.style & WS_VISIBLE)
          line += " | " + std::to_string(control.tmpl.id) + " " + Quoted(control.text);
      }
      windows.push_back(line);
    }
    return ScriptedUser::NextInput(dialog, nowMs);
  }
  int AnswerMessageBox(const sim::MessageBoxRecord& box) override {
    // The buttons of the two kinds of box the program shows, by their IDs.
    const UINT kind = box.style & 0xF;
    std::string line = "box " + Quoted(box.title) + " | " + Quoted(box.text) + " | buttons " +
                       (kind == MB_OK      ? "1"
                        : kind == MB_YESNO ? "6 7"
                                           : "(other)");
    line += box.owner ? " | owned" : " | unowned";
    // A system-modal box stays in front of every window (Windows gives it WS_EX_TOPMOST).
    line += (box.style & MB_SYSTEMMODAL) ? " | topmost" : " | normal";
    windows.push_back(line);
    return ScriptedUser::AnswerMessageBox(box);
  }
  std::vector<std::string> windows;

 private:
  HWND lastDialog_ = nullptr;
};

}  // namespace

std::vector<sim::ScriptedUser::Step> StepsOf(const std::string& flow) {
  using Step = sim::ScriptedUser::Step;
  if (flow == "ok-no") return {Step{"WELCOME", {sim::Input::Enter}}, Step{"MessageBox", {}, IDNO}};
  if (flow == "ok-yes") return {Step{"WELCOME", {sim::Input::Enter}}, Step{"MessageBox", {}, IDYES}};
  if (flow == "cancel") return {Step{"WELCOME", {sim::Input::Escape}}, Step{"MessageBox", {}, IDOK}};
  throw sim::Unmodelled("no flow " + flow);
}

SimRun RunInSimulator(const machines::Scenario& scenario, const std::string& flow) {
  SimRun run;
  sim::Machine machine = machines::MachineFor(scenario);
  const machines::Watch watch = machines::WatchFor(scenario);
  run.seeded = machines::DumpMachine(machine, watch);

  WatchingUser user(StepsOf(flow));
  int exitCode = 0;
  {
    sim::Activation active(machine);
    HINSTANCE instance = machine.ui().LoadModule(rk514::kResourceScript, rk514::kResourceHeader);
    machine.ui().SetUser(&user);
    char commandLine[] = "";
    exitCode = WinMain(instance, nullptr, commandLine, SW_SHOWNORMAL);
    machine.ui().SetUser(nullptr);
  }
  // Yes in the restart prompt: Windows restarts once the program has ended, and works through
  // wininit.ini on the way up (under Wine, ExitWindowsEx ends the session through wineboot
  // --end-session, and the next program to start begins a new one).
  if (!machine.ui().exitWindowsRequests.empty()) machines::StartWindowsAgain(machine);
  run.after = machines::DumpMachine(machine, watch);
  run.after.Set("exit", std::to_string(exitCode));
  run.after.Set("restart", std::to_string(machine.ui().exitWindowsRequests.size()));
  for (std::size_t i = 0; i < user.windows.size(); ++i) run.after.Set("ui " + std::to_string(i + 1), user.windows[i]);

  machines::StartWindowsAgain(machine);
  run.next = machines::DumpMachine(machine, watch);
  return run;
}

bool LoadExpected(const std::string& expectedDir, const std::string& name, const machines::StateDump& seeded,
                  machines::StateDump& expected, std::string& error) {
  std::string text;
  if (!machines::ReadFileBytes(expectedDir + "/" + name, text)) {
    error = expectedDir + "/" + name + ": cannot be read";
    return false;
  }
  int depth = 0;
  machines::BaseResolver resolve = [&](const std::string& base, machines::StateDump& into, std::string& baseError) {
    if (base == "seeded") {
      into = seeded;
      return true;
    }
    if (++depth > 8) {
      baseError = "expected states include each other";
      return false;
    }
    return LoadExpected(expectedDir, base, seeded, into, baseError);
  };
  return machines::ReadExpected(text, name, resolve, expected, error);
}

}  // namespace wine
