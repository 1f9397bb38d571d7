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
    machine.files.Delete(path);
    if (c.before) machine.files.WriteFile(path, *c.before);
    auto grow = [&](const std::string& bytes) { EXPECT_EQ(machine.files.Append(path, bytes), 0); };
    for (const std::string& problem : text_mode::RunTextModeCase(c, path, grow)) ADD_FAILURE() << problem;
    const std::optional<std::string> expected = c.after ? c.after : c.before;
    EXPECT_EQ(machine.files.ReadFile(path), expected);
  }
}

}  // namespace
