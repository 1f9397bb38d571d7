// The terminal's dialogs: see terminal.h.
#include "terminal.h"

#include <langinfo.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include <curses.h>

namespace sandbox {

struct TerminalScreen {
  SCREEN* screen = nullptr;
  FILE* in = nullptr;
  FILE* out = nullptr;
  bool unicode = false;
  bool colours = false;
  ~TerminalScreen() {
    if (screen != nullptr) {
      endwin();
      delscreen(screen);
    }
    if (in != nullptr) std::fclose(in);
    if (out != nullptr) std::fclose(out);
  }
};

namespace {

// How often a wait for a key looks whether a signal asks the run to stop.
constexpr int kSignalPollMs = 100;

// Colour pairs, one per style that needs its own.
enum Pair : short { kDesktop = 1, kFace, kCaption, kBar, kIcon };

attr_t Attributes(const TerminalScreen& screen, Style style, short& pair) {
  pair = 0;
  attr_t attributes = A_NORMAL;
  switch (style) {
    case Style::Desktop: pair = kDesktop; break;
    case Style::Face:
    case Style::Frame:
    case Style::Text:
    case Style::Button:
    case Style::BarEmpty: pair = kFace; break;
    case Style::DefaultButton:
      pair = kFace;
      attributes = A_BOLD;
      break;
    case Style::FocusedButton:
      pair = kFace;
      attributes = A_REVERSE | A_BOLD;
      break;
    case Style::Caption:
      pair = kCaption;
      attributes = A_BOLD;
      break;
    case Style::BarFilled: pair = kBar; break;
    case Style::Icon:
      pair = kIcon;
      attributes = A_BOLD;
      break;
  }
  if (!screen.colours) {
    pair = 0;
    if (style == Style::Caption) attributes = A_REVERSE;
  }
  return attributes;
}

// What a terminal without Unicode shows instead of the frame and bar glyphs.
wchar_t Plain(char32_t glyph) {
  switch (glyph) {
    case U'─': return L'-';
    case U'│': return L'|';
    case U'┌':
    case U'┐':
    case U'└':
    case U'┘': return L'+';
    case U'█': return L'#';
    case U'░': return L'.';
  }
  return glyph < 0x80 ? static_cast<wchar_t>(glyph) : L'?';
}

}  // namespace

std::unique_ptr<TerminalUser> TerminalUser::Open(const sim::Ui& ui, std::string& error) {
  const char* term = std::getenv("TERM");
  if (term == nullptr || term[0] == '\0') {
    error = "no terminal to draw the dialogs on (TERM is not set); give --answers to run without one";
    return nullptr;
  }
  if (std::strcmp(term, "dumb") == 0) {
    error =
        "TERM is \"dumb\": this terminal cannot place text on the screen, so it cannot draw the dialogs; run "
        "it in a full terminal, or give --answers to run without one";
    return nullptr;
  }
  auto screen = std::make_unique<TerminalScreen>();
  screen->in = std::fopen("/dev/tty", "r");
  screen->out = std::fopen("/dev/tty", "w");
  if (screen->in == nullptr || screen->out == nullptr) {
    error = "no terminal to draw the dialogs on (/dev/tty cannot be opened); give --answers to run without one";
    return nullptr;
  }
  std::setlocale(LC_ALL, "");
  screen->unicode = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
  screen->screen = newterm(nullptr, screen->out, screen->in);
  if (screen->screen == nullptr) {
    error = std::string("the terminal type \"") + term +
            "\" is not known to ncurses; give --answers to run without a terminal";
    return nullptr;
  }
  set_term(screen->screen);
  raw();  // Ctrl-C arrives as a key, so that the terminal is always given back whole
  noecho();
  keypad(stdscr, TRUE);
  set_escdelay(25);
  curs_set(0);
  // NO_COLOR (no-color.org): any value but the empty one turns the colours off.
  const char* noColor = std::getenv("NO_COLOR");
  if (has_colors() && (noColor == nullptr || noColor[0] == '\0')) {
    start_color();
    screen->colours = true;
    init_pair(kDesktop, COLOR_WHITE, COLOR_CYAN);
    init_pair(kFace, COLOR_BLACK, COLOR_WHITE);
    init_pair(kCaption, COLOR_WHITE, COLOR_BLUE);
    init_pair(kBar, COLOR_BLUE, COLOR_WHITE);
    init_pair(kIcon, COLOR_BLACK, COLOR_YELLOW);
  }
  return std::unique_ptr<TerminalUser>(new TerminalUser(ui, std::move(screen)));
}

TerminalUser::TerminalUser(const sim::Ui& ui, std::unique_ptr<TerminalScreen> screen)
    : ui_(ui), screen_(std::move(screen)) {}

TerminalUser::~TerminalUser() = default;

void TerminalUser::Close() { screen_.reset(); }

int& TerminalUser::FocusOf(const sim::DialogState& dialog) {
  auto it = focus_.find(dialog.hwnd);
  if (it == focus_.end()) it = focus_.emplace(dialog.hwnd, InitialFocus(dialog)).first;
  return it->second;
}

void TerminalUser::Draw() {
  if (!screen_) return;
  int rows = 0, columns = 0;
  getmaxyx(stdscr, rows, columns);
  Canvas canvas(rows, columns);
  DrawDesktop(canvas);
  const sim::DialogState* dialog = dialog_;
  // A box owned by a dialog that is still shown is drawn over it; an ended dialog is hidden.
  if (box_ != nullptr) dialog = box_->ownerShown ? ui_.OpenDialog(box_->owner) : nullptr;
  // What is shown must fit whole, with the line of keys below it; a cut dialog would hide buttons.
  CellSize needed;
  std::string window;
  if (dialog != nullptr) {
    needed = DialogCells(*dialog);
    window = "the dialog \"" + dialog->caption + "\"";
  }
  if (box_ != nullptr) {
    const CellSize box = MessageBoxCells(*box_, canvas.columns);
    needed = {std::max(needed.rows, box.rows), std::max(needed.columns, box.columns)};
    window = "the message box \"" + box_->title + "\"";
  }
  ++needed.rows;
  tooSmall_ = !window.empty() && (canvas.rows < needed.rows || canvas.columns < needed.columns);
  if (tooSmall_) {
    DrawTooSmall(canvas, window, needed);
  } else {
    if (dialog != nullptr) DrawDialog(canvas, *dialog, box_ != nullptr ? -1 : FocusOf(*dialog));
    if (box_ != nullptr) DrawMessageBox(canvas, *box_, boxFocus_);
    if (dialog_ != nullptr || box_ != nullptr) {
      const bool timerRunning = ui_.NextTimerDueMs().has_value();
      std::u32string hint =
          FromAnsi(box_ != nullptr ? MessageBoxHint(box_->style) : DialogHint(*dialog_, timerRunning));
      canvas.Put(canvas.rows - 1, 0, hint, Style::Desktop);
    }
  }
  for (int r = 0; r < canvas.rows; ++r) {
    for (int c = 0; c < canvas.columns; ++c) {
      // The last cell of the screen cannot be written without scrolling it.
      if (r == canvas.rows - 1 && c == canvas.columns - 1) continue;
      short pair = 0;
      attr_t attributes = Attributes(*screen_, canvas.styles[r][c], pair);
      char32_t glyph = canvas.glyphs[r][c];
      wchar_t text[2] = {screen_->unicode ? static_cast<wchar_t>(glyph) : Plain(glyph), L'\0'};
      cchar_t cell;
      setcchar(&cell, text, attributes, pair, nullptr);
      mvadd_wch(r, c, &cell);
    }
  }
  refresh();
}

std::optional<KeyPress> TerminalUser::ReadKey(int timeoutMs) {
  // A wait is cut into short ones: a signal that came just before getch began would not end it.
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  int ch = ERR;
  for (;;) {
    int wait = kSignalPollMs;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = static_cast<int>(std::clamp<long long>(left, 0, kSignalPollMs));
    }
    timeout(wait);
    ch = getch();
    StopIfSignalled();
    if (ch != ERR) break;
    if (timeoutMs >= 0 && Clock::now() >= deadline) return std::nullopt;
  }
  switch (ch) {
    case 3: throw Interrupted();  // Ctrl-C
    case '\t': return KeyPress{Key::Tab, 0};
    case KEY_BTAB: return KeyPress{Key::BackTab, 0};
    case '\n':
    case '\r':
    case KEY_ENTER: return KeyPress{Key::Enter, 0};
    case ' ': return KeyPress{Key::Space, 0};
    case 27: return KeyPress{Key::Escape, 0};
    case KEY_LEFT: return KeyPress{Key::Left, 0};
    case KEY_RIGHT: return KeyPress{Key::Right, 0};
    case KEY_UP: return KeyPress{Key::Up, 0};
    case KEY_DOWN: return KeyPress{Key::Down, 0};
    case KEY_F(4): return KeyPress{Key::Close, 0};
    case KEY_RESIZE: Draw(); return KeyPress{Key::Other, 0};
  }
  if (ch >= 'A' && ch <= 'Z') return KeyPress{Key::Letter, static_cast<char>(ch - 'A' + 'a')};
  if (ch >= 'a' && ch <= 'z') return KeyPress{Key::Letter, static_cast<char>(ch)};
  return KeyPress{Key::Other, 0};
}

void TerminalUser::DialogChanged(const sim::DialogState& dialog, std::uint64_t nowMs) {
  SandboxUser::DialogChanged(dialog, nowMs);
  dialog_ = &dialog;
  Draw();
}

void TerminalUser::DialogClosed(const sim::DialogState& dialog) {
  SandboxUser::DialogClosed(dialog);
  focus_.erase(dialog.hwnd);
  dialog_ = nullptr;
  Draw();
}

std::optional<sim::Input> TerminalUser::NextInput(const sim::DialogState& dialog, std::uint64_t nowMs) {
  using Clock = std::chrono::steady_clock;
  dialog_ = &dialog;
  Draw();
  // With a timer running, the wait lasts until its message is due, in real time; without one the
  // dialog waits for the person.
  std::optional<Clock::time_point> deadline;
  if (std::optional<std::uint64_t> due = ui_.NextTimerDueMs())
    deadline = Clock::now() + std::chrono::milliseconds(*due > nowMs ? *due - nowMs : 0);
  for (;;) {
    int timeoutMs = -1;
    if (deadline && !tooSmall_) {  // a dialog that cannot be seen waits for the terminal to grow
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
      if (left <= 0) return std::nullopt;
      timeoutMs = static_cast<int>(left);
    }
    std::optional<KeyPress> key = ReadKey(timeoutMs);
    if (!key || tooSmall_) continue;  // a key pressed blind does nothing
    std::optional<sim::Input> input = DialogKey(dialog, FocusOf(dialog), *key);
    if (input) {
      NoteInput(dialog, InputName(dialog, *input));
      return input;
    }
    Draw();  // the focus may have moved
  }
}

int TerminalUser::AnswerMessageBox(const sim::MessageBoxRecord& box) {
  box_ = &box;
  boxFocus_ = DefaultMessageBoxButton(box.style);
  struct Clear {
    TerminalUser& user;
    ~Clear() { user.box_ = nullptr; }
  } clear{*this};
  for (;;) {
    Draw();
    std::optional<KeyPress> key = ReadKey(-1);
    if (!key || tooSmall_) continue;
    if (std::optional<int> answer = MessageBoxKey(box.style, boxFocus_, *key)) {
      NoteAnswer(box, *answer);
      box_ = nullptr;
      Draw();
      return *answer;
    }
  }
}

}  // namespace sandbox
