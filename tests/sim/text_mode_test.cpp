// The simulated machine's C runtime text files against the text-mode table that the Windows
// program's own runtime passes under Wine (tests/support/text_mode_cases.h).
#include <gtest/gtest.h>

#include "platform.h"
#include "sim/machine.h"
#include "text_mode_cases.h"

namespace {

TEST(TextMode, TheSimulatedRuntimePassesTheSharedTable) {
  sim::Machine machine;
  sim::Activation active{machine};
  const char path[] = "C:\\WINDOWS\\wininit.ini";
  for (const text_mode::Case& c : text_mode::Cases()) {
    SCOPED_TRACE(c.name);
    machine.faults().Clear();
    if (machine.files.IsDirectory(path)) machine.files.RemoveDirectory(path);
    if (machine.files.IsFile(path)) machine.files.SetAttributes(path, {});
    machine.files.Delete(path);
    if (c.before) {
      machine.files.WriteFile(path, *c.before,
                              {.readOnly = c.held == text_mode::Held::ReadOnly, .inUse = c.held == text_mode::Held::InUse});
    }
    if (c.held == text_mode::Held::Folder) machine.files.MakeDirectory(path);
    auto grow = [&](const std::string& bytes) { EXPECT_EQ(machine.files.Append(path, bytes), 0); };
    // Reads fail as fgetc calls; writes as fputs and fprintf calls, and as the close's writing
    // out, which a file that another program now holds refuses.
    auto fail = [&](text_mode::Op op) {
      if (op == text_mode::Op::FailReads) {
        machine.faults().FailAll("fgetc");
      } else {
        machine.faults().FailAll("fputs");
        machine.faults().FailAll("fprintf");
        machine.files.SetAttributes(path, {.inUse = true});
      }
    };
    for (const std::string& problem : text_mode::RunTextModeCase(c, path, grow, fail)) ADD_FAILURE() << problem;
    const std::optional<std::string> expected = c.after ? c.after : c.before;
    EXPECT_EQ(machine.files.ReadFile(path), expected);
  }
}

}  // namespace
