// --answers: the dialogs answered from a list instead of a terminal, for scripts. One word per
// dialog or message box that waits for the user, in the order they appear:
//   ok, cancel          a dialog's button of that name, or a message box's
//   yes, no             a message box's button
//   enter, escape, close  the Enter key, the Escape key, the caption's close button
// A word may end in @N: given once the dialog has had N timer messages ("escape@20" closes the
// progress dialog after 20 of them). A dialog that closes by itself (the progress dialog) needs
// no word unless one is meant for it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sim/ui.h"
#include "transcript.h"

namespace sandbox {

// The list does not fit what was shown; the message says which word and which window, and which
// windows took the words before it.
struct AnswerError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Answer {
  enum Kind { Ok, Cancel, Yes, No, Enter, Escape, Close } kind = Ok;
  int afterTimerMessages = 0;
  std::string written;  // as the list gives it, for messages
};

// Throws AnswerError for an empty list, an empty or unknown word, or a bad @N.
std::vector<Answer> ParseAnswers(std::string_view list);

class AnswersUser : public SandboxUser {
 public:
  AnswersUser(std::vector<Answer> answers, const sim::Ui& ui) : answers_(std::move(answers)), ui_(ui) {}
  std::optional<sim::Input> NextInput(const sim::DialogState& dialog, std::uint64_t nowMs) override;
  int AnswerMessageBox(const sim::MessageBoxRecord& box) override;
  void DialogClosed(const sim::DialogState& dialog) override;
  // Throws AnswerError when words are left over after the program has ended.
  void CheckAllUsed() const;

 private:
  std::string Which() const;                         // "answer 2 (\"no\")"
  AnswerError Error(const std::string& text) const;  // with the words taken so far
  std::vector<Answer> answers_;
  std::vector<std::string> taken_;  // "answer 1 (\"ok\") went to the dialog ..."
  std::size_t next_ = 0;
  const sim::Ui& ui_;
  HWND waitingIn_ = nullptr;  // the dialog whose word waits for its @N timer messages
};

}  // namespace sandbox
