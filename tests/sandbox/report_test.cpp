// The report's text helpers and its line diff, in-process: control characters escaped, long
// lines wrapped at a backslash or a blank, and the fewest lines removed and added; and the run's
// text files read from the calls of the built executable's own runtime (files by handle).
#include <gtest/gtest.h>

#include "diff.h"
#include "layout.h"
#include "report.h"
#include "run_calls.h"
#include "win32.h"

namespace {

TEST(EscapeControls, ShowsControlCharactersAndKeepsText) {
  struct Case {
    std::string text, shown;
  } cases[] = {
      {"C:\\WINDOWS\\KB47RK.DRV", "C:\\WINDOWS\\KB47RK.DRV"},
      {"A\x1b]2;owned\x07Z", "A\\x1b]2;owned\\x07Z"},  // a window title rewrite
      {std::string("nul\0cr\rlf\ntab\tdel\x7f", 18), "nul\\x00cr\\x0dlf\\x0atab\\x09del\\x7f"},
      {"c1 \x9b"
       "2J",
       "c1 \\x9b2J"},  // a raw C1 CSI byte
      {"utf-8 c1 \xc2\x9b"
       "2J",
       "utf-8 c1 \\xc2\\x9b2J"},
      {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},  // UTF-8 text stays whole
      {"ansi caf\xe9", "ansi caf\xe9"},
  };
  for (const Case& c : cases) EXPECT_EQ(sandbox::EscapeControls(c.text), c.shown) << c.shown;
}

// The machine's bytes, as the text and the JSON report both show them.
TEST(MachineText, DecodesWindows1252AndEscapesControls) {
  struct Case {
    std::string bytes, shown;
  } cases[] = {
      {"C:\\WINDOWS\\KB47RK.DRV", "C:\\WINDOWS\\KB47RK.DRV"},
      {"caf\xe9 \xa0\xff", "caf\xc3\xa9 \xc2\xa0\xc3\xbf"},                     // Latin-1 range
      {"\x80\x85\x9b\x9f", "\xe2\x82\xac\xe2\x80\xa6\xe2\x80\xba\xc5\xb8"},  // the code page's own
      {"\x81\x8d\x8f\x90\x9d", "\\x81\\x8d\\x8f\\x90\\x9d"},               // undefined in it
      {std::string("A\x1b]2;x\x07\0\x7f", 9), "A\\x1b]2;x\\x07\\x00\\x7f"},
  };
  for (const Case& c : cases) EXPECT_EQ(sandbox::MachineText(c.bytes), c.shown) << c.shown;
}

TEST(WrapLine, BreaksAfterBackslashesOrBlanksNeverInsideAName) {
  struct Case {
    const char* line;
    int width, indent;
    std::vector<std::string> lines;
    bool paths = true;
  } cases[] = {
      {"  registry key     HKEY_LOCAL_MACHINE\\System\\Print",
       0,
       19,
       {"  registry key     HKEY_LOCAL_MACHINE\\System\\Print"}},
      {"  registry key     HKEY_LOCAL_MACHINE\\System\\Print",
       60,
       19,
       {"  registry key     HKEY_LOCAL_MACHINE\\System\\Print"}},
      {"  registry key     HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\Print",
       48,
       19,
       {"  registry key     HKEY_LOCAL_MACHINE\\System\\", "                   CurrentControlSet\\control\\",
        "                   Print"}},
      {"  reason with words that go on", 14, 4, {"  reason with", "    words that", "    go on"}, false},
      // A path breaks after a backslash rather than at a blank in a name; prose the other way.
      {"  key  HKLM\\Printers\\ZANTEROVA Karsenby RK514",
       36,
       7,
       {"  key  HKLM\\Printers\\", "       ZANTEROVA Karsenby RK514"}},
      {"  kept: it looks among C:\\WINDOWS\\INF\\oem*.inf",
       40,
       4,
       {"  kept: it looks among", "    C:\\WINDOWS\\INF\\oem*.inf"},
       false},
      // One name wider than the line is cut where it must be; the indent keeps half the line.
      {"  file             C:\\ABCDEFGHIJKLMNOPQRSTUVWXYZ",
       30,
       19,
       {"  file             C:\\", "               ABCDEFGHIJKLMNO", "               PQRSTUVWXYZ"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(sandbox::WrapLine(c.line, c.width, c.indent, c.paths), c.lines);
    for (const std::string& line : sandbox::WrapLine(c.line, c.width, c.indent, c.paths)) {
      if (c.width > 0) {
        EXPECT_LE(static_cast<int>(line.size()), c.width);
      }
    }
  }
}

TEST(DiffLines, FewestLinesRemovedAndAdded) {
  using Lines = std::vector<std::string_view>;
  using Indexes = std::vector<std::size_t>;
  struct Case {
    const char* name;
    Lines a, b;
    Indexes removed, added;
    std::size_t maxEdits = 1000;
  } cases[] = {
      {"same", {"a", "b"}, {"a", "b"}, {}, {}},
      {"a section gone from the middle", {"[x]", "k=1", "[y]", "k=2", "[z]"}, {"[x]", "k=1", "[z]"}, {2, 3}, {}},
      {"the first of two equal sections gone", {"[s]", "a", "[s]", "a", "[t]"}, {"[s]", "a", "[t]"}, {2, 3}, {}},
      {"a value changed", {"[d]", "p=1", "q=2"}, {"[d]", "p=9", "q=2"}, {1}, {1}},
      {"lines added at the end", {"[d]"}, {"[d]", "x=1", "y=2"}, {}, {1, 2}},
      {"from nothing", {}, {"[d]"}, {}, {0}},
      {"to nothing", {"[d]", "a"}, {}, {0, 1}, {}},
      {"too many edits: the middle whole", {"s", "a", "b", "e"}, {"s", "c", "d", "e"}, {1, 2}, {1, 2}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sandbox::LineEdits edits = sandbox::DiffLines(c.a, c.b, c.maxEdits);
    EXPECT_EQ(edits.removed, c.removed);
    EXPECT_EQ(edits.added, c.added);
  }
}

// What a given KB47UNIN.EXE's runtime does for fopen "r" and "a+": CreateFileA, then WriteFile
// of its buffered CR LF lines at the close; the reasons read the same facts from it as from fopen.
TEST(RunCalls, ReadTheProgramsOwnRuntimeFiles) {
  sim::Machine machine;
  machine.files.WriteFile("C:\\WINDOWS\\INF\\oem1.inf", "[Version]\r\n");
  const sim::Machine names = machine;
  {
    sim::Activation active(machine);
    auto open = [](const char* path, DWORD access, DWORD disposition) {
      return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
    };
    HANDLE inf = open("C:\\WINDOWS\\INF\\OEM1.INF", GENERIC_READ, OPEN_EXISTING);
    CloseHandle(inf);
    open("C:\\WINDOWS\\INF\\oem2.inf", GENERIC_READ, OPEN_EXISTING);  // not there
    HANDLE wininit = open("C:\\WINDOWS\\wininit.ini", GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    DWORD written = 0;
    WriteFile(wininit, "[rename]\r\nNUL=C:\\WIN", 20, &written, nullptr);  // a line cut by the buffer
    WriteFile(wininit, "DOWS\\SYSTEM\\KB47RES.DLL\r\n", 25, &written, nullptr);
    CloseHandle(wininit);
  }
  const sandbox::RunCalls calls(machine, names);
  EXPECT_EQ(calls.OpenedForReading("C:\\WINDOWS\\INF\\oem1.inf"), true);
  EXPECT_EQ(calls.OpenedForReading("C:\\WINDOWS\\INF\\oem2.inf"), false);
  ASSERT_EQ(calls.Appends().size(), 1u);
  const sandbox::RunCalls::Append& append = calls.Appends()[0];
  EXPECT_EQ(append.path, "C:\\WINDOWS\\wininit.ini");
  EXPECT_TRUE(append.opened);
  EXPECT_FALSE(append.failed);
  EXPECT_EQ(append.lines, (std::vector<std::string>{"[rename]", "NUL=C:\\WINDOWS\\SYSTEM\\KB47RES.DLL"}));
}

}  // namespace
