// The wininit.ini stage: five NUL= entries in a [rename] section, appended for the next start.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "product_table.h"
#include "sim/machine.h"
#include "stages.h"

namespace {

const std::string kWininit = "C:\\WINDOWS\\wininit.ini";

std::string Entries(const std::string& system) { return product::DeferredEntries(system); }

TEST(DeferredDeletion, WhatIsAppendedToAnExistingOrNewFile) {
  const std::string entries = Entries("C:\\WINDOWS\\SYSTEM");
  const std::string header = "[rename]\r\n";
  struct Case {
    const char* what;
    std::optional<std::string> before;  // none: no wininit.ini
    std::string after;
    bool readRefused = false;  // the file opens for appending but not for reading
  } cases[] = {
      {"no file", std::nullopt, header + entries},
      {"[rename] last", "[rename]\r\nNUL=C:\\OLD.TMP\r\n", "[rename]\r\nNUL=C:\\OLD.TMP\r\n" + entries},
      {"[Rename] in other letters", "[Rename]\r\n", "[Rename]\r\n" + entries},
      {"[rename] set in blanks", "  [rename]  \r\n", "  [rename]  \r\n" + entries},
      {"[rename] behind a tab", "\t[rename]\t\r\n", "\t[rename]\t\r\n" + entries},
      {"another section behind a tab last", "[rename]\r\nA=B\r\n\t[boot]\r\nx=1\r\n",
       "[rename]\r\nA=B\r\n\t[boot]\r\nx=1\r\n" + header + entries},
      {"another section behind blanks and tabs last", "[rename]\r\n \t [boot]\r\n",
       "[rename]\r\n \t [boot]\r\n" + header + entries},
      {"another section last", "[rename]\r\nA=B\r\n[boot]\r\nx=1\r\n",
       "[rename]\r\nA=B\r\n[boot]\r\nx=1\r\n" + header + entries},
      {"no section at all", "; a comment\r\n", "; a comment\r\n" + header + entries},
      {"an empty file", "", header + entries},
      {"a final Ctrl-Z", "[rename]\r\nA=B\r\n\x1A", "[rename]\r\nA=B\r\n" + entries},
      {"no final line end", "[rename]\r\nA=B", "[rename]\r\nA=B\r\n" + entries},
      {"no final line end before a Ctrl-Z", "[boot]\r\nx=1\x1A", "[boot]\r\nx=1\r\n" + header + entries},
      {"a header without its ]", "[rename]\r\n[boot\r\n", "[rename]\r\n[boot\r\n" + entries},
      {"a header line that names rename only up to its first ]", "[rename]x]\r\n", "[rename]x]\r\n" + header + entries},
      {"a file that cannot be read gets a line end and a header", "[rename]\r\nA=B\r\n",
       "[rename]\r\nA=B\r\n\r\n" + header + entries, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Machine machine;
    if (c.before) machine.files.WriteFile(kWininit, *c.before);
    if (c.readRefused) machine.faults().FailNth("fopen", 1);
    sim::Activation active(machine);
    EXPECT_EQ(ScheduleDeferredDeletion("C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS"), 0);
    EXPECT_EQ(machine.files.ReadFile(kWininit), c.after);
  }
}

// A 0x1A ends a text-mode look at the file, while "a+" writes after its last byte (one final
// 0x1A aside, which it removes). Where the look ended before the file's end, the program cannot
// know how the file ends: its entries start on a line of their own, and get a [rename] header
// unless the last header of the part seen is [rename], as in a file seen whole.
TEST(DeferredDeletion, A0x1ABeforeTheEndGetsALineEndFirst) {
  const std::string entries = Entries("C:\\WINDOWS\\SYSTEM");
  const std::string own = "\r\n[rename]\r\n" + entries;
  const std::string list = "[rename]\r\nNUL=C:\\OLD.DLL\r\n";
  const std::string boot = "[boot]\r\nx=1\r\n";
  const std::string text = list + boot;
  const std::string padding(128 - text.size(), '\x1A');  // an editor's 128-byte records
  const std::string listPadding(128 - list.size(), '\x1A');
  struct Case {
    const char* what;
    std::string before, after;
  } cases[] = {
      {"one final 0x1A: the normal end", list + "\x1A", list + entries},
      {"two final 0x1A", list + "\x1A\x1A", list + "\x1A\r\n" + entries},
      {"0x1A padding up to 128 bytes after [rename]", list + listPadding, list + listPadding.substr(1) + "\r\n" + entries},
      {"0x1A padding up to 128 bytes after [boot]", text + padding, text + padding.substr(1) + own},
      {"a 0x1A inside a line", "[rename]\r\nNUL=C:\\OLD\x1A.DLL\r\n", "[rename]\r\nNUL=C:\\OLD\x1A.DLL\r\n\r\n" + entries},
      {"a 0x1A as the first byte", "\x1A" + list, "\x1A" + list + own},
      {"[rename], 0x1A, [boot]", list + "\x1A" + boot, list + "\x1A" + boot + "\r\n" + entries},
      {"[boot], 0x1A, [rename]", boot + "\x1A" + list, boot + "\x1A" + list + own},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Machine machine;
    machine.files.WriteFile(kWininit, c.before);
    sim::Activation active(machine);
    EXPECT_EQ(ScheduleDeferredDeletion("C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS"), 0);
    EXPECT_EQ(machine.files.ReadFile(kWininit), c.after);
  }
}

TEST(DeferredDeletion, ANewFileIsFiveTimesTheSystemDirectoryAndOneHundredAndFive) {
  for (const std::string& system : std::vector<std::string>{
           "C:\\WINDOWS\\SYSTEM", "C:\\W\\S", "D:\\" + std::string(200, 'S'), "C:\\" + std::string(239, 'S')}) {
    SCOPED_TRACE(system);
    sim::Machine machine;
    sim::Activation active(machine);
    ASSERT_EQ(ScheduleDeferredDeletion(system.c_str(), "C:\\WINDOWS"), 0);
    const std::string text = machine.files.ReadFile(kWininit).value();
    EXPECT_EQ(text.size(), 5 * system.size() + 105);
    EXPECT_EQ(text, "[rename]\r\n" + Entries(system));
  }
}

TEST(DeferredDeletion, TwoRunsWriteTheHeaderOnce) {
  sim::Machine machine;
  sim::Activation active(machine);
  ScheduleDeferredDeletion("C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS");
  ScheduleDeferredDeletion("C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS");
  const std::string entries = Entries("C:\\WINDOWS\\SYSTEM");
  EXPECT_EQ(machine.files.ReadFile(kWininit), "[rename]\r\n" + entries + entries);
}

TEST(DeferredDeletion, NothingIsWrittenWhenItCannotBeWrittenWhole) {
  const std::string fits = "C:\\" + std::string(239, 'S');  // 242: "NUL=" + it + "\\KB47TN16.DLL" is 259
  struct Case {
    const char* what;
    std::string system, windows;
    bool folderNamedWininit, readOnly;
    std::string existing;  // where a wininit.ini must not appear
  } cases[] = {
      {"wininit.ini is a folder", "C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS", true, false, ""},
      {"a read-only wininit.ini", "C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS", false, true, ""},
      {"no system directory", "", "C:\\WINDOWS", false, false, kWininit},
      {"a system directory too long for an entry", fits + "S", "C:\\WINDOWS", false, false, kWininit},
      {"no Windows directory", "C:\\WINDOWS\\SYSTEM", "", false, false, "C:\\wininit.ini"},
      {"a Windows directory too long for the path", "C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS\\" + std::string(240, 'W'),
       false, false, "C:\\WINDOWS\\" + std::string(240, 'W') + "\\wininit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Machine machine;
    if (!c.windows.empty()) machine.files.MakeDirectory(c.windows);
    if (c.folderNamedWininit) machine.files.MakeDirectory(kWininit);
    if (c.readOnly) machine.files.WriteFile(kWininit, "[rename]\r\n", {.readOnly = true});
    sim::Activation active(machine);
    const sim::Machine before(machine);

    EXPECT_EQ(ScheduleDeferredDeletion(c.system.c_str(), c.windows.c_str()), -1);

    EXPECT_TRUE(machine.SameState(before));
    if (!c.existing.empty()) {
      EXPECT_FALSE(machine.files.Exists(c.existing)) << c.existing;
    }
  }
  // One character less and the entries fit.
  sim::Machine machine;
  sim::Activation active(machine);
  EXPECT_EQ(ScheduleDeferredDeletion(fits.c_str(), "C:\\WINDOWS"), 0);
  EXPECT_EQ(machine.files.ReadFile(kWininit), "[rename]\r\n" + Entries(fits));
}

}  // namespace
