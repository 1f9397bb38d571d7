// The transcript of a sandbox run: see transcript.h.
#include "transcript.h"

#include <algorithm>

namespace sandbox {

volatile std::sig_atomic_t g_stopSignal = 0;

Interrupted::Interrupted(int signalNumber)
    : std::runtime_error(signalNumber == 0        ? "interrupted at the terminal (Ctrl-C)"
                         : signalNumber == SIGINT ? "interrupted (SIGINT)"
                                                  : "terminated (SIGTERM)"),
      signal(signalNumber) {}

void StopIfSignalled() {
  if (g_stopSignal != 0) throw Interrupted(g_stopSignal);
}

Shown& SandboxUser::Note(const sim::DialogState& dialog) {
  for (const auto& [hwnd, index] : open_) {
    if (hwnd == dialog.hwnd) return transcript_[index];
  }
  Shown shown;
  shown.kind = Shown::Dialog;
  shown.name = dialog.tmpl.name;
  transcript_.push_back(shown);
  open_.emplace_back(dialog.hwnd, transcript_.size() - 1);
  return transcript_.back();
}

void SandboxUser::DialogChanged(const sim::DialogState& dialog, std::uint64_t /*nowMs*/) {
  Shown& shown = Note(dialog);
  shown.caption = dialog.caption;
  shown.timerMessages = dialog.timerMessages;
}

void SandboxUser::DialogClosed(const sim::DialogState& dialog) {
  Shown& shown = Note(dialog);
  shown.caption = dialog.caption;
  shown.timerMessages = dialog.timerMessages;
  shown.result = dialog.result;
  shown.closed = true;
  std::erase_if(open_, [&](const auto& entry) { return entry.first == dialog.hwnd; });
}

void SandboxUser::NoteInput(const sim::DialogState& dialog, const std::string& what) {
  Note(dialog).inputs.push_back(what);
}

void SandboxUser::NoteAnswer(const sim::MessageBoxRecord& box, int answer) {
  Shown shown;
  shown.kind = Shown::MessageBox;
  shown.caption = box.title;
  shown.text = box.text;
  shown.inputs.push_back(ButtonName(answer));
  shown.result = answer;
  shown.closed = true;
  transcript_.push_back(shown);
}

std::string ButtonName(int id) {
  switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDABORT: return "Abort";
    case IDRETRY: return "Retry";
    case IDIGNORE: return "Ignore";
    case IDYES: return "Yes";
    case IDNO: return "No";
  }
  return "button " + std::to_string(id);
}

std::string InputName(const sim::DialogState& dialog, const sim::Input& input) {
  switch (input.kind) {
    case sim::Input::Enter: return "Enter";
    case sim::Input::Escape: return "Escape";
    case sim::Input::Close: return "the close button";
    case sim::Input::Button: break;
  }
  if (const sim::ControlState* button = dialog.Control(input.buttonId)) {
    std::string text;
    for (std::size_t i = 0; i < button->text.size(); ++i) {
      if (button->text[i] == '&' && i + 1 < button->text.size()) ++i;  // a mnemonic's marker
      text += button->text[i];
    }
    return text;
  }
  return "button " + std::to_string(input.buttonId);
}

}  // namespace sandbox
