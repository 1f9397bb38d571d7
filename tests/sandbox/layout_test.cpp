// The terminal picture: the program's real dialogs (photographed while it runs) drawn at 4 dialog
// units a column and 8 a row, the progress bar as the control's own position moves it, message
// boxes that fit an 80-column terminal, and what each key does.
#include <gtest/gtest.h>

#include "layout.h"
#include "program.h"
#include "sandbox_test_util.h"

namespace {

using sandbox::Canvas;
using sandbox::Key;
using sandbox::KeyPress;
using sandbox_test::Cells;
using sandbox_test::Photographer;
using Step = sim::ScriptedUser::Step;

// One confirmed run on a bare machine, the dialogs photographed on the way.
class Drawn : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim::Machine machine;
    user_ = new Photographer({Step{"WELCOME", {sim::Input::Button, IDOK}, 0, 0}, Step{"MessageBox", {}, IDNO, 0}});
    sandbox::RunUninstaller(machine, *user_);
  }
  static void TearDownTestSuite() { delete user_; }
  static const sim::DialogState& Welcome() { return user_->Photo("WELCOME", 0); }
  static const sim::DialogState& Progress(int timerMessages) { return user_->Photo("UNINSTALL", timerMessages); }
  static Photographer* user_;
};
Photographer* Drawn::user_ = nullptr;

// WELCOME is 273 x 95 units: 69 x 12 cells of client area, 71 x 15 with frame and caption bar,
// centred on 100 x 40 at row 12, column 14. Its text (23,17 226x37) starts 5 columns and 2 rows
// into the client area and is 57 columns wide; the buttons (42,68 and 165,68) sit on client row 9.
TEST_F(Drawn, WelcomeDialogAtTheDialogUnitsScale) {
  Canvas canvas(40, 100);
  sandbox::DrawDialog(canvas, Welcome(), sandbox::InitialFocus(Welcome()));
  EXPECT_EQ(Cells(canvas, 12, 14, 2), U"┌─");
  EXPECT_EQ(Cells(canvas, 12, 84, 1), U"┐");
  EXPECT_EQ(Cells(canvas, 26, 14, 1), U"└");
  EXPECT_EQ(Cells(canvas, 13, 16, 38), U"Welcome to the disinstallation program");
  EXPECT_EQ(Cells(canvas, 13, 80, 3), U"[X]");
  const std::u32string lines[] = {U"Click on the 'OK' button to start disinstalling the",
                                  U"ZANTEROVA Karsenby RK514 driver.",
                                  U"Click on the 'Cancel' button to quit the disinstallation", U"procedure."};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Cells(canvas, 16 + i, 20, static_cast<int>(lines[i].size()) + 1), lines[i] + U" ");
  }
  EXPECT_EQ(Cells(canvas, 23, 25, 13), U"[   >OK<    ]");  // the focus starts on the first tab stop
  EXPECT_EQ(Cells(canvas, 23, 56, 13), U"[  Cancel   ]");
}

// The bar (29,63 126x9) is 31 cells with its two ends: 29 cells show position 0..140. The step
// of -2 from 0 wraps to 138 at once, then the bar empties two units a tick.
TEST_F(Drawn, ProgressBarFollowsTheControlsPosition) {
  struct Case {
    int timerMessages;
    int filled;
  } cases[] = {{0, 0}, {1, 28}, {2, 28}, {35, 14}, {69, 0}, {70, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.timerMessages);
    Canvas canvas(40, 100);
    sandbox::DrawDialog(canvas, Progress(c.timerMessages), 0);
    std::u32string expected = U"[" + std::u32string(static_cast<std::size_t>(c.filled), U'█') +
                              std::u32string(static_cast<std::size_t>(29 - c.filled), U'░') + U"]";
    EXPECT_EQ(Cells(canvas, 22, 33, 31), expected);
    EXPECT_EQ(Cells(canvas, 13, 27, 24), U"Disinstalling the driver");
    EXPECT_EQ(Cells(canvas, 15, 30, 36), U"The ZANTEROVA Karsenby RK514 driver ");
    EXPECT_EQ(Cells(canvas, 16, 30, 34), U"is currently being disinstalled...");
  }
}

// The line of keys offers what each window takes: no Tab in the progress dialog, which has no
// buttons, and an Escape that stops the run before the removal. A window that does not fit the
// terminal is not drawn cut: it needs its cells and the line of keys below.
TEST_F(Drawn, KeyHintsAndTheRoomEachDialogNeeds) {
  struct Case {
    const sim::DialogState& dialog;
    bool timerRunning;
    std::vector<std::string> offered, notOffered;
    sandbox::CellSize cells;
  } cases[] = {
      {Welcome(), false, {"Enter/Space: press", "Tab: next button", "Esc: Cancel", "F4: close"}, {"stop"}, {15, 71}},
      {Progress(10), true, {"Esc: stop before anything is removed", "F4: close"}, {"Tab", "Enter", "Cancel"}, {15, 49}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialog.tmpl.name);
    const std::string hint = sandbox::DialogHint(c.dialog, c.timerRunning);
    for (const std::string& part : c.offered) EXPECT_NE(hint.find(part), std::string::npos) << hint;
    for (const std::string& part : c.notOffered) EXPECT_EQ(hint.find(part), std::string::npos) << hint;
    EXPECT_LE(hint.size(), 80u);
    const sandbox::CellSize cells = sandbox::DialogCells(c.dialog);
    EXPECT_EQ(cells.rows, c.cells.rows);
    EXPECT_EQ(cells.columns, c.cells.columns);
  }
  // 60 x 20 cannot show the welcome dialog: the picture says so instead of cutting it.
  Canvas canvas(20, 60);
  sandbox::DrawTooSmall(canvas, "the dialog \"Welcome\"", sandbox::DialogCells(Welcome()));
  for (const char* part : {"The terminal is 60 x 20 characters;", "needs 71 x 15.", "Make the terminal larger"})
    EXPECT_NE(canvas.Text().find(part), std::string::npos) << canvas.Text();
}

TEST(WrapText, BreaksAtBlanksKeepsLineBreaksAndCutsLongWords) {
  struct Case {
    const char* text;
    int width;
    std::vector<std::string> lines;
  } cases[] = {
      {"one two three", 7, {"one two", "three"}},
      {"one two", 7, {"one two"}},
      {"one\ntwo", 20, {"one", "two"}},
      {"one\n\ntwo", 20, {"one", "", "two"}},
      {"abcdefghij", 4, {"abcd", "efgh", "ij"}},
      {"a  b", 10, {"a b"}},
      {"", 5, {""}},
      {"line\r\nnext", 10, {"line", "next"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(sandbox::WrapText(c.text, c.width), c.lines);
  }
}

TEST(FilledCells, ClampsToTheRangeAndSurvivesAnEmptyOne) {
  struct Case {
    int min, max, pos, cells, filled;
  } cases[] = {{0, 140, 0, 29, 0},  {0, 140, 140, 29, 29}, {0, 140, 70, 29, 14}, {0, 140, 500, 29, 29},
               {0, 140, -5, 29, 0}, {10, 20, 15, 10, 5},   {5, 5, 5, 10, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.min << ".." << c.max << " at " << c.pos);
    sim::ControlState bar;
    bar.rangeMin = c.min;
    bar.rangeMax = c.max;
    bar.pos = c.pos;
    EXPECT_EQ(sandbox::FilledCells(bar, c.cells), c.filled);
  }
}

// The success prompt fits an 80 x 24 terminal without breaking its lines.
TEST(MessageBoxPicture, SuccessPromptFitsEightyColumns) {
  sim::MessageBoxRecord box;
  box.title = "Disinstallation succeeded";
  box.text =
      "The ZANTEROVA Karsenby RK514 driver has been correctly disinstalled.\nYou must restart your PC to finish the "
      "disinstallation.\n\nClick on the 'Yes' button to reboot now.\nChoose 'No' if you want to continue "
      "working.\n\nThe disinstallation will not be effective until you restart Windows.";
  box.style = 0x1034;
  Canvas canvas(24, 80);
  sandbox::DrawMessageBox(canvas, box, IDYES);
  std::string text = canvas.Text();
  EXPECT_NE(text.find("/!\\  The ZANTEROVA Karsenby RK514 driver has been correctly disinstalled. │"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("     The disinstallation will not be effective until you restart Windows."), std::string::npos);
  EXPECT_NE(text.find("[ >Yes<  ]  [   No   ]"), std::string::npos);
  EXPECT_NE(text.find("│ Disinstallation succeeded"), std::string::npos);
}

struct DialogKeyCase {
  const char* name;
  bool progress;  // the progress dialog, else the welcome dialog
  std::vector<KeyPress> keys;
  std::optional<sim::Input> input;  // of the last key
  int focus;                        // after the keys
};

TEST_F(Drawn, KeysInTheDialogs) {
  const KeyPress tab{Key::Tab, 0}, back{Key::BackTab, 0}, enter{Key::Enter, 0}, space{Key::Space, 0};
  const DialogKeyCase cases[] = {
      {"Enter presses the focused OK", false, {enter}, sim::Input{sim::Input::Button, IDOK}, IDOK},
      {"Tab moves to Cancel, Enter presses it",
       false,
       {tab, enter},
       sim::Input{sim::Input::Button, IDCANCEL},
       IDCANCEL},
      {"Tab wraps round, Space presses OK", false, {tab, tab, space}, sim::Input{sim::Input::Button, IDOK}, IDOK},
      {"Shift-Tab from OK goes to Cancel", false, {back, space}, sim::Input{sim::Input::Button, IDCANCEL}, IDCANCEL},
      {"the arrows move the focus too",
       false,
       {{Key::Right, 0}, {Key::Left, 0}, enter},
       sim::Input{sim::Input::Button, IDOK},
       IDOK},
      {"Escape", false, {{Key::Escape, 0}}, sim::Input{sim::Input::Escape, 0}, IDOK},
      {"F4 is the close button", false, {{Key::Close, 0}}, sim::Input{sim::Input::Close, 0}, IDOK},
      {"a letter does nothing", false, {{Key::Letter, 'x'}}, std::nullopt, IDOK},
      {"Escape closes the progress dialog", true, {{Key::Escape, 0}}, sim::Input{sim::Input::Escape, 0}, 0},
      {"Enter in the progress dialog is the Enter key", true, {enter}, sim::Input{sim::Input::Enter, 0}, 0},
      {"Space and Tab there do nothing", true, {tab, space}, std::nullopt, 0},
  };
  for (const DialogKeyCase& c : cases) {
    SCOPED_TRACE(c.name);
    const sim::DialogState& dialog = c.progress ? Progress(0) : Welcome();
    int focus = sandbox::InitialFocus(dialog);
    std::optional<sim::Input> input;
    for (const KeyPress& key : c.keys) input = sandbox::DialogKey(dialog, focus, key);
    ASSERT_EQ(input.has_value(), c.input.has_value());
    if (input) {
      EXPECT_EQ(input->kind, c.input->kind);
      EXPECT_EQ(input->buttonId, c.input->buttonId);
    }
    EXPECT_EQ(focus, c.focus);
  }
}

TEST(MessageBoxKeys, AnswersAsWindowsDoes) {
  struct Case {
    const char* name;
    unsigned style;
    std::vector<KeyPress> keys;
    std::optional<int> answer;
  } cases[] = {
      {"Y", 0x1034, {{Key::Letter, 'y'}}, IDYES},
      {"N", 0x1034, {{Key::Letter, 'n'}}, IDNO},
      {"Enter takes the first button", 0x1034, {{Key::Enter, 0}}, IDYES},
      {"Tab, Enter", 0x1034, {{Key::Tab, 0}, {Key::Enter, 0}}, IDNO},
      {"Left wraps to the last", 0x1034, {{Key::Left, 0}, {Key::Space, 0}}, IDNO},
      {"Escape cannot dismiss Yes/No", 0x1034, {{Key::Escape, 0}}, std::nullopt},
      {"O is no mnemonic", 0x1034, {{Key::Letter, 'o'}}, std::nullopt},
      {"Escape in an OK box is OK", 0x0, {{Key::Escape, 0}}, IDOK},
      {"Y in an OK box does nothing", 0x0, {{Key::Letter, 'y'}}, std::nullopt},
      {"the second button as default", 0x101, {{Key::Enter, 0}}, IDCANCEL},
      {"Escape in OK/Cancel is Cancel", 0x1, {{Key::Escape, 0}}, IDCANCEL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int focus = sandbox::DefaultMessageBoxButton(c.style);
    std::optional<int> answer;
    for (const KeyPress& key : c.keys) answer = sandbox::MessageBoxKey(c.style, focus, key);
    EXPECT_EQ(answer, c.answer);
  }
}

}  // namespace
