// The answer list of --answers: see answers.h.
#include "answers.h"

#include <algorithm>
#include <charconv>

#include "layout.h"
#include "sim/text.h"

namespace sandbox {
namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string Described(const sim::DialogState& dialog) {
  return "the dialog " + Quoted(dialog.caption) + " (" + dialog.tmpl.name + ")";
}

std::string Described(const sim::MessageBoxRecord& box) { return "the message box " + Quoted(box.title); }

// What a dialog can be answered with, for messages: its buttons, then the keys.
std::string Choices(const sim::DialogState& dialog) {
  std::string choices;
  for (int id : TabButtons(dialog)) {
    if (id == IDOK) choices += "ok, ";
    if (id == IDCANCEL) choices += "cancel, ";
  }
  choices += "enter, escape";
  if (dialog.tmpl.style & WS_SYSMENU) choices += ", close";
  return choices;
}

std::string Choices(const sim::MessageBoxRecord& box) {
  std::string choices;
  for (int id : MessageBoxButtons(box.style)) {
    if (!choices.empty()) choices += ", ";
    choices += sim::LowerAscii(ButtonName(id));
  }
  return choices;
}

bool HasButton(const sim::DialogState& dialog, int id) {
  std::vector<int> buttons = TabButtons(dialog);
  return std::find(buttons.begin(), buttons.end(), id) != buttons.end();
}

// The input a word gives in a dialog, or nothing when the word is not for a dialog like this.
std::optional<sim::Input> InputFor(const Answer& answer, const sim::DialogState& dialog) {
  switch (answer.kind) {
    case Answer::Ok:
      if (HasButton(dialog, IDOK)) return sim::Input{sim::Input::Button, IDOK};
      return std::nullopt;
    case Answer::Cancel:
      if (HasButton(dialog, IDCANCEL)) return sim::Input{sim::Input::Button, IDCANCEL};
      return std::nullopt;
    case Answer::Enter: return sim::Input{sim::Input::Enter, 0};
    case Answer::Escape: return sim::Input{sim::Input::Escape, 0};
    case Answer::Close:
      if (dialog.tmpl.style & WS_SYSMENU) return sim::Input{sim::Input::Close, 0};
      return std::nullopt;
    case Answer::Yes:
    case Answer::No: return std::nullopt;
  }
  return std::nullopt;
}

// The button a word presses in a message box; 0 when the box has no such button.
int ButtonFor(const Answer& answer, const sim::MessageBoxRecord& box) {
  std::vector<int> buttons = MessageBoxButtons(box.style);
  auto has = [&](int id) { return std::find(buttons.begin(), buttons.end(), id) != buttons.end(); };
  int wanted = 0;
  switch (answer.kind) {
    case Answer::Ok: wanted = IDOK; break;
    case Answer::Cancel: wanted = IDCANCEL; break;
    case Answer::Yes: wanted = IDYES; break;
    case Answer::No: wanted = IDNO; break;
    case Answer::Enter: return DefaultMessageBoxButton(box.style);
    case Answer::Escape:
    case Answer::Close: {
      int focus = DefaultMessageBoxButton(box.style);
      return MessageBoxKey(box.style, focus, KeyPress{Key::Escape, 0}).value_or(0);
    }
  }
  return has(wanted) ? wanted : 0;
}

}  // namespace

std::vector<Answer> ParseAnswers(std::string_view list) {
  static const std::pair<const char*, Answer::Kind> kWords[] = {
      {"ok", Answer::Ok},       {"cancel", Answer::Cancel}, {"yes", Answer::Yes},    {"no", Answer::No},
      {"enter", Answer::Enter}, {"escape", Answer::Escape}, {"esc", Answer::Escape}, {"close", Answer::Close}};
  std::vector<Answer> answers;
  std::size_t start = 0;
  int number = 0;
  for (;;) {
    ++number;
    std::size_t comma = list.find(',', start);
    std::string_view word =
        list.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    while (!word.empty() && word.front() == ' ') word.remove_prefix(1);
    while (!word.empty() && word.back() == ' ') word.remove_suffix(1);
    std::string where = "--answers: answer " + std::to_string(number);
    if (word.empty()) throw AnswerError(where + " is empty");
    Answer answer;
    answer.written = std::string(word);
    std::string_view name = word;
    if (std::size_t at = word.find('@'); at != std::string_view::npos) {
      name = word.substr(0, at);
      std::string_view digits = word.substr(at + 1);
      auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), answer.afterTimerMessages);
      if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
          answer.afterTimerMessages < 0)
        throw AnswerError(where + " (" + Quoted(answer.written) + "): @ must be followed by a count of timer messages");
    }
    const std::string lower = sim::LowerAscii(name);
    auto known = std::find_if(std::begin(kWords), std::end(kWords), [&](const auto& w) { return lower == w.first; });
    if (known == std::end(kWords))
      throw AnswerError(where + " (" + Quoted(answer.written) +
                        ") is not one of ok, cancel, yes, no, enter, escape, close");
    answer.kind = known->second;
    answers.push_back(answer);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return answers;
}

AnswerError AnswersUser::Error(const std::string& text) const {
  if (taken_.empty()) return AnswerError(text);
  std::string taken;
  for (const std::string& word : taken_) taken += (taken.empty() ? "" : "; ") + word;
  return AnswerError(text + " (" + taken + ")");
}

std::string AnswersUser::Which() const {
  return "answer " + std::to_string(next_ + 1) + " (" + Quoted(answers_[next_].written) + ")";
}

std::optional<sim::Input> AnswersUser::NextInput(const sim::DialogState& dialog, std::uint64_t /*nowMs*/) {
  StopIfSignalled();
  const bool timerRuns = ui_.NextTimerDueMs().has_value();
  if (next_ >= answers_.size()) {
    if (timerRuns) return std::nullopt;  // watched: it may close by itself
    throw Error("--answers: the list ended, but " + Described(dialog) + " waits for one of: " + Choices(dialog));
  }
  const Answer& answer = answers_[next_];
  std::optional<sim::Input> input = InputFor(answer, dialog);
  if (!input) {
    if (timerRuns) return std::nullopt;  // the word is for what comes after this dialog
    throw Error("--answers: " + Which() + " does not fit " + Described(dialog) +
                ", which waits for one of: " + Choices(dialog));
  }
  if (dialog.timerMessages < answer.afterTimerMessages) {
    if (!timerRuns)
      throw Error("--answers: " + Which() + " waits for timer messages, but " + Described(dialog) +
                  " has no timer running");
    waitingIn_ = dialog.hwnd;
    return std::nullopt;
  }
  waitingIn_ = nullptr;
  taken_.push_back(Which() + " went to " + Described(dialog));
  ++next_;
  NoteInput(dialog, InputName(dialog, *input));
  return input;
}

int AnswersUser::AnswerMessageBox(const sim::MessageBoxRecord& box) {
  StopIfSignalled();
  if (next_ >= answers_.size())
    throw Error("--answers: the list ended, but " + Described(box) + " waits for one of: " + Choices(box));
  const Answer& answer = answers_[next_];
  int button = ButtonFor(answer, box);
  if (button == 0 || answer.afterTimerMessages > 0)
    throw Error("--answers: " + Which() + " does not fit " + Described(box) +
                ", which waits for one of: " + Choices(box));
  taken_.push_back(Which() + " went to " + Described(box));
  ++next_;
  NoteAnswer(box, button);
  return button;
}

void AnswersUser::DialogClosed(const sim::DialogState& dialog) {
  SandboxUser::DialogClosed(dialog);
  if (waitingIn_ == dialog.hwnd && next_ < answers_.size())
    throw Error("--answers: " + Which() + " was waiting for timer messages, but " + Described(dialog) +
                " closed after " + std::to_string(dialog.timerMessages));
}

void AnswersUser::CheckAllUsed() const {
  if (next_ >= answers_.size()) return;
  std::string left;
  for (std::size_t i = next_; i < answers_.size(); ++i) left += (left.empty() ? "" : ",") + answers_[i].written;
  throw Error("--answers: the program ended with " + std::to_string(answers_.size() - next_) +
              " answer(s) unused: " + left);
}

}  // namespace sandbox
