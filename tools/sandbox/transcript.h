// What the person (or the answer list) saw and did: every dialog and message box in the order
// they appeared, with the input given to each. Both kinds of sandbox user keep one.
#pragma once

#include <csignal>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/ui.h"

namespace sandbox {

// Ctrl-C at the terminal (signal 0), or SIGINT or SIGTERM while the terminal or the saving of
// the machine must be given back first: the run is abandoned and nothing is written.
struct Interrupted : std::runtime_error {
  explicit Interrupted(int signalNumber = 0);
  int signal;
};

// The signal that asks the run to stop, 0 while none came; set by the tool's signal handler.
extern volatile std::sig_atomic_t g_stopSignal;
// Throws Interrupted when a signal has asked the run to stop.
void StopIfSignalled();

struct Shown {
  enum Kind { Dialog, MessageBox } kind = Dialog;
  std::string name;                 // the dialog's template name ("WELCOME"); "" for a message box
  std::string caption;              // the dialog's caption or the box's title
  std::string text;                 // a message box's text
  std::vector<std::string> inputs;  // what the user did, in order: "Enter", "Escape", "No"
  int timerMessages = 0;            // a dialog's WM_TIMER messages until it closed
  long long result = 0;             // a dialog's result, a box's answer
  bool closed = false;
};

// The sandbox's users: each keeps the transcript and names what it did.
class SandboxUser : public sim::User {
 public:
  void DialogChanged(const sim::DialogState& dialog, std::uint64_t nowMs) override;
  void DialogClosed(const sim::DialogState& dialog) override;
  const std::vector<Shown>& Transcript() const { return transcript_; }

 protected:
  Shown& Note(const sim::DialogState& dialog);  // the dialog's entry, added when it is first seen
  void NoteInput(const sim::DialogState& dialog, const std::string& what);
  void NoteAnswer(const sim::MessageBoxRecord& box, int answer);

 private:
  std::vector<Shown> transcript_;
  std::vector<std::pair<HWND, std::size_t>> open_;  // open dialogs and their entries
};

// How people name an input and a message-box button: "Enter", "Escape", "the close button",
// "OK" for button 1 (by its text in the dialog), "Yes" for IDYES.
std::string InputName(const sim::DialogState& dialog, const sim::Input& input);
std::string ButtonName(int id);  // a message box's button: "OK", "Cancel", "Yes", "No", ...

}  // namespace sandbox
