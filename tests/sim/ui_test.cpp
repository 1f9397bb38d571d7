// The simulated window manager: the progress bar's own rules, the order in which the modal loop
// delivers messages, what the user's keys and buttons send, the errors for what nobody answers,
// the missing window class, and each injected fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sim/machine.h"
#include "win32.h"

namespace {

using sim::Input;
using sim::ScriptedUser;
using Step = sim::ScriptedUser::Step;

constexpr int IDC_TEXT = 1000, IDC_GO = 1001, IDC_OFF = 1002, IDC_BAR = 1008;
constexpr UINT WM_SETFONT_ = 0x0030;
constexpr UINT WM_TEST = WM_USER + 100;

constexpr const char* kHeader =
    "#define IDC_TEXT 1000\n#define IDC_GO 1001\n#define IDC_OFF 1002\n#define IDC_BAR 1008\n";
constexpr const char* kScript = R"rc(
MAIN DIALOG 0, 0, 100, 50
STYLE WS_POPUP | WS_CAPTION | WS_SYSMENU
CAPTION "Main"
BEGIN
    DEFPUSHBUTTON "OK", IDOK, 1, 1, 10, 10
    PUSHBUTTON "Cancel", IDCANCEL, 1, 1, 10, 10
    LTEXT "text", IDC_TEXT, 1, 1, 10, 10
END

OTHERDEFAULT DIALOG 0, 0, 100, 50
STYLE WS_POPUP | WS_CAPTION | WS_SYSMENU
CAPTION "Other"
BEGIN
    PUSHBUTTON "OK", IDOK, 1, 1, 10, 10
    DEFPUSHBUTTON "Go", IDC_GO, 1, 1, 10, 10
    PUSHBUTTON "Off", IDC_OFF, 1, 1, 10, 10, WS_DISABLED
END

PLAIN DIALOG 0, 0, 100, 50
STYLE WS_POPUP
CAPTION "Plain"
BEGIN
    PUSHBUTTON "Go", IDC_GO, 1, 1, 10, 10
END

BAR DIALOGEX 0, 0, 100, 50
STYLE WS_POPUP | WS_CAPTION | WS_SYSMENU
CAPTION "Bar"
BEGIN
    LTEXT "status", IDC_TEXT, 1, 1, 10, 10
    CONTROL "Progress1", IDC_BAR, "msctls_progress32", WS_BORDER, 1, 1, 10, 10
END

100 DIALOG 0, 0, 10, 10
CAPTION "Numbered"
BEGIN
END
)rc";

// What the dialog procedure of a test received, and what it does.
struct Received {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  std::uint64_t nowMs;
};
std::vector<Received> g_received;
std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> g_handler;

// Sets g_handler to act on each message and answer FALSE, as most of these dialogs do.
void OnMessage(std::function<void(HWND, UINT, WPARAM)> act) {
  g_handler = [act = std::move(act)](HWND window, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
    act(window, message, wParam);
    return FALSE;
  };
}

INT_PTR CALLBACK TestProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  g_received.push_back({window, message, wParam, lParam, sim::Current().ui().nowMs});
  return g_handler ? g_handler(window, message, wParam, lParam) : FALSE;
}

std::vector<UINT> Messages() {
  std::vector<UINT> messages;
  for (const Received& r : g_received) messages.push_back(r.message);
  return messages;
}

int CountOf(UINT message) {
  int count = 0;
  for (const Received& r : g_received) count += r.message == message;
  return count;
}

// A machine with the test script loaded and a fresh procedure.
struct Desk {
  sim::Machine machine;
  sim::Activation active{machine};
  HINSTANCE module;
  Desk() : module(machine.ui().LoadModule(kScript, kHeader)) {
    g_received.clear();
    g_handler = nullptr;
  }
  ~Desk() { g_handler = nullptr; }
  INT_PTR Show(LPCSTR name) { return DialogBoxParamA(module, name, nullptr, TestProc, 0); }
  sim::Ui& ui() { return machine.ui(); }
  const sim::DialogState& Last() { return ui().closedDialogs.back(); }
};

// Runs body on the open dialog at WM_INITDIALOG, then ends it.
void AtInit(Desk& desk, const char* name, const std::function<void(HWND)>& body) {
  OnMessage([&](HWND window, UINT message, WPARAM) {
    if (message == WM_INITDIALOG) {
      body(window);
      EndDialog(window, 1);
    }
  });
  ASSERT_EQ(desk.Show(name), 1);
}

std::string UnansweredText(const std::function<void()>& run) {
  try {
    run();
  } catch (const sim::Unanswered& error) {
    return error.what();
  }
  return "(nothing thrown)";
}

TEST(ProgressBar, KeepsItsPositionByItsOwnRules) {
  struct Case {
    const char* what;
    int min, max, step, start;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result;
    int pos, rangeMin, rangeMax, stepAfter;
  };
  const Case cases[] = {
      {"-2 from 0 wraps to the top", 0, 140, -2, 0, PBM_STEPIT, 0, 0, 0, 138, 0, 140, -2},
      {"-2 from 138", 0, 140, -2, 138, PBM_STEPIT, 0, 0, 138, 136, 0, 140, -2},
      {"-2 from 1 goes on from the maximum", 0, 140, -2, 1, PBM_STEPIT, 0, 0, 1, 139, 0, 140, -2},
      {"-300 wraps by the range", 0, 140, -300, 0, PBM_STEPIT, 0, 0, 0, 120, 0, 140, -300},
      {"+10 past the maximum goes on from the minimum", 0, 140, 10, 135, PBM_STEPIT, 0, 0, 135, 5, 0, 140, 10},
      {"+10 onto the maximum stays there", 0, 140, 10, 130, PBM_STEPIT, 0, 0, 130, 140, 0, 140, 10},
      {"wrap upward in 10..20", 10, 20, 3, 19, PBM_STEPIT, 0, 0, 19, 12, 10, 20, 3},
      {"wrap downward in 10..20", 10, 20, -3, 11, PBM_STEPIT, 0, 0, 11, 18, 10, 20, -3},
      {"an empty range does not move", 5, 5, 1, 5, PBM_STEPIT, 0, 0, 5, 5, 5, 5, 1},
      {"a smaller range clamps the position", 0, 100, 10, 100, PBM_SETRANGE, 0, MAKELPARAM(0, 50), MAKELPARAM(0, 100),
       50, 0, 50, 10},
      {"a higher minimum clamps the position", 0, 100, 10, 0, PBM_SETRANGE, 0, MAKELPARAM(20, 80), MAKELPARAM(0, 100),
       20, 20, 80, 10},
      {"SETPOS past the maximum clamps", 0, 140, 10, 0, PBM_SETPOS, 500, 0, 0, 140, 0, 140, 10},
      {"DELTAPOS below the minimum clamps", 0, 140, 10, 70, PBM_DELTAPOS, static_cast<WPARAM>(-500), 0, 70, 0, 0, 140,
       10},
      {"SETSTEP 0xFFFFFFFE is -2", 0, 140, 10, 0, PBM_SETSTEP, 0xFFFFFFFE, 0, 10, 0, 0, 140, -2},
      {"GETPOS", 0, 140, 10, 70, PBM_GETPOS, 0, 0, 70, 70, 0, 140, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Desk desk;
    InitCommonControls();
    LRESULT result = -12345;
    AtInit(desk, "BAR", [&](HWND dialog) {
      HWND bar = GetDlgItem(dialog, IDC_BAR);
      SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(c.min, c.max));
      SendMessageA(bar, PBM_SETSTEP, static_cast<WPARAM>(c.step), 0);
      SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(c.start), 0);
      result = SendMessageA(bar, c.message, c.wParam, c.lParam);
    });
    const sim::ControlState* bar = desk.Last().Control(IDC_BAR);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(bar->pos, c.pos);
    EXPECT_EQ(bar->rangeMin, c.rangeMin);
    EXPECT_EQ(bar->rangeMax, c.rangeMax);
    EXPECT_EQ(bar->step, c.stepAfter);
  }
}

// A new bar is 0..100, step 10, at 0; seventy steps of -2 in 0..140 go round once to 0.
TEST(ProgressBar, SeventyStepsOfMinusTwoFromANewBar) {
  Desk desk;
  InitCommonControls();
  LRESULT oldRange = 0, oldStep = 0;
  std::vector<int> positions;
  AtInit(desk, "BAR", [&](HWND dialog) {
    HWND bar = GetDlgItem(dialog, IDC_BAR);
    oldRange = SendMessageA(bar, PBM_SETRANGE, 0, 0x008C0000);
    oldStep = SendMessageA(bar, PBM_SETSTEP, 0xFFFFFFFE, 0);
    for (int i = 0; i < 70; ++i) {
      SendMessageA(bar, PBM_STEPIT, 0, 0);
      positions.push_back(static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0)));
    }
  });
  EXPECT_EQ(oldRange, MAKELPARAM(0, 100));
  EXPECT_EQ(oldStep, 10);
  ASSERT_EQ(positions.size(), 70u);
  for (int i = 0; i < 70; ++i) EXPECT_EQ(positions[static_cast<std::size_t>(i)], 138 - 2 * i) << "step " << i + 1;
  EXPECT_EQ(desk.Last().Control(IDC_BAR)->messageCounts.at(PBM_STEPIT), 70);
}

TEST(Controls, KeepTheirTextAndCountWhatTheyReceive) {
  Desk desk;
  char text[6] = "-----", untouched[4] = "abc";
  LRESULT copied = -1, none = -1, unmodelled = -1, unknownWindow = -1, staticStep = -1;
  HWND missing = reinterpret_cast<HWND>(1);
  char caption[32] = {};
  AtInit(desk, "MAIN", [&](HWND dialog) {
    HWND label = GetDlgItem(dialog, IDC_TEXT);
    SendMessageA(label, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Hello"));
    copied = SendMessageA(label, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    none = SendMessageA(label, WM_GETTEXT, 0, reinterpret_cast<LPARAM>(untouched));
    SetWindowTextA(label, "Hello again");
    unmodelled = SendMessageA(label, WM_SETFONT_, 0, 0);
    staticStep = SendMessageA(label, PBM_SETPOS, 5, 0);  // a static is no progress bar
    unknownWindow = SendMessageA(reinterpret_cast<HWND>(0x7777), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("x"));
    missing = GetDlgItem(dialog, 4242);
    SetWindowTextA(dialog, "New caption");
    SendMessageA(dialog, WM_GETTEXT, sizeof caption, reinterpret_cast<LPARAM>(caption));
  });
  EXPECT_EQ(copied, 5);
  EXPECT_STREQ(text, "Hello");
  EXPECT_EQ(none, 0);
  EXPECT_STREQ(untouched, "abc");
  EXPECT_EQ(unmodelled, 0);
  EXPECT_EQ(staticStep, 0);
  EXPECT_EQ(unknownWindow, 0);
  EXPECT_EQ(missing, nullptr);
  EXPECT_STREQ(caption, "New caption");

  const sim::DialogState& dialog = desk.Last();
  EXPECT_EQ(dialog.caption, "New caption");
  const sim::ControlState* label = dialog.Control(IDC_TEXT);
  EXPECT_EQ(label->text, "Hello again");
  EXPECT_EQ(label->pos, 0);
  EXPECT_EQ(label->messageCounts,
            (std::map<UINT, int>{{WM_SETTEXT, 2}, {WM_GETTEXT, 2}, {WM_SETFONT_, 1}, {PBM_SETPOS, 1}}));
  EXPECT_EQ(dialog.Control(IDOK)->text, "OK");  // the template's text until something sets it
  // The dialog's caption is set through its own WM_SETTEXT, which the procedure sees.
  EXPECT_EQ(CountOf(WM_SETTEXT), 1);

  // Every window has its own handle, and a dialog shown again gets new ones.
  std::set<HWND> handles = {dialog.hwnd};
  for (const sim::ControlState& control : dialog.controls) handles.insert(control.hwnd);
  AtInit(desk, "MAIN", [](HWND) {});
  handles.insert(desk.Last().hwnd);
  for (const sim::ControlState& control : desk.Last().controls) handles.insert(control.hwnd);
  EXPECT_EQ(handles.size(), 8u);
  EXPECT_EQ(handles.count(nullptr), 0u);
}

// Posted messages come first, in order; timers only when nothing is queued; EndDialog ends the
// loop after the message that called it; a message box during that message still has its owner,
// but the owner is hidden already.
TEST(ModalLoop, PostedMessagesThenTimersAndEndingAfterTheCurrentMessage) {
  Desk desk;
  ScriptedUser user({{"MessageBox", {}, IDOK}});
  desk.ui().SetUser(&user);
  int ticks = 0;
  BOOL endedInside = FALSE;
  HWND shown = nullptr;
  OnMessage([&](HWND window, UINT message, WPARAM) {
    if (message == WM_INITDIALOG) {
      shown = window;
      SetTimer(window, 1, 1, nullptr);
      PostMessageA(window, WM_TEST + 0, 0, 0);
      PostMessageA(window, WM_TEST + 1, 0, 0);
    } else if (message == WM_TIMER && ++ticks == 2) {
      PostMessageA(window, WM_TEST + 2, 0, 0);
    } else if (message == WM_TEST + 2) {
      endedInside = EndDialog(window, 7);
      MessageBoxA(window, "inside", "Ending", MB_OK);
      PostMessageA(window, WM_TEST + 3, 0, 0);  // never delivered: the dialog is gone by then
    }
  });
  EXPECT_EQ(desk.Show("MAIN"), 7);
  EXPECT_TRUE(endedInside);
  EXPECT_EQ(Messages(), (std::vector<UINT>{WM_INITDIALOG, WM_TEST + 0, WM_TEST + 1, WM_TIMER, WM_TIMER, WM_TEST + 2}));
  EXPECT_EQ(g_received[3].nowMs, 55u);
  EXPECT_EQ(g_received[4].nowMs, 110u);
  ASSERT_EQ(desk.ui().messageBoxes.size(), 1u);
  EXPECT_EQ(desk.ui().messageBoxes[0].owner, shown);
  EXPECT_FALSE(desk.ui().messageBoxes[0].ownerShown) << "EndDialog hides the dialog at once";
  const sim::DialogState& closed = desk.Last();
  EXPECT_TRUE(closed.ended);
  EXPECT_EQ(closed.result, 7);
  EXPECT_EQ(closed.timerMessages, 2);
  EXPECT_EQ(user.StepsLeft(), 0u);
  EXPECT_EQ(desk.ui().OpenDialog(shown), nullptr);

  // Once closed, the handle owns nothing: a box for it fails, and its leftover message and timer
  // reach no later dialog.
  EXPECT_EQ(MessageBoxA(shown, "late", "Late", MB_OK), 0);
  EXPECT_EQ(desk.ui().messageBoxes.size(), 1u);
  g_received.clear();
  OnMessage([&](HWND window, UINT message, WPARAM) {
    if (message == WM_INITDIALOG) PostMessageA(window, WM_TEST + 9, 0, 0);
    if (message == WM_TEST + 9) EndDialog(window, 1);
  });
  EXPECT_EQ(desk.Show("PLAIN"), 1);
  EXPECT_EQ(Messages(), (std::vector<UINT>{WM_INITDIALOG, WM_TEST + 9}));
  EXPECT_EQ(desk.ui().nowMs, 110u);
}

TEST(ModalLoop, TimerPeriodIsNeverShorterThanTheGranularity) {
  struct Case {
    std::uint32_t granularityMs;
    UINT elapseMs;
    std::uint64_t periodMs;
  };
  const Case cases[] = {{55, 1, 55}, {55, 0, 55}, {55, 100, 100}, {10, 1, 10}, {1, 1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE("granularity " + std::to_string(c.granularityMs) + ", elapse " + std::to_string(c.elapseMs));
    Desk desk;
    desk.ui().timerGranularityMs = c.granularityMs;
    desk.ui().nowMs = 1000;
    std::vector<std::uint64_t> times;
    OnMessage([&](HWND window, UINT message, WPARAM) {
      if (message == WM_INITDIALOG) SetTimer(window, 1, c.elapseMs, nullptr);
      if (message == WM_TIMER) times.push_back(desk.ui().nowMs);
      if (times.size() == 3) EndDialog(window, 1);
    });
    desk.Show("MAIN");
    EXPECT_EQ(times, (std::vector<std::uint64_t>{1000 + c.periodMs, 1000 + 2 * c.periodMs, 1000 + 3 * c.periodMs}));
    EXPECT_EQ(desk.Last().shownAtMs, 1000u);
  }
}

TEST(ModalLoop, TimersRunSideBySideUntilKilled) {
  Desk desk;
  std::vector<std::pair<WPARAM, std::uint64_t>> ticks;
  BOOL killed = FALSE, killedUnknown = TRUE;
  OnMessage([&](HWND window, UINT message, WPARAM wParam) {
    if (message == WM_INITDIALOG) {
      SetTimer(window, 1, 100, nullptr);
      SetTimer(window, 2, 1, nullptr);
    } else if (message == WM_TIMER) {
      ticks.emplace_back(wParam, desk.ui().nowMs);
      if (ticks.size() == 4) {
        killed = KillTimer(window, 1);
        killedUnknown = KillTimer(window, 9);
      }
      if (ticks.size() == 6) EndDialog(window, 1);
    }
  });
  desk.Show("MAIN");
  EXPECT_TRUE(killed);
  EXPECT_FALSE(killedUnknown);
  using Tick = std::pair<WPARAM, std::uint64_t>;
  EXPECT_EQ(ticks, (std::vector<Tick>{{2, 55}, {1, 100}, {2, 110}, {2, 165}, {2, 220}, {2, 275}}));
}

TEST(ModalLoop, EndingADialogStopsItsTimers) {
  Desk desk;
  ScriptedUser user({});
  desk.ui().SetUser(&user);
  OnMessage([](HWND window, UINT message, WPARAM) {
    if (message == WM_INITDIALOG) {
      SetTimer(window, 1, 1, nullptr);
      EndDialog(window, 3);
    }
  });
  EXPECT_EQ(desk.Show("MAIN"), 3);
  g_handler = nullptr;
  // Had MAIN's timer outlived it, the clock would run on instead of PLAIN being left unanswered.
  std::string error = UnansweredText([&] { desk.Show("PLAIN"); });
  EXPECT_NE(error.find("PLAIN \"Plain\""), std::string::npos) << error;
  EXPECT_EQ(desk.ui().nowMs, 0u);
  EXPECT_EQ(CountOf(WM_TIMER), 0);
}

// The user's ways of answering a dialog, and what each sends to the procedure.
TEST(Input, ButtonsEnterEscapeAndTheCloseButton) {
  struct Case {
    const char* what;
    const char* dialog;
    Input input;
    int command;
    int fromControl;  // the control whose handle comes in lParam, 0 for none
    std::vector<UINT> messages;
  };
  const std::vector<UINT> direct = {WM_INITDIALOG, WM_COMMAND};
  const std::vector<UINT> closing = {WM_INITDIALOG, WM_SYSCOMMAND, WM_CLOSE, WM_COMMAND};
  const Case cases[] = {
      {"Cancel button", "MAIN", {Input::Button, IDCANCEL}, IDCANCEL, IDCANCEL, direct},
      {"OK button", "MAIN", {Input::Button, IDOK}, IDOK, IDOK, direct},
      {"Enter presses the default button", "MAIN", {Input::Enter}, IDOK, IDOK, direct},
      {"Enter with another default button", "OTHERDEFAULT", {Input::Enter}, IDC_GO, IDC_GO, direct},
      {"Enter without a default button", "PLAIN", {Input::Enter}, IDOK, 0, direct},
      {"Escape", "MAIN", {Input::Escape}, IDCANCEL, IDCANCEL, direct},
      {"Escape without a Cancel button", "PLAIN", {Input::Escape}, IDCANCEL, 0, direct},
      {"close button", "MAIN", {Input::Close}, IDCANCEL, IDCANCEL, closing},
      {"close button without a Cancel button", "BAR", {Input::Close}, IDCANCEL, 0, closing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Desk desk;
    InitCommonControls();
    ScriptedUser user({{c.dialog, c.input}});
    desk.ui().SetUser(&user);
    OnMessage([](HWND window, UINT message, WPARAM wParam) {
      if (message == WM_COMMAND) EndDialog(window, static_cast<INT_PTR>(wParam));
    });
    EXPECT_EQ(desk.Show(c.dialog), MAKEWPARAM(c.command, 0));
    EXPECT_EQ(Messages(), c.messages);
    const sim::ControlState* from = c.fromControl == 0 ? nullptr : desk.Last().Control(c.fromControl);
    EXPECT_EQ(g_received.back().lParam, reinterpret_cast<LPARAM>(from == nullptr ? nullptr : from->hwnd));
  }
}

// A procedure that takes WM_CLOSE for itself keeps its dialog open against the close button.
TEST(Input, CloseButtonDoesNothingWhenTheProcedureTakesWmClose) {
  Desk desk;
  ScriptedUser user({{"MAIN", {Input::Close}}});
  desk.ui().SetUser(&user);
  g_handler = [](HWND window, UINT message, WPARAM, LPARAM) -> INT_PTR {
    if (message == WM_COMMAND) EndDialog(window, 1);
    return message == WM_CLOSE;
  };
  std::string error = UnansweredText([&] { desk.Show("MAIN"); });
  EXPECT_NE(error.find("MAIN \"Main\" waits for input"), std::string::npos) << error;
  EXPECT_EQ(Messages(), (std::vector<UINT>{WM_INITDIALOG, WM_SYSCOMMAND, WM_CLOSE}));
}

TEST(Input, WhatADialogDoesNotOfferIsAnError) {
  struct Case {
    const char* dialog;
    Input input;
    const char* message;
  };
  const Case cases[] = {
      {"PLAIN", {Input::Close}, "the user closed PLAIN \"Plain\", which has no close button"},
      {"MAIN", {Input::Button, 4242}, "the user pressed button 4242 of MAIN \"Main\", which has no such button"},
      {"MAIN", {Input::Button, IDC_TEXT}, "the user pressed button 1000 of MAIN \"Main\", which has no such button"},
      {"OTHERDEFAULT",
       {Input::Button, IDC_OFF},
       "the user pressed button 1002 of OTHERDEFAULT \"Other\", which is disabled"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Desk desk;
    ScriptedUser user({{c.dialog, c.input}});
    desk.ui().SetUser(&user);
    EXPECT_EQ(UnansweredText([&] { desk.Show(c.dialog); }), c.message);
    EXPECT_EQ(CountOf(WM_COMMAND), 0);
  }
}

TEST(ScriptedUser, GivesADialogItsInputAfterItsTimerMessages) {
  Desk desk;
  ScriptedUser user({{"MAIN", {Input::Escape}, 0, 5}});
  desk.ui().SetUser(&user);
  g_handler = [](HWND window, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
    if (message == WM_INITDIALOG) SetTimer(window, 1, 1, nullptr);
    if (message == WM_COMMAND && wParam == IDCANCEL) EndDialog(window, 2);
    return FALSE;
  };
  EXPECT_EQ(desk.Show("MAIN"), 2);
  EXPECT_EQ(desk.Last().timerMessages, 5);
  EXPECT_EQ(desk.ui().nowMs, 275u);
  EXPECT_EQ(user.StepsLeft(), 0u);
}

// The user is told of every change, and of the dialog as it closed.
TEST(ScriptedUser, SeesEachChangeAndTheClosedDialog) {
  struct Watcher : ScriptedUser {
    using ScriptedUser::ScriptedUser;
    std::vector<std::string> seen;
    void DialogChanged(const sim::DialogState& dialog, std::uint64_t nowMs) override {
      seen.push_back(dialog.caption + "@" + std::to_string(nowMs));
    }
    void DialogClosed(const sim::DialogState& dialog) override {
      seen.push_back("closed " + std::to_string(dialog.result));
      ScriptedUser::DialogClosed(dialog);
    }
  } user(std::vector<Step>{});
  Desk desk;
  desk.ui().SetUser(&user);
  OnMessage([&](HWND window, UINT message, WPARAM) {
    if (message == WM_INITDIALOG) {
      SetWindowTextA(window, "Set");
      SetTimer(window, 1, 1, nullptr);
    }
    if (message == WM_TIMER && desk.ui().nowMs == 110) EndDialog(window, 4);
  });
  desk.Show("MAIN");
  EXPECT_EQ(user.seen, (std::vector<std::string>{"Set@0", "Set@55", "Set@110", "closed 4"}));
}

TEST(Unanswered, NamesWhatWasShownAndWhatTheScriptExpected) {
  struct Case {
    const char* what;
    std::vector<Step> steps;
    std::function<void(Desk&)> run;
    const char* message;
  };
  auto show = [](const char* name) { return [name](Desk& desk) { desk.Show(name); }; };
  auto box = [](UINT style) { return [style](Desk&) { MessageBoxA(nullptr, "Body", "Title", style); }; };
  const Case cases[] = {
      {"dialog while the script waits for another",
       {{"BAR", {Input::Escape}}},
       show("MAIN"),
       "MAIN \"Main\" waits for input, no timer runs and the user has none (the script's next step is BAR with "
       "Escape)"},
      {"dialog after the last step",
       {},
       show("MAIN"),
       "MAIN \"Main\" waits for input, no timer runs and the user has none (the script has no steps left)"},
      {"message box while the script waits for a dialog",
       {{"MAIN", {Input::Enter}}},
       box(MB_OK),
       "the script expects MAIN with Enter, but the message box \"Title\" saying \"Body\" was shown"},
      {"message box after the last step",
       {},
       box(MB_OK),
       "the message box \"Title\" saying \"Body\" was shown after the script's last step"},
      {"dialog closing with its step unused",
       {{"MAIN", {Input::Escape}, 0, 100}},
       [](Desk& desk) {
         OnMessage([](HWND window, UINT message, WPARAM) {
           if (message == WM_INITDIALOG) SetTimer(window, 1, 1, nullptr);
           if (message == WM_TIMER) EndDialog(window, 1);
         });
         desk.Show("MAIN");
       },
       "MAIN \"Main\" closed before the script's step MAIN with Escape after 100 timer messages"},
      {"timer that nothing ever stops",
       {},
       [](Desk& desk) {
         desk.ui().hangAfterMs = 1000;
         OnMessage([](HWND window, UINT message, WPARAM) {
           if (message == WM_INITDIALOG) SetTimer(window, 1, 1, nullptr);
         });
         desk.Show("MAIN");
       },
       "MAIN \"Main\" is still open after 1000 ms of timer messages and nothing ends it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Desk desk;
    ScriptedUser user(c.steps);
    desk.ui().SetUser(&user);
    EXPECT_EQ(UnansweredText([&] { c.run(desk); }), c.message);
  }
  Desk desk;
  EXPECT_EQ(UnansweredText([&] { desk.Show("MAIN"); }),
            "MAIN \"Main\" waits for input, no timer runs and no user is set");
  EXPECT_EQ(UnansweredText([] { MessageBoxA(nullptr, "Body", "Title", MB_OK); }),
            "the message box \"Title\" saying \"Body\" was shown and no user is set");
}

// A message box is answered by one of its own buttons only; icon and modality bits do not count.
TEST(Unanswered, MessageBoxAnswersMustBeItsButtons) {
  struct Case {
    UINT style;
    int answer;
    bool accepted;
  };
  const Case cases[] = {
      {MB_OK, IDOK, true},           {MB_OK, IDCANCEL, false},    {MB_OK, IDYES, false},   {MB_OKCANCEL, IDOK, true},
      {MB_OKCANCEL, IDCANCEL, true}, {MB_OKCANCEL, IDNO, false},  {MB_YESNO, IDYES, true}, {MB_YESNO, IDNO, true},
      {MB_YESNO, IDOK, false},       {MB_YESNO, IDCANCEL, false}, {0x1034, IDYES, true},   {0x1034, IDNO, true},
      {0x1034, IDOK, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("style " + std::to_string(c.style) + ", answer " + std::to_string(c.answer));
    Desk desk;
    ScriptedUser user({{"MessageBox", {}, c.answer}});
    desk.ui().SetUser(&user);
    if (c.accepted) {
      EXPECT_EQ(MessageBoxA(nullptr, "Body", "Title", c.style), c.answer);
      ASSERT_EQ(desk.ui().messageBoxes.size(), 1u);
      const sim::MessageBoxRecord& box = desk.ui().messageBoxes[0];
      EXPECT_EQ(box.answer, c.answer);
      EXPECT_EQ(box.style, c.style);
      EXPECT_EQ(box.owner, nullptr);
      EXPECT_FALSE(box.ownerShown);
      EXPECT_EQ(box.text, "Body");
      EXPECT_EQ(box.title, "Title");
    } else {
      EXPECT_EQ(
          UnansweredText([&] { MessageBoxA(nullptr, "Body", "Title", c.style); }),
          "the answer " + std::to_string(c.answer) + " is not a button of the message box \"Title\" saying \"Body\"");
    }
  }
}

// A control's class must be registered when the dialog is created, before WM_INITDIALOG runs.
TEST(DialogBox, FindsTheTemplateAndNeedsEachControlsClass) {
  struct Case {
    const char* what;
    bool loadedModule;
    LPCSTR name;
    bool commonControls;
    INT_PTR result;
    DWORD error;
  };
  const Case cases[] = {
      {"progress bar before InitCommonControls", true, "BAR", false, -1, 1407},
      {"progress bar after InitCommonControls", true, "BAR", true, 1, 0},
      {"buttons and statics need nothing", true, "MAIN", false, 1, 0},
      {"unknown template", true, "NOPE", true, -1, 1814},
      {"name in any case", true, "main", false, 1, 0},
      {"by number", true, MAKEINTRESOURCEA(100), false, 1, 0},
      {"by number as text", true, "#100", false, 1, 0},
      {"module never loaded", false, "MAIN", false, -1, 1812},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Desk desk;
    if (c.commonControls) InitCommonControls();
    EXPECT_EQ(desk.ui().commonControlsInitialised, c.commonControls);
    OnMessage([](HWND window, UINT message, WPARAM) {
      if (message == WM_INITDIALOG) EndDialog(window, 1);
    });
    HINSTANCE module = c.loadedModule ? desk.module : reinterpret_cast<HINSTANCE>(0x1234);
    desk.machine.lastError = 0;
    EXPECT_EQ(DialogBoxParamA(module, c.name, nullptr, TestProc, 0), c.result);
    EXPECT_EQ(desk.machine.lastError, c.error);
    // A dialog that cannot be created never reaches its procedure and is never shown.
    EXPECT_EQ(g_received.size(), c.result == -1 ? 0u : 1u);
    EXPECT_EQ(desk.ui().closedDialogs.size(), c.result == -1 ? 0u : 1u);
  }
}

TEST(UiFaults, EachCallFailsInItsOwnWay) {
  struct Case {
    const char* op;
    int nth;  // 0: every call
    std::function<void(Desk&)> check;
  };
  const Case cases[] = {
      {"DialogBoxParamA", 0,
       [](Desk& desk) {
         EXPECT_EQ(desk.Show("MAIN"), -1);
         EXPECT_TRUE(g_received.empty());
         EXPECT_TRUE(desk.ui().closedDialogs.empty());
       }},
      {"SetTimer", 0,
       [](Desk& desk) {
         UINT_PTR timer = 99;
         AtInit(desk, "MAIN", [&](HWND dialog) { timer = SetTimer(dialog, 1, 1, nullptr); });
         EXPECT_EQ(timer, 0u);
         ScriptedUser user({});
         desk.ui().SetUser(&user);
         OnMessage([](HWND window, UINT message, WPARAM) {
           if (message == WM_INITDIALOG) SetTimer(window, 1, 1, nullptr);
         });
         EXPECT_NE(UnansweredText([&] { desk.Show("MAIN"); }), "(nothing thrown)");  // no timer runs
       }},
      {"PostMessageA", 0,
       [](Desk& desk) {
         ScriptedUser user({{"MAIN", {Input::Escape}}});
         desk.ui().SetUser(&user);
         BOOL posted = TRUE;
         OnMessage([&](HWND window, UINT message, WPARAM) {
           if (message == WM_INITDIALOG) posted = PostMessageA(window, WM_TEST, 0, 0);
           if (message == WM_COMMAND) EndDialog(window, 2);
         });
         EXPECT_EQ(desk.Show("MAIN"), 2);
         EXPECT_FALSE(posted);
         EXPECT_EQ(Messages(), (std::vector<UINT>{WM_INITDIALOG, WM_COMMAND}));
       }},
      {"MessageBoxA", 0,
       [](Desk& desk) {
         ScriptedUser user({{"MessageBox", {}, IDYES}});
         desk.ui().SetUser(&user);
         EXPECT_EQ(MessageBoxA(nullptr, "Body", "Title", MB_YESNO), 0);
         EXPECT_TRUE(desk.ui().messageBoxes.empty());
         EXPECT_EQ(user.StepsLeft(), 1u);
       }},
      {"SendMessageA", 0,
       [](Desk& desk) {
         LRESULT sent = -1;
         AtInit(desk, "MAIN", [&](HWND dialog) {
           sent = SendMessageA(GetDlgItem(dialog, IDC_TEXT), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("x"));
         });
         EXPECT_EQ(sent, 0);
         EXPECT_EQ(desk.Last().Control(IDC_TEXT)->text, "text");
         EXPECT_TRUE(desk.Last().Control(IDC_TEXT)->messageCounts.empty());
       }},
      {"SetWindowTextA", 0,
       [](Desk& desk) {
         BOOL set = TRUE;
         AtInit(desk, "MAIN", [&](HWND dialog) { set = SetWindowTextA(dialog, "New"); });
         EXPECT_FALSE(set);
         EXPECT_EQ(desk.Last().caption, "Main");
         EXPECT_EQ(Messages(), (std::vector<UINT>{WM_INITDIALOG}));
       }},
      {"EndDialog", 1,
       [](Desk& desk) {
         BOOL first = TRUE;
         OnMessage([&](HWND window, UINT message, WPARAM) {
           if (message == WM_INITDIALOG) {
             first = EndDialog(window, 5);
             PostMessageA(window, WM_TEST, 0, 0);
           }
           if (message == WM_TEST) EndDialog(window, 6);
         });
         EXPECT_EQ(desk.Show("MAIN"), 6);
         EXPECT_FALSE(first);
         EXPECT_EQ(Messages(), (std::vector<UINT>{WM_INITDIALOG, WM_TEST}));
       }},
      {"KillTimer", 0,
       [](Desk& desk) {
         BOOL killed = TRUE;
         OnMessage([&](HWND window, UINT message, WPARAM) {
           if (message == WM_INITDIALOG) SetTimer(window, 1, 1, nullptr);
           if (message == WM_TIMER && desk.ui().nowMs == 55) killed = KillTimer(window, 1);
           if (message == WM_TIMER && desk.ui().nowMs == 165) EndDialog(window, 1);
         });
         desk.Show("MAIN");
         EXPECT_FALSE(killed);
         EXPECT_EQ(desk.Last().timerMessages, 3);
       }},
      {"ExitWindowsEx", 0,
       [](Desk& desk) {
         EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT, 0));
         EXPECT_TRUE(desk.ui().exitWindowsRequests.empty());
         desk.machine.faults().Clear();
         EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
         EXPECT_EQ(desk.ui().exitWindowsRequests, (std::vector<UINT>{EWX_REBOOT}));
       }},
      {"InitCommonControls", 0,
       [](Desk& desk) {
         InitCommonControls();
         EXPECT_FALSE(desk.ui().commonControlsInitialised);
         EXPECT_EQ(desk.Show("BAR"), -1);
       }},
      {"GetDlgItem", 0,
       [](Desk& desk) {
         HWND item = reinterpret_cast<HWND>(1);
         AtInit(desk, "MAIN", [&](HWND dialog) { item = GetDlgItem(dialog, IDOK); });
         EXPECT_EQ(item, nullptr);
       }},
      {"GetModuleHandleA", 0,
       [](Desk& desk) {
         EXPECT_EQ(GetModuleHandleA(nullptr), nullptr);
         EXPECT_EQ(desk.machine.lastError, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.op);
    Desk desk;
    if (c.nth == 0) {
      desk.machine.faults().FailAll(c.op);
    } else {
      desk.machine.faults().FailNth(c.op, c.nth);
    }
    c.check(desk);
  }
}

// With the hook set, every message reaches the procedure through it: WM_INITDIALOG, a message
// sent from the procedure itself, a posted one, a timer's, the user's buttons and the close button.
TEST(DialogProcedures, AreAllCalledThroughTheHookWhenSet) {
  Desk desk;
  // Not a function of this process: only the hook may call it.
  const auto guestProc = reinterpret_cast<DLGPROC>(static_cast<std::uintptr_t>(0x00401234));
  std::vector<UINT> hooked;
  desk.ui().callProc = [&](DLGPROC proc, HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
    EXPECT_EQ(proc, guestProc);
    hooked.push_back(message);
    return TestProc(window, message, wParam, lParam);
  };
  ScriptedUser user({{"MAIN", {Input::Close}, 0, 1}});
  desk.ui().SetUser(&user);
  OnMessage([](HWND window, UINT message, WPARAM wParam) {
    if (message == WM_INITDIALOG) {
      SendMessageA(window, WM_TEST, 0, 0);
      PostMessageA(window, WM_TEST, 1, 0);
      SetTimer(window, 1, 1, nullptr);
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) EndDialog(window, 2);
  });
  EXPECT_EQ(DialogBoxParamA(desk.module, "MAIN", nullptr, guestProc, 0), 2);
  const std::vector<UINT> expected = {WM_INITDIALOG, WM_TEST, WM_TEST, WM_TIMER, WM_SYSCOMMAND, WM_CLOSE, WM_COMMAND};
  EXPECT_EQ(hooked, expected);
  EXPECT_EQ(Messages(), expected);
}

// GetModuleHandleA(NULL) is the program's own module: the one loaded last.
TEST(Modules, TheProgramsOwnIsTheOneLoadedLast) {
  Desk desk;  // the test script, loaded first
  EXPECT_EQ(GetModuleHandleA(nullptr), desk.module);
  sim::DialogTemplate small;
  small.caption = "Small";
  HINSTANCE second = desk.ui().LoadModule({{"small", small}, {"#7", small}});
  EXPECT_NE(second, desk.module);
  EXPECT_EQ(GetModuleHandleA(nullptr), second);
  EXPECT_EQ(desk.machine.trace().Calls().back().ToString(), "GetModuleHandleA(NULL) = hinstance#0x00410000");
  // Its templates are found by name without letter case, and by number.
  OnMessage([](HWND window, UINT message, WPARAM) {
    if (message == WM_INITDIALOG) EndDialog(window, 1);
  });
  EXPECT_EQ(DialogBoxParamA(second, "SMALL", nullptr, TestProc, 0), 1);
  EXPECT_EQ(desk.Last().caption, "Small");
  EXPECT_EQ(DialogBoxParamA(second, MAKEINTRESOURCEA(7), nullptr, TestProc, 0), 1);
  EXPECT_EQ(DialogBoxParamA(second, "MAIN", nullptr, TestProc, 0), -1) << "the first module's template is not in it";
  EXPECT_THROW(desk.ui().LoadModule({{"small", small}, {"SMALL", small}}), sim::Unmodelled);
}

// ExitProcess ends the run where it is called, a dialog's procedure included: traced, then thrown.
TEST(ExitProcess, IsTracedThenThrowsItsCode) {
  Desk desk;
  desk.machine.faults().FailAll("ExitProcess");  // it cannot fail
  HWND shown = nullptr;
  OnMessage([&](HWND window, UINT message, WPARAM) {
    if (message != WM_INITDIALOG) return;
    shown = window;
    SetTimer(window, 1, 1, nullptr);
    ExitProcess(3);
  });
  try {
    desk.Show("MAIN");
    ADD_FAILURE() << "ExitProcess returned";
  } catch (const sim::ProcessExit& exit) {
    EXPECT_EQ(exit.code, 3u);
  }
  EXPECT_EQ(desk.machine.trace().Calls().back().ToString(), "ExitProcess(3)");
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(desk.ui().OpenDialog(shown), nullptr);
  EXPECT_FALSE(desk.ui().NextTimerDueMs());
  EXPECT_TRUE(desk.ui().closedDialogs.empty()) << "the dialog left the screen without closing";
}

TEST(UiTrace, ShowsWindowsAndMessagesByName) {
  Desk desk;
  InitCommonControls();
  AtInit(desk, "BAR", [](HWND dialog) {
    SendMessageA(GetDlgItem(dialog, IDC_TEXT), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Working"));
    SendMessageA(GetDlgItem(dialog, IDC_BAR), PBM_SETSTEP, 0xFFFFFFFE, 0);
  });
  std::vector<std::string> calls;
  for (const sim::Call& call : desk.machine.trace().Calls()) calls.push_back(call.ToString());
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "InitCommonControls()",
                       "GetDlgItem(BAR, 1000) = BAR:1000",
                       "SendMessageA(BAR:1000, WM_SETTEXT, 0x00000000, \"Working\") = 1",
                       "GetDlgItem(BAR, 1008) = BAR:1008",
                       "SendMessageA(BAR:1008, PBM_SETSTEP, 0xFFFFFFFE, 0x00000000) = 10",
                       "EndDialog(BAR, 1) = 1",
                       "DialogBoxParamA(hinstance#0x00400000, \"BAR\", NULL, proc, 0) = 1",
                   }));
}

}  // namespace
