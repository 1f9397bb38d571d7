// Machines that the random batch and the fuzzer found, shrunk to what matters.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "expectations.h"
#include "installed_machine.h"
#include "invariant.h"
#include "removal.h"

namespace {

const std::string kWininit = "C:\\WINDOWS\\wininit.ini";

std::string Entries() { return product::DeferredEntries(); }

sim::Machine RemovedWith(const sim::Machine& before, const std::function<void(sim::Faults&)>& arm = {}) {
  sim::Machine after(before);
  if (arm) arm(after.faults());
  sim::Activation active(after);
  RemoveProduct();
  return after;
}

// Found by the fuzzer: a read of wininit.ini that fails part way (here its fifth byte) leaves the
// program not knowing how the file ends. It then starts its lines with a line end and a header:
// at worst a blank line and a second [rename], never an entry run on from the file's last line.
// A read that fails on the last byte is no different: one byte short is the whole file only when
// that byte is a final 0x1A, which ferror tells from a failure.
TEST(SafetyRegression, RenameListThatCannotBeReadToItsEnd) {
  const std::string list = "[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n";
  const int listReads = static_cast<int>(list.size()) - 2;  // each CR LF is one read
  const struct {
    const char* what;
    std::string text;
    int failingRead;         // the fgetc call that fails
    std::size_t violations;  // without the allowance: the blank line, where the file ended with a line end
  } cases[] = {
      {"the fifth byte", list, 5, 1},
      {"the last byte, after a line end", list + "B", listReads + 1, 0},
      {"the last byte, the ] of a [boot] header", list + "[boot]", listReads + 6, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Machine before;
    before.files.WriteFile(kWininit, c.text);
    const sim::Machine after =
        RemovedWith(before, [&c](sim::Faults& faults) { faults.FailNth("fgetc", c.failingRead); });

    EXPECT_EQ(after.files.ReadFile(kWininit), c.text + "\r\n[rename]\r\n" + Entries());
    safety::Allowance unread;
    unread.renameListUnread = true;
    EXPECT_EQ(safety::InvariantViolations(before, after, unread), std::vector<std::string>{});
    EXPECT_EQ(safety::InvariantViolations(before, after).size(), c.violations);
  }
}

// Found by the fuzzer: a [rename] header behind carriage returns. The profile functions take it
// for a header; the program, which counts only blanks and tabs before one, does not, and writes
// a header of its own: a second [rename], every entry still under a header of that name.
TEST(SafetyRegression, RenameHeaderBehindCarriageReturns) {
  sim::Machine before;
  before.buildNumber = sim::kBuildWin95;
  before.files.WriteFile(kWininit, "\r\r[rename]\r\n\r\n");
  const sim::Machine after = RemovedWith(before);

  EXPECT_EQ(after.files.ReadFile(kWininit), "\r\r[rename]\r\n\r\n[rename]\r\n" + Entries());
  EXPECT_EQ(safety::InvariantViolations(before, after), std::vector<std::string>{});
  EXPECT_EQ(safety::MissedRemovals(before, after), std::vector<std::string>{});
}

// Found by the random batch: a wininit.ini with a 0x1A before its end. A text-mode read ends at
// that byte, while the program's lines go after the whole file; the program sees that its look
// ended before the file's size, and starts its lines on a line of their own, with a [rename]
// header unless the part before the 0x1A ends in a [rename] section.
TEST(SafetyRegression, WininitWithCtrlZInside) {
  struct Case {
    const char* what;
    std::string text;
    bool header;
  } cases[] = {
      {"the text before the 0x1A ends inside a line",
       "[rename]\r\nNUL=a\x1A"
       "b\r\n",
       false},
      {"[rename] before the 0x1A, [boot] after it", "[rename]\r\nx=1\r\n\x1A[boot]\r\n", false},
      {"[boot] before the 0x1A, [rename] after it", "[boot]\r\nx=1\r\n\x1A[rename]\r\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Machine before;
    before.files.WriteFile(kWininit, c.text);
    ASSERT_TRUE(safety::WininitHasInnerCtrlZ(before));
    const sim::Machine after = RemovedWith(before);

    EXPECT_EQ(after.files.ReadFile(kWininit), c.text + "\r\n" + (c.header ? "[rename]\r\n" : "") + Entries());
    EXPECT_EQ(safety::InvariantViolations(before, after), std::vector<std::string>{});
    EXPECT_EQ(safety::MissedRemovals(before, after), std::vector<std::string>{});
  }
}

}  // namespace
