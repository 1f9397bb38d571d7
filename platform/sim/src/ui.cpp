// The simulated window manager: modal dialogs built from the loaded resource script, their
// controls (text, a progress bar's range, step and position), one thread's message queue, timers
// on a virtual clock, message boxes and the restart request. A User answers what is shown.
#include "sim/ui.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "internal.h"
#include "sim/text.h"

namespace sim {
namespace {

constexpr UINT kScClose = 0xF060;  // WM_SYSCOMMAND's close command
constexpr WORD kBnClicked = 0;     // BN_CLICKED
constexpr std::uint32_t kButtonTypeMask = 0x0F;

std::uintptr_t Key(const void* handle) { return reinterpret_cast<std::uintptr_t>(handle); }

// The buttons of a message box, by the low four bits of its style.
std::vector<int> MessageBoxButtons(UINT style) {
  switch (style & 0x0F) {
    case 0: return {IDOK};                        // MB_OK
    case 1: return {IDOK, IDCANCEL};              // MB_OKCANCEL
    case 2: return {IDABORT, IDRETRY, IDIGNORE};  // MB_ABORTRETRYIGNORE
    case 3: return {IDYES, IDNO, IDCANCEL};       // MB_YESNOCANCEL
    case 4: return {IDYES, IDNO};                 // MB_YESNO
    case 5: return {IDRETRY, IDCANCEL};           // MB_RETRYCANCEL
  }
  throw Unmodelled("MessageBoxA: button style " + Hex(style & 0x0F) + " is not modelled");
}

bool IsProgressBar(const ControlState& control) { return EqualNoCase(control.tmpl.className, PROGRESS_CLASSA); }

// The progress bar's own rule: a position is kept within the range.
void ClampPosition(ControlState& bar) {
  if (bar.pos < bar.rangeMin) bar.pos = bar.rangeMin;
  if (bar.pos > bar.rangeMax) bar.pos = bar.rangeMax;
}

}  // namespace

std::string Shown(const DialogState& dialog) { return dialog.tmpl.name + " \"" + dialog.caption + "\""; }

std::string Shown(const MessageBoxRecord& box) {
  return "the message box \"" + box.title + "\" saying \"" + box.text + "\"";
}

struct Ui::Impl {
  struct Dialog {
    DialogState state;
    DLGPROC proc = nullptr;
  };
  struct Window {
    Dialog* dialog = nullptr;
    int control = -1;  // index into the dialog's controls, or -1 for the dialog itself
  };
  struct Posted {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };
  struct Timer {
    HWND window;
    UINT_PTR id;
    std::uint32_t periodMs;
    std::uint64_t dueMs;
    std::uint64_t order;  // timers due at the same moment fire in the order they were set
  };

  std::map<std::uintptr_t, std::map<std::string, DialogTemplate>> modules;
  std::uintptr_t nextModule = 0x00400000;  // the first is where a Win32 executable is loaded
  std::uintptr_t lastModule = 0;
  std::vector<std::unique_ptr<Dialog>> open;    // the dialogs on screen, innermost last
  std::map<std::uintptr_t, Window> windows;     // every window that exists now
  std::map<std::uintptr_t, std::string> names;  // every window ever created, for the trace
  std::uintptr_t nextWindow = 0x00010000;
  std::deque<Posted> queue;  // the thread's posted messages
  std::vector<Timer> timers;
  std::uint64_t timerOrder = 0;

  const Window* Find(HWND window) const {
    auto it = windows.find(Key(window));
    return it == windows.end() ? nullptr : &it->second;
  }
  std::string Name(HWND window) const {
    if (window == nullptr) return "NULL";
    auto it = names.find(Key(window));
    if (it == names.end()) return "hwnd#" + Hex(static_cast<std::uint32_t>(Key(window)));
    return it->second;
  }
  HWND NewWindow(std::string name) {
    auto* window = reinterpret_cast<HWND>(nextWindow);
    nextWindow += 4;
    names[Key(window)] = std::move(name);
    return window;
  }
  HWND ControlWindow(const Dialog& dialog, int id) const {
    for (const ControlState& control : dialog.state.controls)
      if (control.tmpl.id == id) return control.hwnd;
    return nullptr;
  }
};

namespace {

std::string MessageName(UINT message) {
  switch (message) {
    case WM_SETTEXT: return "WM_SETTEXT";
    case WM_GETTEXT: return "WM_GETTEXT";
    case WM_CLOSE: return "WM_CLOSE";
    case WM_INITDIALOG: return "WM_INITDIALOG";
    case WM_COMMAND: return "WM_COMMAND";
    case WM_SYSCOMMAND: return "WM_SYSCOMMAND";
    case WM_TIMER: return "WM_TIMER";
    case PBM_SETRANGE: return "PBM_SETRANGE";
    case PBM_SETPOS: return "PBM_SETPOS";
    case PBM_DELTAPOS: return "PBM_DELTAPOS";
    case PBM_SETSTEP: return "PBM_SETSTEP";
    case PBM_STEPIT: return "PBM_STEPIT";
    case PBM_GETPOS: return "PBM_GETPOS";
  }
  return Hex(message);
}

std::string ResourceText(LPCSTR name) {
  if (Key(name) <= 0xFFFF) return "#" + std::to_string(Key(name));
  return Quote(name);
}

// The key a template is filed under: "#N" for a number, the name in capitals otherwise.
std::string TemplateKey(LPCSTR name) {
  if (Key(name) <= 0xFFFF) return "#" + std::to_string(Key(name));
  std::string key = name;
  if (key.size() > 1 && key[0] == '#') return "#" + std::to_string(std::strtoul(key.c_str() + 1, nullptr, 10));
  return UpperAscii(key);
}

LRESULT CopyText(const std::string& text, WPARAM size, LPARAM buffer) {
  auto* out = reinterpret_cast<char*>(buffer);
  if (out == nullptr || size == 0) return 0;
  std::size_t count = std::min<std::size_t>(text.size(), size - 1);
  std::memcpy(out, text.data(), count);
  out[count] = '\0';
  return static_cast<LRESULT>(count);
}

// What a control does with a message. Every message is counted; what is not modelled returns 0.
LRESULT ControlMessage(ControlState& control, UINT message, WPARAM wParam, LPARAM lParam) {
  ++control.messageCounts[message];
  if (message == WM_SETTEXT) {
    const char* text = reinterpret_cast<const char*>(lParam);
    control.text = text == nullptr ? "" : text;
    return TRUE;
  }
  if (message == WM_GETTEXT) return CopyText(control.text, wParam, lParam);
  if (!IsProgressBar(control)) return 0;
  int previous = control.pos;
  switch (message) {
    case PBM_SETRANGE: {
      LRESULT old = MAKELPARAM(control.rangeMin, control.rangeMax);
      control.rangeMin = LOWORD(lParam);
      control.rangeMax = HIWORD(lParam);
      ClampPosition(control);
      return old;
    }
    case PBM_SETSTEP: {
      int old = control.step;
      control.step = static_cast<int>(wParam);
      return old;
    }
    case PBM_SETPOS:
      control.pos = static_cast<int>(wParam);
      ClampPosition(control);
      return previous;
    case PBM_DELTAPOS:
      control.pos += static_cast<int>(wParam);
      ClampPosition(control);
      return previous;
    case PBM_STEPIT: {
      // Past the maximum the bar goes on from the minimum, below the minimum from the maximum.
      int span = control.rangeMax - control.rangeMin;
      if (span == 0) return previous;
      control.pos += control.step;
      if (control.pos > control.rangeMax) control.pos = (control.pos - control.rangeMin) % span + control.rangeMin;
      if (control.pos < control.rangeMin) control.pos = (control.pos - control.rangeMin) % span + control.rangeMax;
      return previous;
    }
    case PBM_GETPOS: return control.pos;
  }
  return 0;
}

Ui::Impl& UiOf(Machine& machine) { return *machine.ui().impl(); }

// A message to a dialog: its procedure first, then what the default dialog procedure does with
// what the procedure left alone.
LRESULT DialogMessage(Machine& machine, Ui::Impl::Dialog& dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  Ui::Impl& ui = UiOf(machine);
  HWND window = dialog.state.hwnd;
  if (message == WM_TIMER) ++dialog.state.timerMessages;
  // Every call of a dialog procedure is made here: through the hook when one is set.
  const auto& callProc = machine.ui().callProc;
  INT_PTR handled =
      callProc ? callProc(dialog.proc, window, message, wParam, lParam) : dialog.proc(window, message, wParam, lParam);
  if (message == WM_INITDIALOG) return handled;
  if (handled || ui.Find(window) == nullptr) return 0;
  switch (message) {
    case WM_SETTEXT: {
      const char* text = reinterpret_cast<const char*>(lParam);
      dialog.state.caption = text == nullptr ? "" : text;
      return TRUE;
    }
    case WM_GETTEXT: return CopyText(dialog.state.caption, wParam, lParam);
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == kScClose) DialogMessage(machine, dialog, WM_CLOSE, 0, 0);
      return 0;
    case WM_CLOSE:
      // The close button becomes the dialog's own Cancel command, posted.
      ui.queue.push_back({window, WM_COMMAND, MAKEWPARAM(IDCANCEL, kBnClicked),
                          reinterpret_cast<LPARAM>(ui.ControlWindow(dialog, IDCANCEL))});
      return 0;
  }
  return 0;
}

// A message to any window: a dialog's procedure or a control's own handling.
LRESULT WindowMessage(Machine& machine, const Ui::Impl::Window& target, UINT message, WPARAM wParam, LPARAM lParam) {
  if (target.control < 0) return DialogMessage(machine, *target.dialog, message, wParam, lParam);
  return ControlMessage(target.dialog->state.controls[static_cast<std::size_t>(target.control)], message, wParam,
                        lParam);
}

// What the user's input sends, as IsDialogMessage and the buttons send it.
void DeliverInput(Machine& machine, Ui::Impl::Dialog& dialog, const Input& input) {
  Ui::Impl& ui = UiOf(machine);
  auto command = [&](int id, HWND from) {
    DialogMessage(machine, dialog, WM_COMMAND, MAKEWPARAM(id, kBnClicked), reinterpret_cast<LPARAM>(from));
  };
  switch (input.kind) {
    case Input::Button: {
      for (const ControlState& control : dialog.state.controls) {
        if (control.tmpl.id != input.buttonId || !EqualNoCase(control.tmpl.className, "button")) continue;
        if (control.tmpl.style & WS_DISABLED)
          throw Unanswered("the user pressed button " + std::to_string(input.buttonId) + " of " + Shown(dialog.state) +
                           ", which is disabled");
        command(input.buttonId, control.hwnd);
        return;
      }
      throw Unanswered("the user pressed button " + std::to_string(input.buttonId) + " of " + Shown(dialog.state) +
                       ", which has no such button");
    }
    case Input::Enter: {
      for (const ControlState& control : dialog.state.controls) {
        if (EqualNoCase(control.tmpl.className, "button") &&
            (control.tmpl.style & kButtonTypeMask) == BS_DEFPUSHBUTTON) {
          command(control.tmpl.id, control.hwnd);
          return;
        }
      }
      command(IDOK, ui.ControlWindow(dialog, IDOK));
      return;
    }
    case Input::Escape: command(IDCANCEL, ui.ControlWindow(dialog, IDCANCEL)); return;
    case Input::Close:
      if ((dialog.state.tmpl.style & WS_SYSMENU) == 0)
        throw Unanswered("the user closed " + Shown(dialog.state) + ", which has no close button");
      DialogMessage(machine, dialog, WM_SYSCOMMAND, kScClose, 0);
      return;
  }
}

// One turn of the modal loop: a posted message, else the user's input, else the next timer.
void RunOnce(Machine& machine, Ui::Impl::Dialog& dialog) {
  Ui& ui = machine.ui();
  Ui::Impl& impl = *ui.impl();
  if (!impl.queue.empty()) {
    Ui::Impl::Posted posted = impl.queue.front();
    impl.queue.pop_front();
    // A message for a window that has closed meanwhile goes nowhere.
    if (const Ui::Impl::Window* target = impl.Find(posted.window))
      WindowMessage(machine, *target, posted.message, posted.wParam, posted.lParam);
    return;
  }
  std::optional<Input> input;
  if (ui.GetUser() != nullptr) input = ui.GetUser()->NextInput(dialog.state, ui.nowMs);
  if (input) {
    DeliverInput(machine, dialog, *input);
    return;
  }
  Ui::Impl::Timer* next = nullptr;
  for (Ui::Impl::Timer& timer : impl.timers) {
    if (next == nullptr || timer.dueMs < next->dueMs || (timer.dueMs == next->dueMs && timer.order < next->order))
      next = &timer;
  }
  if (next == nullptr) {
    std::string what = Shown(dialog.state) + " waits for input, no timer runs and ";
    what += ui.GetUser() == nullptr ? "no user is set" : "the user has none";
    if (ui.GetUser() != nullptr && !ui.GetUser()->Expecting().empty()) what += " (" + ui.GetUser()->Expecting() + ")";
    throw Unanswered(what);
  }
  if (next->dueMs > dialog.state.shownAtMs + ui.hangAfterMs)
    throw Unanswered(Shown(dialog.state) + " is still open after " + std::to_string(ui.hangAfterMs) +
                     " ms of timer messages and nothing ends it");
  ui.nowMs = std::max(ui.nowMs, next->dueMs);
  next->dueMs = ui.nowMs + next->periodMs;
  HWND window = next->window;
  UINT_PTR id = next->id;
  if (const Ui::Impl::Window* target = impl.Find(window)) WindowMessage(machine, *target, WM_TIMER, id, 0);
}

// Removes a dialog and its controls from the screen, with the dialog's timers.
void Destroy(Ui::Impl& ui, Ui::Impl::Dialog* dialog) {
  HWND window = dialog->state.hwnd;
  std::erase_if(ui.timers, [&](const Ui::Impl::Timer& timer) { return timer.window == window; });
  ui.windows.erase(Key(window));
  for (const ControlState& control : dialog->state.controls) ui.windows.erase(Key(control.hwnd));
  std::erase_if(ui.open, [&](const std::unique_ptr<Ui::Impl::Dialog>& d) { return d.get() == dialog; });
}

}  // namespace

Ui::Ui() : impl_(std::make_unique<Impl>()) {}
Ui::~Ui() = default;

HINSTANCE Ui::LoadModule(const std::string& rcText, const std::string& headerText) {
  return LoadModule(ParseResourceScript(rcText, headerText));
}

HINSTANCE Ui::LoadModule(std::map<std::string, DialogTemplate> templates) {
  // Filed as DialogBoxParamA looks them up: names in capitals, ordinals as "#N".
  std::map<std::string, DialogTemplate> filed;
  for (auto& [name, tmpl] : templates) {
    const std::string key = TemplateKey(name.c_str());
    if (tmpl.name.empty()) tmpl.name = name;
    if (!filed.emplace(key, std::move(tmpl)).second)
      throw Unmodelled("Ui::LoadModule: two templates are named " + key + " without regard to letter case");
  }
  const std::uintptr_t handle = impl_->nextModule;
  impl_->modules[handle] = std::move(filed);
  impl_->nextModule += 0x00010000;
  impl_->lastModule = handle;
  return reinterpret_cast<HINSTANCE>(handle);
}

HINSTANCE Ui::LastModule() const { return reinterpret_cast<HINSTANCE>(impl_->lastModule); }

const DialogState* Ui::OpenDialog(HWND window) const {
  const Impl::Window* found = impl_->Find(window);
  return found == nullptr ? nullptr : &found->dialog->state;
}

std::optional<std::uint64_t> Ui::NextTimerDueMs() const {
  std::optional<std::uint64_t> due;
  for (const Impl::Timer& timer : impl_->timers) {
    if (!due || timer.dueMs < *due) due = timer.dueMs;
  }
  return due;
}

const ControlState* DialogState::Control(int id) const {
  for (const ControlState& control : controls)
    if (control.tmpl.id == id) return &control;
  return nullptr;
}

}  // namespace sim

using sim::Hex;
using sim::Quote;
using sim::TracedCall;

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC proc, LPARAM init) {
  sim::Ui::Impl& ui = sim::UiOf(sim::Current());
  TracedCall call("DialogBoxParamA",
                  {"hinstance#" + Hex(static_cast<std::uint32_t>(sim::Key(instance))), sim::ResourceText(templateName),
                   ui.Name(owner), proc == nullptr ? "NULL" : "proc", std::to_string(init)});
  sim::Machine& machine = call.machine();
  auto fail = [&](std::uint32_t error) {
    machine.lastError = error;
    return call.Return<INT_PTR>(-1);
  };
  if (call.Fails()) return fail(ERROR_NOT_ENOUGH_MEMORY);
  auto module = ui.modules.find(sim::Key(instance));
  if (module == ui.modules.end()) return fail(ERROR_RESOURCE_DATA_NOT_FOUND);
  auto found = module->second.find(sim::TemplateKey(templateName));
  if (found == module->second.end()) return fail(ERROR_RESOURCE_NAME_NOT_FOUND);
  if (owner != nullptr && ui.Find(owner) == nullptr) return fail(ERROR_INVALID_WINDOW_HANDLE);
  if (proc == nullptr) throw sim::Unmodelled("DialogBoxParamA: a dialog without a procedure is not modelled");
  const sim::DialogTemplate& tmpl = found->second;

  // Creating a control of a class nobody registered fails, and the whole dialog with it.
  for (const sim::ControlTemplate& control : tmpl.controls) {
    bool registered = sim::EqualNoCase(control.className, "button") || sim::EqualNoCase(control.className, "static") ||
                      (sim::EqualNoCase(control.className, PROGRESS_CLASSA) && machine.ui().commonControlsInitialised);
    if (!registered) return fail(ERROR_CANNOT_FIND_WND_CLASS);
  }

  auto owned = std::make_unique<sim::Ui::Impl::Dialog>();
  sim::Ui::Impl::Dialog* dialog = owned.get();
  dialog->proc = proc;
  dialog->state.tmpl = tmpl;
  dialog->state.caption = tmpl.caption;
  dialog->state.shownAtMs = machine.ui().nowMs;
  dialog->state.hwnd = ui.NewWindow(tmpl.name);
  for (const sim::ControlTemplate& control : tmpl.controls) {
    sim::ControlState state;
    state.tmpl = control;
    state.text = control.text;
    state.hwnd = ui.NewWindow(tmpl.name + ":" + std::to_string(control.id));
    dialog->state.controls.push_back(std::move(state));
  }
  ui.open.push_back(std::move(owned));
  ui.windows[sim::Key(dialog->state.hwnd)] = {dialog, -1};
  for (std::size_t i = 0; i < dialog->state.controls.size(); ++i)
    ui.windows[sim::Key(dialog->state.controls[i].hwnd)] = {dialog, static_cast<int>(i)};

  // Whatever ends the loop, a thrown error included, the dialog leaves the screen.
  struct Closer {
    sim::Ui::Impl& ui;
    sim::Ui::Impl::Dialog* dialog;
    ~Closer() {
      if (dialog != nullptr) sim::Destroy(ui, dialog);
    }
  } closer{ui, dialog};

  // WM_INITDIALOG names the control that gets the focus: the first visible, enabled tab stop.
  HWND focus = nullptr;
  for (const sim::ControlState& control : dialog->state.controls) {
    std::uint32_t style = control.tmpl.style;
    if ((style & WS_TABSTOP) && (style & WS_VISIBLE) && !(style & WS_DISABLED)) {
      focus = control.hwnd;
      break;
    }
  }
  sim::User* user = machine.ui().GetUser();
  sim::DialogMessage(machine, *dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(focus), init);
  if (user != nullptr) user->DialogChanged(dialog->state, machine.ui().nowMs);
  // EndDialog only marks the dialog: the loop ends after the message that called it returns.
  while (!dialog->state.ended) {
    sim::RunOnce(machine, *dialog);
    user = machine.ui().GetUser();
    if (user != nullptr) user->DialogChanged(dialog->state, machine.ui().nowMs);
  }
  INT_PTR result = dialog->state.result;
  machine.ui().closedDialogs.push_back(dialog->state);
  sim::Destroy(ui, dialog);
  closer.dialog = nullptr;
  user = machine.ui().GetUser();
  if (user != nullptr) user->DialogClosed(machine.ui().closedDialogs.back());
  return call.Return(result);
}

BOOL WINAPI EndDialog(HWND window, INT_PTR result) {
  sim::Ui::Impl& ui = sim::UiOf(sim::Current());
  TracedCall call("EndDialog", {ui.Name(window), std::to_string(result)});
  const sim::Ui::Impl::Window* found = ui.Find(window);
  if (call.Fails() || found == nullptr || found->control >= 0) {
    call.machine().lastError = ERROR_INVALID_WINDOW_HANDLE;
    return call.Return<BOOL>(FALSE);
  }
  found->dialog->state.ended = true;
  found->dialog->state.result = result;
  return call.Return<BOOL>(TRUE);
}

HWND WINAPI GetDlgItem(HWND window, int id) {
  sim::Ui::Impl& ui = sim::UiOf(sim::Current());
  TracedCall call("GetDlgItem", {ui.Name(window), std::to_string(id)});
  const sim::Ui::Impl::Window* found = ui.Find(window);
  HWND control = nullptr;
  if (found == nullptr) {
    call.machine().lastError = ERROR_INVALID_WINDOW_HANDLE;
  } else if (!call.Fails() && found->control < 0) {
    control = ui.ControlWindow(*found->dialog, id);
  }
  if (control == nullptr && found != nullptr) call.machine().lastError = ERROR_CONTROL_ID_NOT_FOUND;
  call.Done(ui.Name(control));
  return control;
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
  sim::Ui::Impl& ui = sim::UiOf(sim::Current());
  TracedCall call("SetWindowTextA", {ui.Name(window), Quote(text)});
  const sim::Ui::Impl::Window* found = ui.Find(window);
  if (call.Fails() || found == nullptr) {
    call.machine().lastError = ERROR_INVALID_WINDOW_HANDLE;
    return call.Return<BOOL>(FALSE);
  }
  // As on Windows, the text is set by the window's own handling of WM_SETTEXT.
  sim::Ui::Impl::Window target = *found;
  sim::WindowMessage(call.machine(), target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
  return call.Return<BOOL>(TRUE);
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  sim::Ui::Impl& ui = sim::UiOf(sim::Current());
  std::string lParamText =
      message == WM_SETTEXT ? Quote(reinterpret_cast<const char*>(lParam)) : Hex(static_cast<std::uint32_t>(lParam));
  TracedCall call("SendMessageA",
                  {ui.Name(window), sim::MessageName(message), Hex(static_cast<std::uint32_t>(wParam)), lParamText});
  const sim::Ui::Impl::Window* found = ui.Find(window);
  if (found == nullptr) call.machine().lastError = ERROR_INVALID_WINDOW_HANDLE;
  if (call.Fails() || found == nullptr) return call.Return<LRESULT>(0);
  sim::Ui::Impl::Window target = *found;
  return call.Return(sim::WindowMessage(call.machine(), target, message, wParam, lParam));
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  sim::Ui::Impl& ui = sim::UiOf(sim::Current());
  TracedCall call("PostMessageA", {ui.Name(window), sim::MessageName(message), Hex(static_cast<std::uint32_t>(wParam)),
                                   Hex(static_cast<std::uint32_t>(lParam))});
  if (window == nullptr) throw sim::Unmodelled("PostMessageA: thread messages (no window) are not modelled");
  if (call.Fails()) {
    call.machine().lastError = ERROR_NOT_ENOUGH_QUOTA;
    return call.Return<BOOL>(FALSE);
  }
  if (ui.Find(window) == nullptr) {
    call.machine().lastError = ERROR_INVALID_WINDOW_HANDLE;
    return call.Return<BOOL>(FALSE);
  }
  ui.queue.push_back({window, message, wParam, lParam});
  return call.Return<BOOL>(TRUE);
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc) {
  sim::Ui::Impl& ui = sim::UiOf(sim::Current());
  TracedCall call("SetTimer", {ui.Name(window), std::to_string(id), std::to_string(elapse), proc ? "proc" : "NULL"});
  if (proc != nullptr) throw sim::Unmodelled("SetTimer: timer callbacks are not modelled");
  if (window == nullptr || id == 0) throw sim::Unmodelled("SetTimer: only timers of a window with an ID are modelled");
  sim::Machine& machine = call.machine();
  const sim::Ui::Impl::Window* found = ui.Find(window);
  if (found != nullptr && found->control >= 0) throw sim::Unmodelled("SetTimer: timers of controls are not modelled");
  if (call.Fails()) {
    machine.lastError = ERROR_NOT_ENOUGH_MEMORY;
    return call.Return<UINT_PTR>(0);
  }
  if (found == nullptr) {
    machine.lastError = ERROR_INVALID_WINDOW_HANDLE;
    return call.Return<UINT_PTR>(0);
  }
  // Windows 98 counts time in ticks of the system timer: no period is shorter than one tick.
  std::uint32_t period = std::max<std::uint32_t>(elapse, machine.ui().timerGranularityMs);
  std::uint64_t due = machine.ui().nowMs + period;
  for (sim::Ui::Impl::Timer& timer : ui.timers) {
    if (timer.window == window && timer.id == id) {  // setting it again restarts it
      timer.periodMs = period;
      timer.dueMs = due;
      timer.order = ui.timerOrder++;
      return call.Return(id);
    }
  }
  ui.timers.push_back({window, id, period, due, ui.timerOrder++});
  return call.Return(id);
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
  sim::Ui::Impl& ui = sim::UiOf(sim::Current());
  TracedCall call("KillTimer", {ui.Name(window), std::to_string(id)});
  if (call.Fails()) {
    call.machine().lastError = ERROR_INVALID_PARAMETER;
    return call.Return<BOOL>(FALSE);
  }
  std::size_t removed = std::erase_if(
      ui.timers, [&](const sim::Ui::Impl::Timer& timer) { return timer.window == window && timer.id == id; });
  if (removed == 0) {
    call.machine().lastError = ERROR_INVALID_PARAMETER;
    return call.Return<BOOL>(FALSE);
  }
  return call.Return<BOOL>(TRUE);
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR title, UINT style) {
  sim::Ui::Impl& ui = sim::UiOf(sim::Current());
  TracedCall call("MessageBoxA", {ui.Name(owner), Quote(text), Quote(title), Hex(style)});
  sim::Machine& machine = call.machine();
  if (call.Fails()) {
    machine.lastError = ERROR_NOT_ENOUGH_MEMORY;
    return call.Return(0);
  }
  // An owner that is no longer on screen makes the call fail, as a stale handle does on Windows.
  if (owner != nullptr && ui.Find(owner) == nullptr) {
    machine.lastError = ERROR_INVALID_WINDOW_HANDLE;
    return call.Return(0);
  }
  std::vector<int> buttons = sim::MessageBoxButtons(style);
  sim::MessageBoxRecord box;
  box.owner = owner;
  // EndDialog hides its dialog at once (SWP_HIDEWINDOW, as Windows and Wine do); the window
  // itself lives on until the modal loop returns, so it can still own the box.
  const sim::Ui::Impl::Window* ownerWindow = owner == nullptr ? nullptr : ui.Find(owner);
  box.ownerShown = ownerWindow != nullptr && !ownerWindow->dialog->state.ended;
  box.text = text == nullptr ? "" : text;
  box.title = title == nullptr ? "Error" : title;  // Windows' title for a box without one
  box.style = style;
  std::vector<sim::MessageBoxRecord>& boxes = machine.ui().messageBoxes;
  boxes.push_back(box);
  std::size_t index = boxes.size() - 1;
  sim::User* user = machine.ui().GetUser();
  if (user == nullptr) throw sim::Unanswered(sim::Shown(box) + " was shown and no user is set");
  int answer = user->AnswerMessageBox(box);
  if (std::find(buttons.begin(), buttons.end(), answer) == buttons.end())
    throw sim::Unanswered("the answer " + std::to_string(answer) + " is not a button of " + sim::Shown(box));
  machine.ui().messageBoxes[index].answer = answer;
  return call.Return(answer);
}

BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reserved) {
  TracedCall call("ExitWindowsEx", {std::to_string(flags), std::to_string(reserved)});
  if (call.Fails()) {
    call.machine().lastError = ERROR_NOT_ENOUGH_MEMORY;
    return call.Return<BOOL>(FALSE);
  }
  // The request is kept; the simulated machine does not restart.
  call.machine().ui().exitWindowsRequests.push_back(flags);
  return call.Return<BOOL>(TRUE);
}

// KERNEL32's, but the modules are the window manager's.
HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
  TracedCall call("GetModuleHandleA", {Quote(moduleName)});
  if (moduleName != nullptr) throw sim::Unmodelled("GetModuleHandleA: a module other than the program's own");
  sim::Machine& machine = call.machine();
  HMODULE module = call.Fails() ? nullptr : machine.ui().LastModule();
  if (module == nullptr) machine.lastError = ERROR_MOD_NOT_FOUND;
  call.Done(module == nullptr ? "NULL" : "hinstance#" + Hex(static_cast<std::uint32_t>(sim::Key(module))));
  return module;
}

void WINAPI InitCommonControls(void) {
  TracedCall call("InitCommonControls", {});
  if (!call.Fails()) call.machine().ui().commonControlsInitialised = true;
  call.Done("");
}
