// The ways through the program's dialogs that the flow tests take (tests/app/flow_test.cpp), as
// tables: what the user does, which platform calls fail, and what the run must come to. The
// emulated program runs the same tables (tests/emu).
#pragma once

#include <vector>

#include "sim/machine.h"
#include "stages.h"

namespace flow_cases {

using Step = sim::ScriptedUser::Step;

inline Step Press(const char* dialog, sim::Input::Kind kind, int afterTimerMessages = 0) {
  return Step{dialog, sim::Input{kind, 0}, 0, afterTimerMessages};
}
inline Step Click(const char* dialog, int button) { return Step{dialog, sim::Input{sim::Input::Button, button}, 0, 0}; }
inline Step Answer(int button) { return Step{"MessageBox", {}, button, 0}; }

inline constexpr char kAbortedTitle[] = "Disinstallation aborted";
inline constexpr char kSuccessTitle[] = "Disinstallation succeeded";

// The machine of the flow tests: a bare Windows 98 machine that holds one of the driver's files.
inline sim::Machine FlowMachine() {
  sim::Machine machine;
  machine.files.WriteFile(machine.systemDirectory + "\\" + SYSTEM_FILES[0], "driver file");
  return machine;
}

// OK, the removal, then the restart prompt: Yes asks Windows once for a restart, No does not.
struct PromptCase {
  const char* name;
  int answer;
  std::vector<UINT> restarts;
};
inline std::vector<PromptCase> PromptCases() {
  return {PromptCase{"No", IDNO, {}}, PromptCase{"Yes", IDYES, {EWX_REBOOT}}};
}

// Cancel, Escape and the caption's close button in the welcome dialog.
struct CancelCase {
  const char* name;
  Step step;
};
inline std::vector<CancelCase> CancelCases() {
  return {CancelCase{"CancelButton", Click("WELCOME", IDCANCEL)},
          CancelCase{"Escape", Press("WELCOME", sim::Input::Escape)},
          CancelCase{"CloseButton", Press("WELCOME", sim::Input::Close)}};
}

// Escape or the close button while the bar is still being paced.
struct EarlyCloseCase {
  const char* name;
  sim::Input::Kind kind;
  int afterTimerMessages;
};
inline std::vector<EarlyCloseCase> EarlyCloseCases() {
  return {EarlyCloseCase{"EscapeAtOnce", sim::Input::Escape, 0},
          EarlyCloseCase{"EscapeMidway", sim::Input::Escape, 35},
          EarlyCloseCase{"CloseAfterTheLastStep", sim::Input::Close, 70}};
}

// Where Windows refuses a call the flow relies on, the run still ends as the user chose it.
struct FaultCase {
  const char* name;
  void (*inject)(sim::Faults&);
  std::vector<Step> steps;
  int exitCode;
  bool removed;          // the removal ran, once
  const char* boxTitle;  // the one message shown, or none
  int stepIts;           // bar steps, or -1 without a progress dialog
};
inline std::vector<FaultCase> FaultCases() {
  return {
      // No timer: one tick of the dialog's own starts the removal at once, unpaced.
      FaultCase{"NoTimer",
                [](sim::Faults& f) { f.FailAll("SetTimer"); },
                {Click("WELCOME", IDOK), Answer(IDNO)},
                2,
                true,
                kSuccessTitle,
                0},
      // The close cannot be posted: the dialog ends itself right after the removal.
      FaultCase{"CloseNotPosted",
                [](sim::Faults& f) { f.FailAll("PostMessageA"); },
                {Click("WELCOME", IDOK), Answer(IDNO)},
                2,
                true,
                kSuccessTitle,
                70},
      // The timer cannot be stopped and the first close is refused: the dialog stays open
      // after the removal, its late ticks do nothing, and a close by the user changes nothing.
      FaultCase{"CloseAfterTheRemoval",
                [](sim::Faults& f) {
                  f.FailAll("KillTimer");
                  f.FailNth("EndDialog", 2);  // the first is the welcome dialog's
                },
                {Click("WELCOME", IDOK), Press("UNINSTALL", sim::Input::Escape, 90), Answer(IDNO)},
                2,
                true,
                kSuccessTitle,
                70},
      // A welcome dialog that never appeared is no consent.
      FaultCase{"NoWelcomeDialog", [](sim::Faults& f) { f.FailNth("DialogBoxParamA", 1); }, {}, -1, false, nullptr, -1},
      // A progress dialog that never appeared has removed nothing.
      FaultCase{"NoProgressDialog",
                [](sim::Faults& f) { f.FailNth("DialogBoxParamA", 2); },
                {Click("WELCOME", IDOK), Answer(IDOK)},
                -1,
                false,
                kAbortedTitle,
                -1},
  };
}

}  // namespace flow_cases
