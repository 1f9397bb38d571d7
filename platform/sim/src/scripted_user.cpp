// The scripted user of the simulated window manager: a list of steps, one per dialog or message
// box shown, answered in order (see ScriptedUser in sim/ui.h).
#include "sim/ui.h"

#include <optional>
#include <string>

#include "internal.h"
#include "sim/errors.h"
#include "sim/text.h"

namespace sim {
namespace {

std::string InputText(const Input& input) {
  switch (input.kind) {
    case Input::Button: return "button " + std::to_string(input.buttonId);
    case Input::Enter: return "Enter";
    case Input::Escape: return "Escape";
    case Input::Close: return "the close button";
  }
  return "?";
}

std::string StepText(const ScriptedUser::Step& step) {
  if (step.where == "MessageBox") return "a message box answered " + std::to_string(step.answer);
  std::string text = step.where + " with " + InputText(step.input);
  if (step.afterTimerMessages > 0) text += " after " + std::to_string(step.afterTimerMessages) + " timer messages";
  return text;
}

}  // namespace

std::optional<Input> ScriptedUser::NextInput(const DialogState& dialog, std::uint64_t /*nowMs*/) {
  if (next_ >= steps_.size()) return std::nullopt;
  const Step& step = steps_[next_];
  // A step for another dialog, or for a message box, waits: this dialog may close by itself.
  if (step.where == "MessageBox" || !EqualNoCase(step.where, dialog.tmpl.name)) return std::nullopt;
  if (dialog.timerMessages < step.afterTimerMessages) return std::nullopt;
  ++next_;
  return step.input;
}

int ScriptedUser::AnswerMessageBox(const MessageBoxRecord& box) {
  if (next_ >= steps_.size()) throw Unanswered(Shown(box) + " was shown after the script's last step");
  const Step& step = steps_[next_];
  if (step.where != "MessageBox")
    throw Unanswered("the script expects " + StepText(step) + ", but " + Shown(box) + " was shown");
  ++next_;
  return step.answer;
}

void ScriptedUser::DialogClosed(const DialogState& dialog) {
  if (next_ < steps_.size() && EqualNoCase(steps_[next_].where, dialog.tmpl.name))
    throw Unanswered(Shown(dialog) + " closed before the script's step " + StepText(steps_[next_]));
}

std::string ScriptedUser::Expecting() const {
  if (next_ >= steps_.size()) return "the script has no steps left";
  return "the script's next step is " + StepText(steps_[next_]);
}

}  // namespace sim
