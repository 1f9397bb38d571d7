// The simulated window manager: modal dialogs built from the program's own resource script,
// their controls, a virtual clock for timers, message boxes and the restart request, and the
// user who answers them (a script in tests, a person at a terminal in the sandbox).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "win32.h"

namespace sim {

// One control or dialog of a template, as the resource script gives it.
struct ControlTemplate {
  int id = 0;
  std::string className;  // "button", "static", "msctls_progress32"
  std::string text;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::uint32_t style = 0, exStyle = 0;
};
struct DialogTemplate {
  std::string name;       // "WELCOME"
  bool extended = false;  // DIALOGEX
  std::uint32_t style = 0, exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::string caption;
  int fontSize = 0;
  std::string fontName;
  int fontWeight = 0, fontItalic = 0, fontCharset = 0;
  std::string language;  // "LANG_ENGLISH, SUBLANG_ENGLISH_US"
  std::vector<ControlTemplate> controls;
};
// Reads the dialog templates of a resource script; #define lines of an included header give the
// IDs. Throws ImageError (file and line) on anything outside the subset the script uses.
std::map<std::string, DialogTemplate> ParseResourceScript(const std::string& rcText, const std::string& headerText,
                                                          const std::string& fileName = "uninstall.rc");

struct ControlState {
  HWND hwnd = nullptr;
  ControlTemplate tmpl;
  std::string text;
  int rangeMin = 0, rangeMax = 100, step = 10, pos = 0;  // a progress bar's own state
  // Messages the control received: sent with SendMessageA, posted, or WM_SETTEXT from SetWindowTextA.
  std::map<UINT, int> messageCounts;
};
struct DialogState {
  HWND hwnd = nullptr;
  DialogTemplate tmpl;
  std::string caption;
  std::vector<ControlState> controls;
  bool ended = false;
  INT_PTR result = 0;
  int timerMessages = 0;  // WM_TIMER delivered so far
  std::uint64_t shownAtMs = 0;
  const ControlState* Control(int id) const;
};
struct MessageBoxRecord {
  HWND owner = nullptr;
  bool ownerShown = false;  // the owner dialog was still on screen (not yet ended: EndDialog hides it)
  std::string text, title;
  UINT style = 0;
  int answer = 0;
};

// What a person does in a dialog.
struct Input {
  enum Kind { Button, Enter, Escape, Close } kind = Enter;
  int buttonId = 0;  // for Button
};

class User {
 public:
  virtual ~User() = default;
  // Asked whenever the dialog has no posted message to handle: an input to deliver now, or
  // nullopt to let the clock run on to the next timer. nullopt with no timer running is a hang:
  // the window manager then throws Unanswered naming the dialog.
  virtual std::optional<Input> NextInput(const DialogState& dialog, std::uint64_t nowMs) = 0;
  // The button pressed in a message box; it must be one of the box's buttons.
  virtual int AnswerMessageBox(const MessageBoxRecord& box) = 0;
  virtual void DialogChanged(const DialogState& /*dialog*/, std::uint64_t /*nowMs*/) {}  // for drawing
  virtual void DialogClosed(const DialogState& /*dialog*/) {}
  // What this user would do next, for the message of an Unanswered error ("" if nothing to say).
  virtual std::string Expecting() const { return {}; }
};

// A user that follows a list of steps, one per dialog or message box shown, in order:
// {"WELCOME", Enter}, {"UNINSTALL", Escape after 10 timer messages}, {"MessageBox", IDNO}.
// A dialog with no step of its own is watched without input (it may close itself on a timer);
// a message box that is not the next step, or a dialog that closes with its step unused, throws
// Unanswered with the step expected and what was shown.
class ScriptedUser : public User {
 public:
  struct Step {
    std::string where;  // a template name, or "MessageBox"
    Input input;        // for a dialog
    int answer = 0;     // for a message box
    int afterTimerMessages = 0;
  };
  explicit ScriptedUser(std::vector<Step> steps) : steps_(std::move(steps)) {}
  std::optional<Input> NextInput(const DialogState& dialog, std::uint64_t nowMs) override;
  int AnswerMessageBox(const MessageBoxRecord& box) override;
  void DialogClosed(const DialogState& dialog) override;
  std::string Expecting() const override;
  std::size_t StepsLeft() const { return steps_.size() - next_; }

 private:
  std::vector<Step> steps_;
  std::size_t next_ = 0;
};

class Ui {
 public:
  // The module whose templates DialogBoxParamA loads: the resource script's text and its header.
  HINSTANCE LoadModule(const std::string& rcText, const std::string& headerText);
  // A module whose templates are given as they are, by resource name ("WELCOME", or "#N" for an
  // ordinal): an executable's own RT_DIALOG resources (sim/res_dialog.h reads them). Names are
  // found without letter case, as FindResource finds them.
  HINSTANCE LoadModule(std::map<std::string, DialogTemplate> templates);
  // The module loaded last (GetModuleHandleA(NULL): the program's own), or nullptr if none.
  HINSTANCE LastModule() const;
  // How the window manager calls a dialog procedure: when set, every call of one goes through it
  // instead of calling the pointer, so that a procedure can live elsewhere (an address in an
  // emulated CPU's memory, passed as the DLGPROC).
  std::function<INT_PTR(DLGPROC proc, HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)> callProc;
  void SetUser(User* user) { user_ = user; }
  User* GetUser() const { return user_; }
  std::uint32_t timerGranularityMs = 55;  // Windows 98: the 18.2 Hz system timer
  std::uint64_t nowMs = 0;
  // A dialog still open this long on the virtual clock is a hang: the loop throws Unanswered.
  std::uint64_t hangAfterMs = 60 * 60 * 1000;
  bool commonControlsInitialised = false;

  std::vector<DialogState> closedDialogs;      // every dialog shown, as it was when it closed
  std::vector<MessageBoxRecord> messageBoxes;  // every message box shown
  std::vector<UINT> exitWindowsRequests;       // flags of each ExitWindowsEx call

  // The open dialog that window is, or holds as a control; nullptr once it has closed.
  const DialogState* OpenDialog(HWND window) const;
  // When the next timer message is due on the virtual clock; nullopt when no timer runs (a
  // dialog then waits for its user).
  std::optional<std::uint64_t> NextTimerDueMs() const;

  struct Impl;
  Impl* impl() const { return impl_.get(); }
  Ui();
  ~Ui();
  Ui(const Ui&) = delete;
  Ui& operator=(const Ui&) = delete;

 private:
  User* user_ = nullptr;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sim
