// The simulated window manager.
#include "sim/ui.h"

#include "internal.h"

namespace sim {

struct Ui::Impl {};

Ui::Ui() : impl_(std::make_unique<Impl>()) {}
Ui::~Ui() = default;

HINSTANCE Ui::LoadModule(const std::string&, const std::string&) {
  throw Unmodelled("LoadModule: not built yet");
}

const ControlState* DialogState::Control(int id) const {
  for (const ControlState& c : controls)
    if (c.tmpl.id == id) return &c;
  return nullptr;
}

std::optional<Input> ScriptedUser::NextInput(const DialogState&, std::uint64_t) {
  throw Unmodelled("ScriptedUser::NextInput: not built yet");
}
int ScriptedUser::AnswerMessageBox(const MessageBoxRecord&) {
  throw Unmodelled("ScriptedUser::AnswerMessageBox: not built yet");
}

}  // namespace sim

INT_PTR WINAPI DialogBoxParamA(HINSTANCE, LPCSTR, HWND, DLGPROC, LPARAM) {
  throw sim::Unmodelled("DialogBoxParamA: not built yet");
}
BOOL WINAPI EndDialog(HWND, INT_PTR) { throw sim::Unmodelled("EndDialog: not built yet"); }
HWND WINAPI GetDlgItem(HWND, int) { throw sim::Unmodelled("GetDlgItem: not built yet"); }
BOOL WINAPI SetWindowTextA(HWND, LPCSTR) { throw sim::Unmodelled("SetWindowTextA: not built yet"); }
LRESULT WINAPI SendMessageA(HWND, UINT, WPARAM, LPARAM) {
  throw sim::Unmodelled("SendMessageA: not built yet");
}
BOOL WINAPI PostMessageA(HWND, UINT, WPARAM, LPARAM) {
  throw sim::Unmodelled("PostMessageA: not built yet");
}
UINT_PTR WINAPI SetTimer(HWND, UINT_PTR, UINT, TIMERPROC) {
  throw sim::Unmodelled("SetTimer: not built yet");
}
BOOL WINAPI KillTimer(HWND, UINT_PTR) { throw sim::Unmodelled("KillTimer: not built yet"); }
int WINAPI MessageBoxA(HWND, LPCSTR, LPCSTR, UINT) {
  throw sim::Unmodelled("MessageBoxA: not built yet");
}
BOOL WINAPI ExitWindowsEx(UINT, DWORD) { throw sim::Unmodelled("ExitWindowsEx: not built yet"); }
void WINAPI InitCommonControls(void) { throw sim::Unmodelled("InitCommonControls: not built yet"); }
