// The terminal picture of the simulated window manager, without the terminal: dialogs drawn from
// the DialogState that the window manager reports, message boxes, and what a key does in each.
// Dialog units become character cells by the units' own definition: 4 horizontal units are one
// average character, 8 vertical units one character's height.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/ui.h"

namespace sandbox {

inline constexpr int kDialogUnitsPerColumn = 4;
inline constexpr int kDialogUnitsPerRow = 8;

enum class Style : unsigned char {
  Desktop,
  Face,
  Frame,
  Caption,
  Text,
  Button,
  DefaultButton,
  FocusedButton,
  BarEmpty,
  BarFilled,
  Icon
};

// Cells of text and style. Glyphs are Unicode; the terminal shows what it can of them.
struct Canvas {
  Canvas(int rows, int columns);
  int rows, columns;
  std::vector<std::u32string> glyphs;
  std::vector<std::vector<Style>> styles;
  void Put(int row, int column, std::u32string_view text, Style style);  // clipped to the canvas
  void Fill(int row, int column, int rowCount, int columnCount, char32_t glyph, Style style);
  void Frame(int row, int column, int rowCount, int columnCount, Style style);  // a box's lines
  std::string Row(int row) const;                                               // UTF-8
  std::string Text() const;                                                     // every row, each ended by a line feed
};

struct CellRect {
  int row = 0, column = 0, rows = 0, columns = 0;
};

// A control's cells inside the dialog's client area (floor of the unit edges, at least one cell).
CellRect ControlCells(const sim::ControlTemplate& control);
// Lines of a static text: its own line breaks, then words wrapped at width (a word longer than
// the width is cut into pieces), as DrawText with DT_WORDBREAK breaks them.
std::vector<std::string> WrapText(std::string_view text, int width);
// How many of cells a progress bar fills at its position within its range.
int FilledCells(const sim::ControlState& bar, int cells);
// A button of width cells: "[  OK  ]", or "[ >OK< ]" with the focus; '&' mnemonics dropped.
std::u32string ButtonFace(std::string_view text, int width, bool focused);
// Windows-1252 (the ANSI code page of U.S. and Western European Windows), one byte: its Unicode
// character, or 0 for the five bytes that the code page leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D). Control characters decode to themselves.
char32_t FromCp1252(unsigned char byte);
std::u32string FromAnsi(std::string_view text);  // Windows-1252 bytes; control characters as blanks
// The machine's bytes as the report shows them, in its text and its JSON alike: decoded as
// Windows-1252, in UTF-8, with control characters (C0, DEL) and undefined bytes written \xNN.
std::string MachineText(std::string_view text);

// The buttons that Tab cycles through, in template order: visible, enabled, tab-stop buttons.
std::vector<int> TabButtons(const sim::DialogState& dialog);
// The control that WM_INITDIALOG gives the focus to: the first visible, enabled tab stop; 0 if none.
int InitialFocus(const sim::DialogState& dialog);

struct CellSize {
  int rows = 0, columns = 0;
};
// The cells that a window takes on the terminal, its frame and caption bar included.
CellSize DialogCells(const sim::DialogState& dialog);
CellSize MessageBoxCells(const sim::MessageBoxRecord& box, int canvasColumns);
// Drawn instead of a window that does not fit: what it needs, what the terminal has, what to do.
void DrawTooSmall(Canvas& canvas, const std::string& window, CellSize needed);

// The line of keys at the foot of the screen: only the keys that do something in this window. A
// dialog without buttons whose timer runs is the progress dialog, which Escape stops before its
// timer gets as far as the removal.
std::string DialogHint(const sim::DialogState& dialog, bool timerRunning);
std::string MessageBoxHint(unsigned style);

// Draws the dialog centred on the canvas (DS_CENTER), with focusId's button marked.
void DrawDialog(Canvas& canvas, const sim::DialogState& dialog, int focusId);
// A message box's buttons in order (IDYES, IDNO, ...) and the one that has the focus first.
std::vector<int> MessageBoxButtons(unsigned style);
int DefaultMessageBoxButton(unsigned style);
void DrawMessageBox(Canvas& canvas, const sim::MessageBoxRecord& box, int focusedButton);
void DrawDesktop(Canvas& canvas);

// Keys, as the terminal reads them.
enum class Key { Tab, BackTab, Enter, Space, Escape, Left, Right, Up, Down, Close, Letter, Other };
struct KeyPress {
  Key key = Key::Other;
  char letter = 0;  // for Letter, in lower case
};

// What a key does in a dialog: an input for the window manager, or nothing (Tab and the arrows
// move focusId among TabButtons). Enter presses the focused button, as the focused push button
// is the default one while it has the focus; Space presses it too.
std::optional<sim::Input> DialogKey(const sim::DialogState& dialog, int& focusId, KeyPress key);
// What a key does in a message box: the answer it gives, or nothing. Y and N answer Yes and No,
// Escape Cancel (or OK in a box that has only OK), Enter and Space the focused button.
std::optional<int> MessageBoxKey(unsigned style, int& focusedButton, KeyPress key);

}  // namespace sandbox
