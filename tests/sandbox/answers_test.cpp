// --answers: the words it takes, and whole runs of the program on the Windows 98 sample machine
// answered from a list: what the program then showed and did, and the lists that do not fit.
#include <gtest/gtest.h>

#include "answers.h"
#include "program.h"
#include "sandbox_test_util.h"

namespace {

using sandbox::Answer;
using sandbox::AnswerError;

TEST(ParseAnswers, ReadsWordsCountsAndLetterCase) {
  std::vector<Answer> answers = sandbox::ParseAnswers("OK, escape@20,no,Esc,close,enter,yes,cancel");
  std::vector<Answer::Kind> kinds;
  for (const Answer& a : answers) kinds.push_back(a.kind);
  EXPECT_EQ(kinds, (std::vector<Answer::Kind>{Answer::Ok, Answer::Escape, Answer::No, Answer::Escape, Answer::Close,
                                              Answer::Enter, Answer::Yes, Answer::Cancel}));
  EXPECT_EQ(answers[1].afterTimerMessages, 20);
  EXPECT_EQ(answers[0].afterTimerMessages, 0);
}

TEST(ParseAnswers, RefusesWhatIsNoAnswer) {
  struct Case {
    const char* list;
    const char* message;
  } cases[] = {
      {"", "answer 1 is empty"},
      {"ok,,no", "answer 2 is empty"},
      {"ok,", "answer 2 is empty"},
      {"okay", "answer 1 (\"okay\") is not one of"},
      {"ok,maybe", "answer 2 (\"maybe\")"},
      {"escape@", "@ must be followed by a count"},
      {"escape@x", "@ must be followed by a count"},
      {"escape@-3", "@ must be followed by a count"},
      {"escape@5s", "@ must be followed by a count"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list);
    try {
      sandbox::ParseAnswers(c.list);
      ADD_FAILURE() << "accepted";
    } catch (const AnswerError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

struct RunCase {
  const char* name;
  const char* answers;
  bool removalRan;
  std::vector<std::string> shown;  // caption: inputs, in the order the windows appeared
  std::vector<unsigned> restarts;
};

std::vector<std::string> Shown(const std::vector<sandbox::Shown>& transcript) {
  std::vector<std::string> lines;
  for (const sandbox::Shown& s : transcript) {
    std::string line = s.caption + ":";
    for (const std::string& input : s.inputs) line += " " + input;
    if (s.kind == sandbox::Shown::Dialog) line += " (" + std::to_string(s.timerMessages) + ")";
    lines.push_back(line);
  }
  return lines;
}

TEST(AnsweredRuns, TheProgramSeesTheAnswersAsInput) {
  const char* welcome = "Welcome to the disinstallation program:";
  const RunCase cases[] = {
      {"ok, then no",
       "ok,no",
       true,
       {std::string(welcome) + " OK (0)", "Disinstalling the driver: (71)", "Disinstallation succeeded: No"},
       {}},
      {"enter, then yes",
       "enter,yes",
       true,
       {std::string(welcome) + " Enter (0)", "Disinstalling the driver: (71)", "Disinstallation succeeded: Yes"},
       {EWX_REBOOT}},
      {"cancel", "cancel,ok", false, {std::string(welcome) + " Cancel (0)", "Disinstallation aborted: OK"}, {}},
      {"escape", "escape,enter", false, {std::string(welcome) + " Escape (0)", "Disinstallation aborted: OK"}, {}},
      {"close button",
       "close,escape",
       false,
       {std::string(welcome) + " the close button (0)", "Disinstallation aborted: OK"},
       {}},
      {"progress closed early",
       "ok,escape@20,ok",
       false,
       {std::string(welcome) + " OK (0)", "Disinstalling the driver: Escape (20)", "Disinstallation aborted: OK"},
       {}},
      {"progress closed at once",
       "ok,close,ok",
       false,
       {std::string(welcome) + " OK (0)", "Disinstalling the driver: the close button (0)",
        "Disinstallation aborted: OK"},
       {}},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine machine = sandbox_test::Sample("win98");
    sandbox::AnswersUser user(sandbox::ParseAnswers(c.answers), machine.ui());
    sandbox::ProgramRun run = sandbox::RunUninstaller(machine, user);
    EXPECT_NO_THROW(user.CheckAllUsed());
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.removalRan, c.removalRan);
    EXPECT_EQ(machine.files.Exists("C:\\WINDOWS\\SYSTEM\\KB47RK.DRV"), !c.removalRan);
    EXPECT_EQ(Shown(user.Transcript()), c.shown);
    EXPECT_EQ(machine.ui().exitWindowsRequests, c.restarts);
  }
}

TEST(AnsweredRuns, ListsThatDoNotFitNameTheWordAndTheWindow) {
  struct Case {
    const char* answers;
    std::vector<std::string> message;  // parts of it
  } cases[] = {
      {"ok", {"the list ended", "\"Disinstallation succeeded\"", "yes, no"}},
      {"cancel", {"the list ended", "\"Disinstallation aborted\"", "ok"}},
      {"ok,ok", {"answer 2 (\"ok\") does not fit the message box \"Disinstallation succeeded\"", "yes, no"}},
      {"yes",
       {"answer 1 (\"yes\") does not fit the dialog \"Welcome to the disinstallation program\" (WELCOME)",
        "ok, cancel, enter, escape, close"}},
      {"ok,no,no", {"1 answer(s) unused: no"}},
      {"cancel,ok,ok,yes", {"2 answer(s) unused: ok,yes"}},
      {"ok,escape@100,ok", {"answer 2 (\"escape@100\") was waiting for timer messages", "closed after 71"}},
      {"escape@3", {"answer 1 (\"escape@3\") waits for timer messages", "has no timer running"}},
      // Enter fits the progress dialog too, which takes it and goes on: the message says so.
      {"ok,enter",
       {"the list ended", "answer 1 (\"ok\") went to the dialog \"Welcome to the disinstallation program\"",
        "answer 2 (\"enter\") went to the dialog \"Disinstalling the driver\" (UNINSTALL)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answers);
    sim::Machine machine = sandbox_test::Sample("win98");
    sandbox::AnswersUser user(sandbox::ParseAnswers(c.answers), machine.ui());
    try {
      sandbox::RunUninstaller(machine, user);
      user.CheckAllUsed();
      ADD_FAILURE() << "the list was taken";
    } catch (const AnswerError& e) {
      for (const std::string& part : c.message)
        EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
    }
  }
}

}  // namespace
