// The terminal picture of dialogs and message boxes: see layout.h.
#include "layout.h"

#include <algorithm>

#include "sim/text.h"

namespace sandbox {
namespace {

constexpr std::uint32_t kButtonTypeMask = 0x0F;
constexpr std::uint32_t kStaticAlignMask = 0x03;  // SS_LEFT 0, SS_CENTER 1, SS_RIGHT 2
constexpr int kMessageButtonWidth = 10;
constexpr int kMessageButtonGap = 2;

bool IsClass(const sim::ControlState& control, std::string_view name) {
  return sim::EqualNoCase(control.tmpl.className, name);
}

bool Visible(const sim::ControlState& control) { return (control.tmpl.style & WS_VISIBLE) != 0; }
bool Enabled(const sim::ControlState& control) { return (control.tmpl.style & WS_DISABLED) == 0; }

std::string WithoutMnemonics(std::string_view text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;  // "&&" is one '&'
    plain += text[i];
  }
  return plain;
}

// Rows of a one-row control: the row that holds its vertical middle.
int MiddleRow(const sim::ControlTemplate& control) { return (control.y * 2 + control.cy) / (2 * kDialogUnitsPerRow); }

std::u32string Centered(std::u32string_view text, int width) {
  if (static_cast<int>(text.size()) > width) text = text.substr(0, static_cast<std::size_t>(width));
  int left = (width - static_cast<int>(text.size())) / 2;
  std::u32string line(static_cast<std::size_t>(left), U' ');
  line += text;
  line.resize(static_cast<std::size_t>(width), U' ');
  return line;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// A window's frame and caption bar; returns the first row and column of its client area.
void DrawWindow(Canvas& canvas, int top, int left, int rows, int columns, const std::string& caption, bool closeBox) {
  canvas.Fill(top, left, rows, columns, U' ', Style::Face);
  canvas.Frame(top, left, rows, columns, Style::Frame);
  canvas.Fill(top + 1, left + 1, 1, columns - 2, U' ', Style::Caption);
  int captionWidth = columns - 2 - (closeBox ? 4 : 0) - 1;
  std::u32string text = FromAnsi(caption);
  if (static_cast<int>(text.size()) > captionWidth) text.resize(static_cast<std::size_t>(std::max(0, captionWidth)));
  canvas.Put(top + 1, left + 2, text, Style::Caption);
  if (closeBox) canvas.Put(top + 1, left + columns - 5, U"[X]", Style::Caption);
}

std::u32string IconGlyphs(unsigned style) {
  switch (style & 0xF0) {
    case 0x10: return U"(X)";   // MB_ICONHAND
    case 0x20: return U"(?)";   // MB_ICONQUESTION
    case 0x30: return U"/!\\";  // MB_ICONEXCLAMATION
    case 0x40: return U"(i)";   // MB_ICONASTERISK
  }
  return U"";
}

}  // namespace

Canvas::Canvas(int rowCount, int columnCount)
    : rows(std::max(rowCount, 1)),
      columns(std::max(columnCount, 1)),
      glyphs(static_cast<std::size_t>(rows), std::u32string(static_cast<std::size_t>(columns), U' ')),
      styles(static_cast<std::size_t>(rows), std::vector<Style>(static_cast<std::size_t>(columns), Style::Desktop)) {}

void Canvas::Put(int row, int column, std::u32string_view text, Style style) {
  if (row < 0 || row >= rows) return;
  for (std::size_t i = 0; i < text.size(); ++i) {
    int at = column + static_cast<int>(i);
    if (at < 0 || at >= columns) continue;
    glyphs[static_cast<std::size_t>(row)][static_cast<std::size_t>(at)] = text[i];
    styles[static_cast<std::size_t>(row)][static_cast<std::size_t>(at)] = style;
  }
}

void Canvas::Fill(int row, int column, int rowCount, int columnCount, char32_t glyph, Style style) {
  if (columnCount <= 0) return;
  std::u32string line(static_cast<std::size_t>(columnCount), glyph);
  for (int r = row; r < row + rowCount; ++r) Put(r, column, line, style);
}

void Canvas::Frame(int row, int column, int rowCount, int columnCount, Style style) {
  if (rowCount < 2 || columnCount < 2) return;
  std::u32string top(static_cast<std::size_t>(columnCount), U'─');
  top.front() = U'┌';
  top.back() = U'┐';
  std::u32string bottom(static_cast<std::size_t>(columnCount), U'─');
  bottom.front() = U'└';
  bottom.back() = U'┘';
  Put(row, column, top, style);
  Put(row + rowCount - 1, column, bottom, style);
  for (int r = row + 1; r < row + rowCount - 1; ++r) {
    Put(r, column, U"│", style);
    Put(r, column + columnCount - 1, U"│", style);
  }
}

std::string Canvas::Row(int row) const {
  std::string out;
  if (row < 0 || row >= rows) return out;
  for (char32_t c : glyphs[static_cast<std::size_t>(row)]) AppendUtf8(out, c);
  return out;
}

std::string Canvas::Text() const {
  std::string out;
  for (int r = 0; r < rows; ++r) out += Row(r) + "\n";
  return out;
}

CellRect ControlCells(const sim::ControlTemplate& control) {
  CellRect cells;
  cells.column = control.x / kDialogUnitsPerColumn;
  cells.row = control.y / kDialogUnitsPerRow;
  cells.columns = std::max(1, (control.x + control.cx) / kDialogUnitsPerColumn - cells.column);
  cells.rows = std::max(1, (control.y + control.cy) / kDialogUnitsPerRow - cells.row);
  return cells;
}

std::vector<std::string> WrapText(std::string_view text, int width) {
  width = std::max(width, 1);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find('\n', start);
    std::string_view paragraph =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    std::string line;
    std::size_t at = 0;
    while (at < paragraph.size()) {
      while (at < paragraph.size() && (paragraph[at] == ' ' || paragraph[at] == '\r' || paragraph[at] == '\t')) ++at;
      std::size_t wordEnd = at;
      while (wordEnd < paragraph.size() && paragraph[wordEnd] != ' ' && paragraph[wordEnd] != '\r' &&
             paragraph[wordEnd] != '\t')
        ++wordEnd;
      std::string_view word = paragraph.substr(at, wordEnd - at);
      at = wordEnd;
      if (word.empty()) break;
      if (!line.empty() && static_cast<int>(line.size() + 1 + word.size()) <= width) {
        line += ' ';
        line += word;
        continue;
      }
      if (!line.empty()) lines.push_back(line);
      line.clear();
      // A word wider than the line is cut into pieces of the line's width.
      while (static_cast<int>(word.size()) > width) {
        lines.emplace_back(word.substr(0, static_cast<std::size_t>(width)));
        word.remove_prefix(static_cast<std::size_t>(width));
      }
      line = word;
    }
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return lines;
}

int FilledCells(const sim::ControlState& bar, int cells) {
  long span = static_cast<long>(bar.rangeMax) - bar.rangeMin;
  if (span <= 0 || cells <= 0) return 0;
  long pos = std::clamp<long>(bar.pos, bar.rangeMin, bar.rangeMax) - bar.rangeMin;
  return static_cast<int>(pos * cells / span);
}

char32_t FromCp1252(unsigned char byte) {
  static constexpr char32_t kHigh[32] = {
      U'\u20AC', 0,         U'\u201A', U'\u0192', U'\u201E', U'\u2026', U'\u2020', U'\u2021',
      U'\u02C6', U'\u2030', U'\u0160', U'\u2039', U'\u0152', 0,         U'\u017D', 0,
      0,         U'\u2018', U'\u2019', U'\u201C', U'\u201D', U'\u2022', U'\u2013', U'\u2014',
      U'\u02DC', U'\u2122', U'\u0161', U'\u203A', U'\u0153', 0,         U'\u017E', U'\u0178'};
  return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : static_cast<char32_t>(byte);
}

std::u32string FromAnsi(std::string_view text) {
  std::u32string out;
  for (unsigned char c : text) {
    const char32_t decoded = FromCp1252(c);
    out += decoded < 0x20 || decoded == 0x7F ? U' ' : decoded;  // the undefined bytes give 0
  }
  return out;
}

std::string MachineText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    const char32_t decoded = FromCp1252(c);
    if (decoded < 0x20 || decoded == 0x7F) {  // the undefined bytes give 0
      static constexpr char kDigits[] = "0123456789abcdef";
      out += "\\x";
      out += kDigits[c >> 4];
      out += kDigits[c & 0xF];
    } else {
      AppendUtf8(out, decoded);
    }
  }
  return out;
}

std::u32string ButtonFace(std::string_view text, int width, bool focused) {
  if (width < 3) return std::u32string(static_cast<std::size_t>(std::max(width, 0)), U'=');
  std::u32string label = FromAnsi(WithoutMnemonics(text));
  if (focused) label = U">" + label + U"<";
  return std::u32string(1, U'[').append(Centered(label, width - 2)).append(U"]");
}

std::vector<int> TabButtons(const sim::DialogState& dialog) {
  std::vector<int> ids;
  for (const sim::ControlState& control : dialog.controls) {
    if (IsClass(control, "button") && Visible(control) && Enabled(control) && (control.tmpl.style & WS_TABSTOP))
      ids.push_back(control.tmpl.id);
  }
  return ids;
}

int InitialFocus(const sim::DialogState& dialog) {
  for (const sim::ControlState& control : dialog.controls) {
    if (Visible(control) && Enabled(control) && (control.tmpl.style & WS_TABSTOP)) return control.tmpl.id;
  }
  return 0;
}

void DrawTooSmall(Canvas& canvas, const std::string& window, CellSize needed) {
  const std::string text = "The terminal is " + std::to_string(canvas.columns) + " x " + std::to_string(canvas.rows) +
                           " characters; " + window + " needs " + std::to_string(needed.columns) + " x " +
                           std::to_string(needed.rows) +
                           ".\nMake the terminal larger to go on. Ctrl-C stops the "
                           "run; --answers runs it without a terminal.";
  std::vector<std::string> lines = WrapText(text, canvas.columns);
  for (int row = 0; row < canvas.rows && row < static_cast<int>(lines.size()); ++row)
    canvas.Put(row, 0, FromAnsi(lines[static_cast<std::size_t>(row)]), Style::Desktop);
}

std::string DialogHint(const sim::DialogState& dialog, bool timerRunning) {
  const std::vector<int> buttons = TabButtons(dialog);
  std::string hint = " ";
  if (!buttons.empty()) hint += "Enter/Space: press   ";
  if (buttons.size() > 1) hint += "Tab: next button   ";
  if (std::find(buttons.begin(), buttons.end(), IDCANCEL) != buttons.end()) hint += "Esc: Cancel   ";
  else if (buttons.empty() && timerRunning) hint += "Esc: stop before anything is removed   ";
  else hint += "Esc: Cancel   ";
  if (dialog.tmpl.style & WS_SYSMENU) hint += "F4: close ";
  return hint;
}

std::string MessageBoxHint(unsigned style) {
  const std::vector<int> buttons = MessageBoxButtons(style);
  auto has = [&](int id) { return std::find(buttons.begin(), buttons.end(), id) != buttons.end(); };
  std::string hint = " ";
  if (has(IDYES)) hint += "Y/N: Yes/No   ";
  hint += "Enter/Space: press   ";
  if (buttons.size() > 1) hint += "Tab: next button   ";
  if (has(IDCANCEL)) hint += "Esc: Cancel ";
  else if (buttons.size() == 1) hint += "Esc: OK ";
  return hint;
}

void DrawDesktop(Canvas& canvas) { canvas.Fill(0, 0, canvas.rows, canvas.columns, U' ', Style::Desktop); }

CellSize DialogCells(const sim::DialogState& dialog) {
  const int clientColumns = (dialog.tmpl.cx + kDialogUnitsPerColumn - 1) / kDialogUnitsPerColumn;
  const int clientRows = (dialog.tmpl.cy + kDialogUnitsPerRow - 1) / kDialogUnitsPerRow;
  return {clientRows + 3, clientColumns + 2};  // frame, caption bar, client area, frame
}

void DrawDialog(Canvas& canvas, const sim::DialogState& dialog, int focusId) {
  const CellSize size = DialogCells(dialog);
  const int columns = size.columns;
  const int rows = size.rows;
  int top = std::max(0, (canvas.rows - rows) / 2);
  int left = std::max(0, (canvas.columns - columns) / 2);
  DrawWindow(canvas, top, left, rows, columns, dialog.caption, (dialog.tmpl.style & WS_SYSMENU) != 0);
  int clientTop = top + 2;
  int clientLeft = left + 1;

  for (const sim::ControlState& control : dialog.controls) {
    if (!Visible(control)) continue;
    CellRect cells = ControlCells(control.tmpl);
    int row = clientTop + cells.row;
    int column = clientLeft + cells.column;
    if (IsClass(control, "button")) {
      bool focused = control.tmpl.id == focusId;
      bool isDefault = (control.tmpl.style & kButtonTypeMask) == BS_DEFPUSHBUTTON;
      canvas.Put(clientTop + MiddleRow(control.tmpl), column, ButtonFace(control.text, cells.columns, focused),
                 focused     ? Style::FocusedButton
                 : isDefault ? Style::DefaultButton
                             : Style::Button);
    } else if (IsClass(control, PROGRESS_CLASSA)) {
      int barRow = clientTop + MiddleRow(control.tmpl);
      int inner = cells.columns - 2;
      int filled = FilledCells(control, inner);
      canvas.Put(barRow, column, U"[", Style::Text);
      canvas.Fill(barRow, column + 1, 1, filled, U'█', Style::BarFilled);
      canvas.Fill(barRow, column + 1 + filled, 1, inner - filled, U'░', Style::BarEmpty);
      canvas.Put(barRow, column + cells.columns - 1, U"]", Style::Text);
    } else {
      std::vector<std::string> lines = WrapText(control.text, cells.columns);
      for (int i = 0; i < cells.rows && i < static_cast<int>(lines.size()); ++i) {
        std::u32string line = FromAnsi(lines[static_cast<std::size_t>(i)]);
        int pad = 0;
        if ((control.tmpl.style & kStaticAlignMask) == 1) pad = (cells.columns - static_cast<int>(line.size())) / 2;
        if ((control.tmpl.style & kStaticAlignMask) == 2) pad = cells.columns - static_cast<int>(line.size());
        canvas.Put(row + i, column + std::max(pad, 0), line, Style::Text);
      }
    }
  }
}

std::vector<int> MessageBoxButtons(unsigned style) {
  switch (style & 0x0F) {
    case 1: return {IDOK, IDCANCEL};
    case 2: return {IDABORT, IDRETRY, IDIGNORE};
    case 3: return {IDYES, IDNO, IDCANCEL};
    case 4: return {IDYES, IDNO};
    case 5: return {IDRETRY, IDCANCEL};
  }
  return {IDOK};
}

int DefaultMessageBoxButton(unsigned style) {
  std::vector<int> buttons = MessageBoxButtons(style);
  std::size_t index = (style & 0x300) >> 8;  // MB_DEFBUTTON2, MB_DEFBUTTON3
  return buttons[std::min(index, buttons.size() - 1)];
}

namespace {

// A message box's text lines and size, its text wrapped to what the canvas allows (20 to 72).
struct BoxLayout {
  std::vector<int> buttons;
  std::u32string icon;
  int iconWidth = 0;
  std::vector<std::string> lines;
  int buttonsWidth = 0;
  bool closeBox = false;
  CellSize size;
};

BoxLayout LayOut(const sim::MessageBoxRecord& box, int canvasColumns) {
  BoxLayout layout;
  layout.buttons = MessageBoxButtons(box.style);
  layout.icon = IconGlyphs(box.style);
  layout.iconWidth = layout.icon.empty() ? 0 : static_cast<int>(layout.icon.size()) + 2;
  const int textWidth = std::clamp(canvasColumns - 4 - layout.iconWidth, 20, 72);  // the frame and a margin each side
  layout.lines = WrapText(box.text, textWidth);
  int widest = 0;
  for (const std::string& line : layout.lines) widest = std::max(widest, static_cast<int>(line.size()));
  layout.buttonsWidth =
      static_cast<int>(layout.buttons.size()) * (kMessageButtonWidth + kMessageButtonGap) - kMessageButtonGap;
  layout.closeBox = std::find(layout.buttons.begin(), layout.buttons.end(), IDCANCEL) != layout.buttons.end() ||
                    layout.buttons.size() == 1;
  const int content = std::max(
      {layout.iconWidth + widest, layout.buttonsWidth, static_cast<int>(box.title.size()) + (layout.closeBox ? 6 : 2)});
  // frame, caption, blank, text, blank, buttons, frame
  layout.size = {static_cast<int>(layout.lines.size()) + 6, content + 4};
  return layout;
}

}  // namespace

CellSize MessageBoxCells(const sim::MessageBoxRecord& box, int canvasColumns) {
  return LayOut(box, canvasColumns).size;
}

void DrawMessageBox(Canvas& canvas, const sim::MessageBoxRecord& box, int focusedButton) {
  static const char* const kLabels[] = {"", "OK", "Cancel", "&Abort", "&Retry", "&Ignore", "&Yes", "&No"};
  const BoxLayout layout = LayOut(box, canvas.columns);
  const std::vector<int>& buttons = layout.buttons;
  const std::u32string& icon = layout.icon;
  const int iconWidth = layout.iconWidth;
  const std::vector<std::string>& lines = layout.lines;
  const int buttonsWidth = layout.buttonsWidth;
  const bool closeBox = layout.closeBox;
  const int columns = layout.size.columns;
  const int rows = layout.size.rows;
  int top = std::max(0, (canvas.rows - rows) / 2);
  int left = std::max(0, (canvas.columns - columns) / 2);
  DrawWindow(canvas, top, left, rows, columns, box.title, closeBox);
  if (!icon.empty()) canvas.Put(top + 3, left + 2, icon, Style::Icon);
  for (std::size_t i = 0; i < lines.size(); ++i)
    canvas.Put(top + 3 + static_cast<int>(i), left + 2 + iconWidth, FromAnsi(lines[i]), Style::Text);
  int column = left + (columns - buttonsWidth) / 2;
  for (int id : buttons) {
    bool focused = id == focusedButton;
    canvas.Put(top + rows - 2, column, ButtonFace(kLabels[id], kMessageButtonWidth, focused),
               focused ? Style::FocusedButton : Style::Button);
    column += kMessageButtonWidth + kMessageButtonGap;
  }
}

namespace {

// Moves the focus one place along a list (wrapping round); an id not in it goes to the first.
template <typename T>
void MoveFocus(const std::vector<T>& order, T& focus, int by) {
  if (order.empty()) return;
  auto it = std::find(order.begin(), order.end(), focus);
  if (it == order.end()) {
    focus = order.front();
    return;
  }
  auto n = static_cast<long>(order.size());
  long index = ((it - order.begin()) + by + n) % n;
  focus = order[static_cast<std::size_t>(index)];
}

// Tab and the arrow keys move the focus among the buttons: by this step, 0 for every other key.
int FocusStep(Key key) {
  switch (key) {
    case Key::Tab:
    case Key::Right:
    case Key::Down: return 1;
    case Key::BackTab:
    case Key::Left:
    case Key::Up: return -1;
    default: return 0;
  }
}

}  // namespace

std::optional<sim::Input> DialogKey(const sim::DialogState& dialog, int& focusId, KeyPress key) {
  std::vector<int> buttons = TabButtons(dialog);
  bool onButton = std::find(buttons.begin(), buttons.end(), focusId) != buttons.end();
  if (const int step = FocusStep(key.key)) {
    MoveFocus(buttons, focusId, step);
    return std::nullopt;
  }
  switch (key.key) {
    case Key::Enter:
      if (onButton) return sim::Input{sim::Input::Button, focusId};
      return sim::Input{sim::Input::Enter, 0};
    case Key::Space:
      if (onButton) return sim::Input{sim::Input::Button, focusId};
      return std::nullopt;
    case Key::Escape: return sim::Input{sim::Input::Escape, 0};
    case Key::Close:
      if ((dialog.tmpl.style & WS_SYSMENU) == 0) return std::nullopt;
      return sim::Input{sim::Input::Close, 0};
    default: break;
  }
  return std::nullopt;
}

std::optional<int> MessageBoxKey(unsigned style, int& focusedButton, KeyPress key) {
  std::vector<int> buttons = MessageBoxButtons(style);
  auto has = [&](int id) { return std::find(buttons.begin(), buttons.end(), id) != buttons.end(); };
  if (const int step = FocusStep(key.key)) {
    MoveFocus(buttons, focusedButton, step);
    return std::nullopt;
  }
  switch (key.key) {
    case Key::Enter:
    case Key::Space:
      if (has(focusedButton)) return focusedButton;
      return std::nullopt;
    case Key::Escape:
    case Key::Close:
      if (has(IDCANCEL)) return IDCANCEL;
      if (buttons.size() == 1 && buttons[0] == IDOK) return IDOK;
      return std::nullopt;  // a Yes/No box cannot be dismissed
    case Key::Letter: {
      static const std::pair<char, int> kMnemonics[] = {
          {'y', IDYES}, {'n', IDNO}, {'a', IDABORT}, {'r', IDRETRY}, {'i', IDIGNORE}};
      for (const auto& [letter, id] : kMnemonics) {
        if (key.letter == letter && has(id)) return id;
      }
      return std::nullopt;
    }
    default: break;
  }
  return std::nullopt;
}

}  // namespace sandbox
