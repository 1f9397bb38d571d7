// The person at the terminal: the dialogs and message boxes drawn with ncurses from what the
// window manager reports, answered with the keys a Windows user would press. Each timer message
// of the window manager takes its virtual period in real time, so the progress bar moves at the
// pace of the Windows 98 timer.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "layout.h"
#include "sim/ui.h"
#include "transcript.h"

namespace sandbox {

struct TerminalScreen;  // the ncurses screen on /dev/tty

class TerminalUser : public SandboxUser {
 public:
  // Takes over the terminal (/dev/tty, not standard output, which may be redirected). Returns
  // nullptr with the reason in error when there is no terminal to draw on.
  static std::unique_ptr<TerminalUser> Open(const sim::Ui& ui, std::string& error);
  ~TerminalUser() override;
  void Close();  // gives the terminal back; the destructor does it too

  std::optional<sim::Input> NextInput(const sim::DialogState& dialog, std::uint64_t nowMs) override;
  int AnswerMessageBox(const sim::MessageBoxRecord& box) override;
  void DialogChanged(const sim::DialogState& dialog, std::uint64_t nowMs) override;
  void DialogClosed(const sim::DialogState& dialog) override;

 private:
  TerminalUser(const sim::Ui& ui, std::unique_ptr<TerminalScreen> screen);
  // The next key within timeoutMs (-1: wait for one); nullopt when the time ran out. A resized
  // terminal redraws and gives Key::Other.
  std::optional<KeyPress> ReadKey(int timeoutMs);
  void Draw();
  int& FocusOf(const sim::DialogState& dialog);

  const sim::Ui& ui_;
  std::unique_ptr<TerminalScreen> screen_;
  std::map<HWND, int> focus_;
  const sim::DialogState* dialog_ = nullptr;  // what is on screen now
  const sim::MessageBoxRecord* box_ = nullptr;
  int boxFocus_ = 0;
  bool tooSmall_ = false;  // what is shown does not fit the terminal: keys wait until it does
};

}  // namespace sandbox
