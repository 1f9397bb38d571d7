// The resource-script reader: the templates it reads must be the ones windres compiles into the
// program file (styles, IDs, texts, font), and anything outside the subset it reads must fail
// with the file and the line.
#include <gtest/gtest.h>
#include <strings.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "res_file.h"
#include "sim/errors.h"
#include "sim/machine.h"
#include "sim/ui.h"
#include "win32.h"

namespace {

namespace fs = std::filesystem;
using sim::ControlTemplate;
using sim::DialogTemplate;

constexpr const char* kWindres = "i686-w64-mingw32-windres";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool HaveWindres() { return std::system((std::string("command -v ") + kWindres + " >/dev/null 2>&1").c_str()) == 0; }

// An icon file as small as windres takes: one 1x1 entry.
std::string TinyIcon() {
  const unsigned char bytes[] = {0, 0, 1, 0, 1, 0,                                 // ICONDIR: one icon
                                 1, 1, 0, 0, 1, 0, 1, 0, 8, 0, 0, 0, 22, 0, 0, 0,  // its entry
                                 0, 0, 0, 0, 0, 0, 0, 0};
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

// Compiles a script with windres and returns its dialogs, or fails the test with windres' output.
// Files the script refers to (its icon) are looked up in includeDir, or written beside it.
std::map<std::string, DialogTemplate> CompileWithWindres(const std::string& rc, const std::string& header,
                                                         const std::string& headerName,
                                                         const std::map<std::string, std::string>& files = {},
                                                         const fs::path& includeDir = {}) {
  fs::path dir = fs::temp_directory_path() / ("rcscript_test_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "script.rc", std::ios::binary) << rc;
  std::ofstream(dir / headerName, std::ios::binary) << header;
  for (const auto& [name, content] : files) std::ofstream(dir / name, std::ios::binary) << content;
  std::string command = std::string(kWindres) + " -I" + dir.string() +
                        (includeDir.empty() ? "" : " -I" + includeDir.string()) + " " + (dir / "script.rc").string() +
                        " -O res -o " + (dir / "script.res").string() + " > " + (dir / "log").string() + " 2>&1";
  int status = std::system(command.c_str());
  std::string log = ReadFile(dir / "log");
  std::string res = ReadFile(dir / "script.res");
  fs::remove_all(dir);
  EXPECT_EQ(status, 0) << log;
  return sim::DialogsOf(res);
}

// Every statement and style form the reader accepts, each where rc's implicit styles differ.
constexpr const char* kProbeHeader =
    "// probe IDs\n"
    "#define IDC_FIRST 0x3E8L\n"
    "#define IDC_NEXT (IDC_FIRST + 1)\n"
    "#define IDD_NUMBERED 200\n"
    "#ifndef IDC_STATIC\n"
    "#define IDC_STATIC (-1)\n"
    "#endif\n";
constexpr const char* kProbeScript = R"rc(#include <winresrc.h>
#include "probe.h"
/* a block comment
   over two lines */
LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US

IDI_X ICON "x.ico"

lowercase DIALOG DISCARDABLE 1, 2, 30, 40
BEGIN
    DEFPUSHBUTTON "OK", IDOK, 1, 2, 3, 4
    PUSHBUTTON "Off", IDC_FIRST, 5, 6, 7, 8, WS_DISABLED
    PUSHBUTTON "No tab", IDC_NEXT, 5, 6, 7, 8, NOT WS_TABSTOP
    DEFPUSHBUTTON "Grouped", 1003, -1, -2, 3, 4, WS_GROUP, WS_EX_STATICEDGE
    LTEXT "Plain", -1, 1, 2, 3, 4
    LTEXT "Styled", IDC_STATIC, 1, 2, 3, 4, SS_NOPREFIX
    LTEXT "Ungrouped", 1004, 1, 2, 3, 4, NOT WS_GROUP | SS_CENTER
    CONTROL "Check", 1005, "Button", BS_AUTOCHECKBOX | WS_TABSTOP, 1, 2, 3, 4
    CONTROL "q""uote\n\ttab\\", 1006, "static", 0x1, 1, 2, 3, 4
    CONTROL "Hidden", 1007, "msctls_progress32", NOT WS_VISIBLE, 1, 2, 3, 4, 0x00002000
END

CAPTIONFIRST DIALOG 0, 0, 10, 10
CAPTION "Caption before style"
STYLE WS_POPUP
{
}

STYLEONLY DIALOG 0, 0, 10, 10
STYLE WS_CHILD | (DS_CENTER)
EXSTYLE WS_EX_TOPMOST
BEGIN
END

FONTONLY DIALOG 0, 0, 10, 10
FONT 9, "Tahoma"
BEGIN
END

EXTENDED DIALOGEX 0, 0, 186, 92
STYLE DS_MODALFRAME | WS_POPUP
FONT 8, "MS Shell Dlg"
BEGIN
    LTEXT "Bordered", 5, 1, 2, 3, 4, WS_BORDER, WS_EX_CLIENTEDGE
    PUSHBUTTON "Button", 6, 1, 2, 3, 4
    CONTROL "", -1, "static", 0, 1, 2, 3, 4
END

IDD_NUMBERED DIALOGEX 0, 0, 10, 10
CAPTION "Numbered"
FONT 8, "MS Sans Serif", 700, 1, 0
BEGIN
END
)rc";

TEST(ResourceScript, ReadsTheTemplatesWindresCompiles) {
  if (!HaveWindres()) GTEST_SKIP() << kWindres << " is not installed";
  EXPECT_TRUE(
      res_file::SameDialogs(sim::ParseResourceScript(kProbeScript, kProbeHeader),
                            CompileWithWindres(kProbeScript, kProbeHeader, "probe.h", {{"x.ico", TinyIcon()}})));
}

TEST(ResourceScript, ReadsTheProgramsOwnScriptAsWindresDoes) {
  const fs::path app = RK514_APP_DIR;
  ASSERT_TRUE(fs::exists(app / "uninstall.rc")) << app << " holds no uninstall.rc";
  if (!HaveWindres()) GTEST_SKIP() << kWindres << " is not installed";
  std::string rc = ReadFile(app / "uninstall.rc");
  std::string header = ReadFile(app / "resource.h");
  std::map<std::string, DialogTemplate> ours = sim::ParseResourceScript(rc, header);
  EXPECT_EQ(ours.count("WELCOME"), 1u);
  EXPECT_EQ(ours.count("UNINSTALL"), 1u);
  EXPECT_TRUE(res_file::SameDialogs(ours, CompileWithWindres(rc, header, "resource.h", {}, app)));
}

// The compiled templates make a module of their own, as an executable's resources do: shown by
// name, with the class names as windres stored them (MSCTLS_PROGRESS32, found without case).
TEST(ResourceScript, CompiledTemplatesLoadAsAModule) {
  if (!HaveWindres()) GTEST_SKIP() << kWindres << " is not installed";
  std::map<std::string, DialogTemplate> compiled =
      CompileWithWindres(kProbeScript, kProbeHeader, "probe.h", {{"x.ico", TinyIcon()}});
  ASSERT_EQ(compiled.count("LOWERCASE"), 1u);
  ASSERT_EQ(compiled["LOWERCASE"].controls.back().className, "MSCTLS_PROGRESS32");
  sim::Machine machine;
  sim::Activation active(machine);
  const HINSTANCE module = machine.ui().LoadModule(compiled);
  InitCommonControls();
  struct Shown {
    LPCSTR name;
    int controls;
  };
  for (const Shown& shown : {Shown{"lowercase", 10}, Shown{"#200", 0}, Shown{"Extended", 3}}) {
    SCOPED_TRACE(shown.name);
    const INT_PTR result = DialogBoxParamA(
        module, shown.name, nullptr,
        [](HWND dialog, UINT message, WPARAM, LPARAM) -> INT_PTR {
          if (message != WM_INITDIALOG) return FALSE;
          SendMessageA(GetDlgItem(dialog, 1007), PBM_SETPOS, 30, 0);
          EndDialog(dialog, 1);
          return TRUE;
        },
        0);
    EXPECT_EQ(result, 1);
    ASSERT_FALSE(machine.ui().closedDialogs.empty());
    EXPECT_EQ(machine.ui().closedDialogs.back().controls.size(), static_cast<std::size_t>(shown.controls));
  }
  // The progress bar is one, whatever the case of its class name.
  EXPECT_EQ(machine.ui().closedDialogs[0].Control(1007)->pos, 30);
}

// What the reader gives beyond the compiled bytes: names, language, and the values windres gave
// the probe (so that the styles are pinned where windres is not installed).
TEST(ResourceScript, NamesLanguageAndImplicitStyles) {
  std::map<std::string, DialogTemplate> dialogs = sim::ParseResourceScript(kProbeScript, kProbeHeader);
  // Names are kept in capitals; a name the header defines is that number.
  std::vector<std::string> names;
  for (const auto& [name, dialog] : dialogs) names.push_back(name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"#200", "CAPTIONFIRST", "EXTENDED", "FONTONLY", "LOWERCASE", "STYLEONLY"}));
  EXPECT_EQ(dialogs["LOWERCASE"].language, "LANG_ENGLISH, SUBLANG_ENGLISH_US");

  struct Case {
    const char* dialog;
    std::uint32_t style;
  };
  const Case dialogStyles[] = {
      {"LOWERCASE", 0x80880000},     // no STYLE: WS_POPUP | WS_BORDER | WS_SYSMENU
      {"CAPTIONFIRST", 0x80C00000},  // CAPTION adds WS_CAPTION even before STYLE
      {"STYLEONLY", 0x40000800},     // STYLE replaces the default
      {"FONTONLY", 0x80880040},      // FONT adds DS_SETFONT
      {"EXTENDED", 0x800000C0},
  };
  for (const Case& c : dialogStyles) {
    SCOPED_TRACE(c.dialog);
    EXPECT_EQ(dialogs[c.dialog].style, c.style);
  }
  struct ControlCase {
    int index;
    int id;
    const char* className;
    std::uint32_t style, exStyle;
    const char* text;
  };
  const ControlCase controls[] = {
      {0, 1, "button", 0x50010001, 0, "OK"},         // DEFPUSHBUTTON
      {1, 1000, "button", 0x58010000, 0, "Off"},     // PUSHBUTTON | WS_DISABLED
      {2, 1001, "button", 0x50000000, 0, "No tab"},  // NOT takes WS_TABSTOP away
      {3, 1003, "button", 0x50030001, 0x00020000, "Grouped"},
      {4, -1, "static", 0x50020000, 0, "Plain"},   // LTEXT: WS_GROUP | SS_LEFT
      {5, -1, "static", 0x50000080, 0, "Styled"},  // a style given drops WS_GROUP
      {6, 1004, "static", 0x50000001, 0, "Ungrouped"},
      {7, 1005, "button", 0x50010003, 0, "Check"},  // CONTROL: WS_CHILD | WS_VISIBLE | given
      {8, 1006, "static", 0x50000001, 0, "q\"uote\n\ttab\\"},
      {9, 1007, "msctls_progress32", 0x40000000, 0x00002000, "Hidden"},
  };
  const DialogTemplate& lower = dialogs["LOWERCASE"];
  ASSERT_EQ(lower.controls.size(), 10u);
  for (const ControlCase& c : controls) {
    SCOPED_TRACE(c.text);
    const ControlTemplate& got = lower.controls[static_cast<std::size_t>(c.index)];
    EXPECT_EQ(got.id, c.id);
    EXPECT_EQ(got.className, c.className);
    EXPECT_EQ(got.style, c.style);
    EXPECT_EQ(got.exStyle, c.exStyle);
    EXPECT_EQ(got.text, c.text);
  }
  EXPECT_EQ(lower.controls[3].x, -1);
  EXPECT_EQ(dialogs["EXTENDED"].fontCharset, 1);  // DEFAULT_CHARSET when the script gives none
  EXPECT_EQ(dialogs["#200"].fontWeight, 700);
  EXPECT_EQ(dialogs["#200"].fontItalic, 1);
  EXPECT_EQ(dialogs["#200"].fontCharset, 0);
}

TEST(ResourceScript, RejectsWhatItDoesNotReadWithFileAndLine) {
  // Parses rc, with header as the text of the header it includes, and expects an error that starts
  // with message.
  auto expectRejected = [](const char* rc, const char* header, const char* message) {
    try {
      sim::ParseResourceScript(rc, header);
      ADD_FAILURE() << "no error";
    } catch (const sim::ImageError& error) {
      EXPECT_EQ(std::string(error.what()).rfind(message, 0), 0u) << error.what();
    }
  };
  struct Case {
    const char* what;
    const char* rc;
    const char* message;
  };
  const Case cases[] = {
      {"control kind", "D DIALOG 0,0,1,1\nBEGIN\n  EDITTEXT 5, 1,2,3,4\nEND\n",
       "uninstall.rc:3: control EDITTEXT is not supported"},
      {"unknown ID", "D DIALOG 0,0,1,1\nBEGIN\n\n  LTEXT \"a\", IDC_NOPE, 1,2,3,4\nEND\n",
       "uninstall.rc:4: unknown name IDC_NOPE"},
      {"missing comma", "D DIALOG 0,0,1,1\nBEGIN\n  LTEXT \"a\" 5, 1,2,3,4\nEND\n", "uninstall.rc:3: expected ','"},
      {"open string", "D DIALOG 0,0,1,1\nCAPTION \"abc\nBEGIN\nEND\n", "uninstall.rc:2: string not closed"},
      {"open comment", "// fine\n/* never closed\nD DIALOG 0,0,1,1\n", "uninstall.rc:2: comment not closed"},
      {"string table", "STRINGTABLE\nBEGIN\nEND\n", "uninstall.rc:1: STRINGTABLE is not supported"},
      {"resource type", "\n1 VERSIONINFO\n", "uninstall.rc:2: resource type VERSIONINFO is not supported"},
      {"conditional", "#ifdef X\n#endif\n", "uninstall.rc:1: #ifdef is not supported"},
      {"font extras", "D DIALOG 0,0,1,1\nFONT 8, \"MS Sans Serif\", 0, 0, 1\nBEGIN\nEND\n",
       "uninstall.rc:2: a font weight, italic and character set need DIALOGEX"},
      {"menu", "D DIALOG 0,0,1,1\nMENU IDM_X\nBEGIN\nEND\n", "uninstall.rc:2: dialog statement MENU is not supported"},
      {"help ID", "D DIALOGEX 0,0,1,1, 7\nBEGIN\nEND\n", "uninstall.rc:1: a help ID on a dialog is not supported"},
      {"twice", "D DIALOG 0,0,1,1\nBEGIN\nEND\n\nd DIALOG 0,0,1,1\nBEGIN\nEND\n",
       "uninstall.rc:5: dialog D is defined twice"},
      {"no END", "D DIALOG 0,0,1,1\nBEGIN\n  LTEXT \"a\", 5, 1,2,3,4\n", "uninstall.rc:4: dialog D has no END"},
      {"too many values", "D DIALOG 0,0,1,1\nBEGIN\n  LTEXT \"a\", 5, 1,2,3,4, 0, 0, 0\nEND\n",
       "uninstall.rc:3: too many values for LTEXT"},
      {"bad number", "D DIALOG 0,0,1,12ab\nBEGIN\nEND\n", "uninstall.rc:1: bad number 12ab"},
      {"bad escape", "D DIALOG 0,0,1,1\nCAPTION \"a\\qb\"\nBEGIN\nEND\n", "uninstall.rc:2: unsupported escape \\q"},
      {"stray character", "D DIALOG 0,0,1,1\nBEGIN\n  LTEXT \"a\", 5; 1,2,3,4\nEND\n",
       "uninstall.rc:3: unexpected character ';'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    expectRejected(c.rc, "", c.message);
  }
  struct HeaderCase {
    const char* what;
    const char* rc;
    const char* header;
    const char* message;
  };
  const HeaderCase headerCases[] = {
      {"macro with arguments", "#include \"resource.h\"\n", "#define ID(x) (x)\n",
       "resource.h:1: macros with arguments are not supported"},
      {"header statement", "#include \"ids.h\"\n", "#define A 1\nint a\n",
       "ids.h:2: only #define lines are read here, found int"},
      {"bad define value", "#include \"resource.h\"\nD DIALOG 0,0,1,1\nBEGIN\n  LTEXT \"a\", A, 1,2,3,4\nEND\n",
       "\n#define A 1 2\n", "resource.h:2: unexpected 2 in #define A"},
      {"define loop", "D DIALOG 0,0,1,1\nBEGIN\n  LTEXT \"a\", A, 1,2,3,4\nEND\n", "#define A (B)\n#define B A\n",
       "resource.h:1: #define B refers to itself"},
      {"empty define", "D DIALOG 0,0,1,1\nBEGIN\n  LTEXT \"a\", GUARD, 1,2,3,4\nEND\n", "#define GUARD\n",
       "uninstall.rc:3: GUARD is defined without a value"},
  };
  for (const HeaderCase& c : headerCases) {
    SCOPED_TRACE(c.what);
    expectRejected(c.rc, c.header, c.message);
  }
}

TEST(ResourceScript, ErrorsNameTheFileGiven) {
  try {
    sim::ParseResourceScript("D DIALOG 0,0,1,1\nBEGIN\n  RTEXT \"a\", 5, 1,2,3,4\nEND\n", "", "other.rc");
    ADD_FAILURE() << "no error";
  } catch (const sim::ImageError& error) {
    EXPECT_STREQ(error.what(), "other.rc:3: control RTEXT is not supported");
  }
}

}  // namespace
