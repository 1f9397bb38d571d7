// The text-mode table (tests/support/text_mode_cases.h) against the program's own C runtime, the
// one KB47UNIN.EXE carries (platform/win/crt.cpp), inside the emulator on the simulated machine:
// text_mode_exe.cpp, built by the win32 tree, takes each case's steps from a script and writes
// down what each gave; here the script is written, the results read and each compared with the
// table, and each file's bytes afterwards.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <iostream>

#include "emu/runner.h"
#include "platform.h"
#include "text_mode_cases.h"

namespace {

constexpr char kFolder[] = "C:\\TEXTMODE";

void Command(std::string& script, char op, const std::string& payload) {
  const std::uint32_t length = static_cast<std::uint32_t>(payload.size());
  script += op;
  script.append(reinterpret_cast<const char*>(&length), 4);
  script += payload;
}

std::string Le32(std::int32_t value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

// The results, one record after another.
class Results {
 public:
  explicit Results(std::string bytes) : bytes_(std::move(bytes)) {}
  // The next record's values, or nullopt past the end.
  std::optional<std::vector<int>> Next() {
    if (at_ + 4 > bytes_.size()) return std::nullopt;
    std::uint32_t size;
    std::memcpy(&size, bytes_.data() + at_, 4);
    if (size % 4 != 0 || at_ + 4 + size > bytes_.size()) return std::nullopt;
    std::vector<int> values(size / 4);
    if (size != 0) std::memcpy(values.data(), bytes_.data() + at_ + 4, size);
    at_ += 4 + size;
    return values;
  }

 private:
  std::string bytes_;
  std::size_t at_ = 0;
};

std::string ResultText(const text_mode::Step& step, const std::vector<int>& values) {
  std::string text;
  switch (step.op) {
    case text_mode::Op::Read:
      for (int value : values) text += text_mode::ReadText(value);
      return text;
    case text_mode::Op::Puts: return !values.empty() && values[0] >= 0 ? "ok" : "EOF";
    case text_mode::Op::Grow: return "";
    case text_mode::Op::Error: return values.empty() ? "(none)" : values[0] != 0 ? "set" : "clear";
    default: return values.empty() ? "(none)" : std::to_string(values[0]);
  }
}

TEST(TextMode, TheProgramsOwnRuntimeInsideTheEmulator) {
  ASSERT_TRUE(std::filesystem::exists(RK514_TEXT_MODE_EXE))
      << RK514_TEXT_MODE_EXE << " is missing: build the win32 tree first, as the README's test command does";
  const emu::Program program = emu::Program::LoadFile(RK514_TEXT_MODE_EXE);

  const std::vector<text_mode::Case> cases = text_mode::Cases();
  sim::Machine machine;
  machine.files.MakeDirectory(kFolder);
  std::string script;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const text_mode::Case& c = cases[i];
    const std::string path = std::string(kFolder) + "\\CASE" + std::to_string(i) + ".INI";
    if (c.before)
      machine.files.WriteFile(path, *c.before,
                              {.readOnly = c.held == text_mode::Held::ReadOnly, .inUse = c.held == text_mode::Held::InUse});
    if (c.held == text_mode::Held::Folder) machine.files.MakeDirectory(path);
    Command(script, 'O', (c.append ? "a" : "r") + path);
    for (const text_mode::Step& step : c.steps) {
      switch (step.op) {
        case text_mode::Op::Read: Command(script, 'R', Le32(step.count)); break;
        case text_mode::Op::Tell: Command(script, 'T', ""); break;
        case text_mode::Op::Puts: Command(script, 'P', step.text); break;
        case text_mode::Op::Line: Command(script, 'L', step.text); break;
        case text_mode::Op::Grow: Command(script, 'G', path + '\0' + step.text); break;
        case text_mode::Op::Error: Command(script, 'E', ""); break;
        case text_mode::Op::FailReads: Command(script, 'F', "r"); break;
        case text_mode::Op::FailWrites: Command(script, 'F', "w"); break;
      }
    }
    Command(script, 'C', "");
  }
  machine.files.WriteFile(std::string(kFolder) + "\\SCRIPT.BIN", script);

  sim::ScriptedUser nobody({});
  emu::Stats stats;
  ASSERT_EQ(emu::Run(program, machine, nobody, {}, &stats), 0);
  const std::optional<std::string> results = machine.files.ReadFile(std::string(kFolder) + "\\RESULTS.BIN");
  ASSERT_TRUE(results.has_value());
  Results read(*results);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const text_mode::Case& c = cases[i];
    SCOPED_TRACE(c.name);
    const auto opened = read.Next();
    ASSERT_TRUE(opened.has_value()) << "the results end early";
    EXPECT_EQ(opened->at(0) == 1, c.opens) << (c.opens ? "fopen failed" : "fopen opened what it must not");
    if (opened->at(0) == 1) {
      for (std::size_t s = 0; s < c.steps.size(); ++s) {
        const text_mode::Op op = c.steps[s].op;
        if (op == text_mode::Op::FailReads || op == text_mode::Op::FailWrites) continue;  // no result of its own
        const auto values = read.Next();
        ASSERT_TRUE(values.has_value()) << "the results end early";
        const std::string got = ResultText(c.steps[s], *values);
        EXPECT_EQ(got, c.steps[s].result) << "step " << s + 1;
      }
      const auto closed = read.Next();
      ASSERT_TRUE(closed.has_value()) << "the results end early";
      EXPECT_EQ(closed->at(0) == 0, c.closes) << (c.closes ? "fclose failed" : "fclose succeeded where a write had failed");
    }
    const std::optional<std::string> expected = c.after ? c.after : c.before;
    EXPECT_EQ(machine.files.ReadFile(std::string(kFolder) + "\\CASE" + std::to_string(i) + ".INI"), expected);
  }
  std::cout << cases.size() << " cases, " << stats.instructions << " instructions, " << stats.importCalls
            << " import calls\n";
}

}  // namespace
