// The whole program under a scripted user on a simulated Windows 98 machine that holds one of the
// driver's files: what each way through the dialogs leaves on the machine and shows the user.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app.h"
#include "embedded_resources.h"
#include "flow_cases.h"
#include "removal.h"
#include "sim/machine.h"
#include "stages.h"

namespace {

using flow_cases::Answer;
using flow_cases::Click;
using flow_cases::kAbortedTitle;
using flow_cases::kSuccessTitle;
using flow_cases::Press;
using Step = sim::ScriptedUser::Step;

const char kAbortedText[] = "The ZANTEROVA Karsenby RK514 driver has not been disinstalled and remains on your PC.";
const char kSuccessText[] =
    "The ZANTEROVA Karsenby RK514 driver has been correctly disinstalled.\n"
    "You must restart your PC to finish the disinstallation.\n\n"
    "Click on the 'Yes' button to reboot now.\n"
    "Choose 'No' if you want to continue working.\n\n"
    "The disinstallation will not be effective until you restart Windows.";

// The scripted user, with a watch: a dialog that never ends would keep the virtual clock
// ticking for ever, so the user gives up after a bound far beyond any run's length.
class PatientUser : public sim::User {
 public:
  explicit PatientUser(std::vector<Step> steps) : script_(std::move(steps)) {}
  std::optional<sim::Input> NextInput(const sim::DialogState& dialog, std::uint64_t nowMs) override {
    if (++asked_ > kAskLimit)
      throw std::runtime_error(dialog.tmpl.name + " was still open after " + std::to_string(kAskLimit) +
                               " idle moments");
    return script_.NextInput(dialog, nowMs);
  }
  int AnswerMessageBox(const sim::MessageBoxRecord& box) override { return script_.AnswerMessageBox(box); }
  void DialogClosed(const sim::DialogState& dialog) override { script_.DialogClosed(dialog); }
  std::string Expecting() const override { return script_.Expecting(); }
  std::size_t StepsLeft() const { return script_.StepsLeft(); }

 private:
  static constexpr int kAskLimit = 10000;  // a whole run has fewer than a hundred
  sim::ScriptedUser script_;
  int asked_ = 0;
};

class Flow : public ::testing::Test {
 protected:
  Flow() {
    product = machine.systemDirectory + "\\" + SYSTEM_FILES[0];
    untouched = machine;
    g_confirmed = 1;
    g_removalRan = 0;
    machine.trace().onCall = [this](const sim::Call& call) { OnCall(call); };
  }

  // Runs the program under a user taking these steps; fails where it ends with another exit
  // code or before the user has taken every step.
  ::testing::AssertionResult Run(std::vector<Step> steps, int exitCode) {
    PatientUser user(std::move(steps));
    machine.ui().SetUser(&user);
    HINSTANCE instance = machine.ui().LoadModule(rk514::kResourceScript, rk514::kResourceHeader);
    const int result = WinMain(instance, NULL, const_cast<LPSTR>(""), SW_SHOWNORMAL);
    machine.ui().SetUser(nullptr);
    std::string problems;
    if (result != exitCode) problems = "exit code " + std::to_string(result) + ", expected " + std::to_string(exitCode);
    if (user.StepsLeft() != 0)
      problems += (problems.empty() ? "" : "; ") + std::string("the program ended before the user was done: ") +
                  user.Expecting();
    if (problems.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << problems;
  }

  // The machine as one removal, and no more, leaves it.
  sim::Machine RemovedOnce() {
    sim::Machine expected = untouched;
    sim::Activation active(expected);
    RemoveProduct();
    return expected;
  }

  const sim::Ui& ui() { return machine.ui(); }
  static bool IsStepIt(const sim::Call& call) {
    return call.op == "SendMessageA" && call.args.size() > 1 && call.args[1] == "PBM_STEPIT";
  }
  int StepItCount(std::size_t dialog) {
    const sim::ControlState* bar = ui().closedDialogs.at(dialog).Control(IDC_PROGRESS);
    if (bar == nullptr) return -1;
    auto it = bar->messageCounts.find(PBM_STEPIT);
    return it == bar->messageCounts.end() ? 0 : it->second;
  }

  // What the program had done when certain calls were made.
  void OnCall(const sim::Call& call) {
    if (call.op == "GetVersionExA" && !removalStartedAt)  // the removal's first call
      removalStartedAt = machine.trace().Calls().size() - 1;
    if (call.op == "EndDialog") confirmedAtEndDialog.push_back(g_confirmed);
    if (call.op == "MessageBoxA") {
      confirmedAtMessageBox.push_back(g_confirmed);
      dialogsClosedAtMessageBox.push_back(machine.ui().closedDialogs.size());
    }
  }

  sim::Machine machine = flow_cases::FlowMachine();
  sim::Activation active{machine};
  std::string product;
  sim::Machine untouched;
  std::optional<std::size_t> removalStartedAt;
  std::vector<int> confirmedAtEndDialog, confirmedAtMessageBox;
  std::vector<std::size_t> dialogsClosedAtMessageBox;
};

// Every table's cases are named: the name is the test's and what a failure prints.
template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}
template <typename Case>
requires requires(const Case& c) { c.name; }
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// OK, the removal, then the restart prompt: Yes asks Windows once for a restart, No does not;
// either way the program ends with the progress dialog's result.
using flow_cases::PromptCase;
class ConfirmedRun : public Flow, public ::testing::WithParamInterface<PromptCase> {};

TEST_P(ConfirmedRun, RemovesOnceThenOffersTheRestart) {
  EXPECT_TRUE(Run({Click("WELCOME", IDOK), Answer(GetParam().answer)}, 2));

  EXPECT_FALSE(machine.files.Exists(product));
  EXPECT_TRUE(machine.SameState(RemovedOnce())) << "the removal ran more or less than once";
  ASSERT_EQ(ui().closedDialogs.size(), 2u);
  EXPECT_EQ(ui().closedDialogs[0].tmpl.name, "WELCOME");
  EXPECT_EQ(ui().closedDialogs[0].result, IDOK);
  EXPECT_EQ(ui().closedDialogs[1].tmpl.name, "UNINSTALL");
  EXPECT_EQ(ui().closedDialogs[1].result, 2);

  // The prompt: system-modal, owned by no window, shown once the progress dialog has gone.
  ASSERT_EQ(ui().messageBoxes.size(), 1u);
  const sim::MessageBoxRecord& box = ui().messageBoxes[0];
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_EQ(box.style, 0x1034u);
  EXPECT_EQ(box.title, kSuccessTitle);
  EXPECT_EQ(box.text, kSuccessText);
  EXPECT_EQ(dialogsClosedAtMessageBox, std::vector<std::size_t>{2});
  EXPECT_EQ(ui().exitWindowsRequests, GetParam().restarts);
}
INSTANTIATE_TEST_SUITE_P(Answers, ConfirmedRun, ::testing::ValuesIn(flow_cases::PromptCases()),
                         CaseName<PromptCase>);

// Cancel, Escape and the caption's close button in the welcome dialog: the aborted message,
// owned by the welcome dialog while it is still shown, and nothing else happens.
using flow_cases::CancelCase;
class WelcomeCancelled : public Flow, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(WelcomeCancelled, ShowsTheAbortedMessageAndRemovesNothing) {
  g_confirmed = 7;  // neither 1 nor 0: shows when the dialog procedure sets it
  EXPECT_TRUE(Run({GetParam().step, Answer(IDOK)}, 2));

  EXPECT_TRUE(machine.SameState(untouched));
  EXPECT_EQ(removalStartedAt, std::nullopt);
  ASSERT_EQ(ui().closedDialogs.size(), 1u) << "no progress dialog";
  EXPECT_EQ(ui().closedDialogs[0].result, IDCANCEL);
  ASSERT_EQ(ui().messageBoxes.size(), 1u);
  const sim::MessageBoxRecord& box = ui().messageBoxes[0];
  // Owned by the welcome dialog, which EndDialog has already hidden (it is destroyed only
  // once its procedure returns).
  EXPECT_EQ(box.owner, ui().closedDialogs[0].hwnd);
  EXPECT_FALSE(box.ownerShown);
  EXPECT_EQ(box.style, static_cast<UINT>(MB_OK));
  EXPECT_EQ(box.title, kAbortedTitle);
  EXPECT_EQ(box.text, kAbortedText);
  EXPECT_TRUE(ui().exitWindowsRequests.empty());

  // The flag changes only after the dialog has been told to end, and after the message.
  EXPECT_EQ(confirmedAtEndDialog, std::vector<int>{7});
  EXPECT_EQ(confirmedAtMessageBox, std::vector<int>{7});
  EXPECT_EQ(g_confirmed, 0);
}
INSTANTIATE_TEST_SUITE_P(Inputs, WelcomeCancelled, ::testing::ValuesIn(flow_cases::CancelCases()),
                         CaseName<CancelCase>);

TEST_F(Flow, OkSetsTheFlagOnlyAfterEndingTheDialog) {
  g_confirmed = 7;
  EXPECT_TRUE(Run({Press("WELCOME", sim::Input::Enter), Answer(IDNO)}, 2));
  ASSERT_FALSE(confirmedAtEndDialog.empty());
  EXPECT_EQ(confirmedAtEndDialog[0], 7);
  EXPECT_EQ(g_confirmed, 1);
  EXPECT_TRUE(machine.SameState(RemovedOnce()));
}

// The bar: its range and step, 70 steps in all, every one of them before the removal starts,
// and the removal on the 71st timer message, once the timer that paced the bar is stopped.
TEST_F(Flow, BarStepsSeventyTimesThenTheRemovalRuns) {
  EXPECT_TRUE(Run({Click("WELCOME", IDOK), Answer(IDNO)}, 2));
  ASSERT_EQ(ui().closedDialogs.size(), 2u);
  const sim::DialogState& progress = ui().closedDialogs[1];
  EXPECT_EQ(progress.caption, "Disinstalling the driver");
  EXPECT_EQ(progress.Control(IDC_STATUS_TEXT)->text,
            "The ZANTEROVA Karsenby RK514 driver is currently being disinstalled...");
  const sim::ControlState* bar = progress.Control(IDC_PROGRESS);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->rangeMin, 0);
  EXPECT_EQ(bar->rangeMax, 140);
  EXPECT_EQ(bar->step, -2);
  EXPECT_EQ(StepItCount(1), 70);
  EXPECT_EQ(progress.timerMessages, 71);

  ASSERT_TRUE(removalStartedAt.has_value());
  int stepsAfter = 0;
  const sim::Trace::Records calls = machine.trace().Calls();
  for (std::size_t i = *removalStartedAt; i < calls.size(); ++i) stepsAfter += IsStepIt(calls[i]);
  EXPECT_EQ(stepsAfter, 0);
  // KillTimer on the window and ID that SetTimer started, before the removal's first call: a
  // late tick never finds the removal running.
  std::optional<sim::Call> timer;
  std::optional<std::size_t> stoppedAt;
  for (std::size_t i = 0; i < calls.size() && !stoppedAt; ++i) {
    const sim::Call call = calls[i];
    if (call.op == "SetTimer" && !timer) timer = call;
    if (call.op == "KillTimer" && timer && call.args == std::vector<std::string>{timer->args[0], timer->args[1]})
      stoppedAt = i;
  }
  ASSERT_TRUE(timer.has_value());
  ASSERT_TRUE(stoppedAt.has_value()) << "the progress timer is never stopped";
  EXPECT_LT(*stoppedAt, *removalStartedAt);

  const sim::DialogState& welcome = ui().closedDialogs[0];
  EXPECT_EQ(welcome.caption, "Welcome to the disinstallation program");
  EXPECT_EQ(welcome.Control(IDC_WELCOME_TEXT)->text,
            "Click on the 'OK' button to start disinstalling the ZANTEROVA Karsenby RK514 driver.\n"
            "Click on the 'Cancel' button to quit the disinstallation procedure.");
}

// Escape or the close button while the bar is still being paced: the dialog ends with 2, the
// removal never runs, and the user is told that the driver remains, not offered a restart.
using flow_cases::EarlyCloseCase;
class EarlyClose : public Flow, public ::testing::WithParamInterface<EarlyCloseCase> {};

TEST_P(EarlyClose, ReportsThatNothingWasRemoved) {
  const EarlyCloseCase& c = GetParam();
  EXPECT_TRUE(Run({Click("WELCOME", IDOK), Press("UNINSTALL", c.kind, c.afterTimerMessages), Answer(IDOK)}, 2));

  EXPECT_TRUE(machine.SameState(untouched));
  EXPECT_EQ(removalStartedAt, std::nullopt);
  ASSERT_EQ(ui().closedDialogs.size(), 2u);
  EXPECT_EQ(ui().closedDialogs[1].result, 2);
  EXPECT_EQ(StepItCount(1), c.afterTimerMessages);
  ASSERT_EQ(ui().messageBoxes.size(), 1u);
  const sim::MessageBoxRecord& box = ui().messageBoxes[0];
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_EQ(box.style, static_cast<UINT>(MB_OK));
  EXPECT_EQ(box.title, kAbortedTitle);
  EXPECT_EQ(box.text, kAbortedText);
  EXPECT_TRUE(ui().exitWindowsRequests.empty());
}
INSTANTIATE_TEST_SUITE_P(Moments, EarlyClose, ::testing::ValuesIn(flow_cases::EarlyCloseCases()),
                         CaseName<EarlyCloseCase>);

// Where Windows refuses a call the flow relies on, the run still ends as the user chose it.
using flow_cases::FaultCase;
class Refused : public Flow, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(Refused, RunStillEndsAsTheUserChose) {
  const FaultCase& c = GetParam();
  c.inject(machine.faults());
  EXPECT_TRUE(Run(c.steps, c.exitCode));

  EXPECT_TRUE(machine.SameState(c.removed ? RemovedOnce() : untouched));
  EXPECT_EQ(removalStartedAt.has_value(), c.removed);
  if (c.boxTitle == nullptr) {
    EXPECT_TRUE(ui().messageBoxes.empty());
  } else {
    ASSERT_EQ(ui().messageBoxes.size(), 1u);
    EXPECT_EQ(ui().messageBoxes[0].title, c.boxTitle);
    EXPECT_EQ(ui().messageBoxes[0].owner, nullptr);
  }
  if (c.stepIts >= 0) {
    ASSERT_EQ(ui().closedDialogs.size(), 2u);
    EXPECT_EQ(ui().closedDialogs[1].result, 2);
    EXPECT_EQ(StepItCount(1), c.stepIts);
  }
}
INSTANTIATE_TEST_SUITE_P(Faults, Refused, ::testing::ValuesIn(flow_cases::FaultCases()), CaseName<FaultCase>);

}  // namespace
