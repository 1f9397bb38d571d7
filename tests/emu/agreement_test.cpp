// The shipped KB47UNIN.EXE, emulated, against the host-compiled program on the same machines
// under the same answers: every case of the Wine suite, the flow tests' ways through the dialogs,
// the removal's machines, each shared call failing in turn, and a shard of random machines.
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <sstream>

#include "emu_run.h"
#include "flow_cases.h"
#include "installed_machine.h"
#include "machine_generator.h"
#include "scenario.h"
#include "sim_case.h"
#include "simulated_machine.h"

namespace {

using emu_test::Agree;
using emu_test::Steps;
using flow_cases::Answer;
using flow_cases::Click;
using flow_cases::Press;

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

// ---- tests/wine/cases.txt: NAME SCENARIO FLOW NEXT, each case's scenario and answers.
struct WineCase {
  std::string name, scenario, flow;
};
void PrintTo(const WineCase& c, std::ostream* os) { *os << c.name; }

std::vector<WineCase> ReadWineCases() {
  std::vector<WineCase> cases;
  std::ifstream in(std::string(RK514_WINE_DIR) + "/cases.txt");
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    WineCase c;
    fields >> c.name >> c.scenario >> c.flow;
    for (char& ch : c.name)
      if (ch == '-') ch = '_';
    cases.push_back(c);
  }
  return cases;
}

class WineCases : public ::testing::TestWithParam<WineCase> {};

TEST_P(WineCases, AgreeWithTheHostProgram) {
  machines::Scenario scenario;
  std::string error;
  ASSERT_TRUE(machines::LoadScenarioFile(std::string(RK514_WINE_DIR) + "/scenarios/" + GetParam().scenario, scenario,
                                         error))
      << error;
  EXPECT_TRUE(Agree(machines::MachineFor(scenario), wine::StepsOf(GetParam().flow)));
}
INSTANTIATE_TEST_SUITE_P(Emulated, WineCases, ::testing::ValuesIn(ReadWineCases()), CaseName<WineCase>);

TEST(WineCases, AreAllRead) { EXPECT_GE(ReadWineCases().size(), 14u); }

// ---- The flow tests' tables, on the flow tests' machine.
struct FlowRun {
  std::string name;
  Steps steps;
  void (*inject)(sim::Faults&) = nullptr;
};
void PrintTo(const FlowRun& c, std::ostream* os) { *os << c.name; }

std::vector<FlowRun> AllFlowRuns() {
  std::vector<FlowRun> runs;
  for (const flow_cases::PromptCase& c : flow_cases::PromptCases())
    runs.push_back({std::string("Prompt") + c.name, {Click("WELCOME", IDOK), Answer(c.answer)}});
  for (const flow_cases::CancelCase& c : flow_cases::CancelCases())
    runs.push_back({std::string("Welcome") + c.name, {c.step, Answer(IDOK)}});
  runs.push_back({"WelcomeEnter", {Press("WELCOME", sim::Input::Enter), Answer(IDNO)}});
  for (const flow_cases::EarlyCloseCase& c : flow_cases::EarlyCloseCases())
    runs.push_back({std::string("Early") + c.name,
                    {Click("WELCOME", IDOK), Press("UNINSTALL", c.kind, c.afterTimerMessages), Answer(IDOK)}});
  for (const flow_cases::FaultCase& c : flow_cases::FaultCases())
    runs.push_back({std::string("Refused") + c.name, c.steps, c.inject});
  return runs;
}

class FlowRuns : public ::testing::TestWithParam<FlowRun> {};

TEST_P(FlowRuns, AgreeWithTheHostProgram) {
  const FlowRun& run = GetParam();
  EXPECT_TRUE(Agree(flow_cases::FlowMachine(), run.steps, run.inject ? emu_test::Arm(run.inject) : emu_test::Arm()));
}
INSTANTIATE_TEST_SUITE_P(Emulated, FlowRuns, ::testing::ValuesIn(AllFlowRuns()), CaseName<FlowRun>);

// ---- The removal's machines: each release, with the driver installed and without.
struct RemovalRun {
  std::string name;
  std::uint32_t build;
  bool installed;
};
void PrintTo(const RemovalRun& c, std::ostream* os) { *os << c.name; }

class RemovalRuns : public ::testing::TestWithParam<RemovalRun> {};

TEST_P(RemovalRuns, AgreeWithTheHostProgram) {
  const RemovalRun& run = GetParam();
  const sim::Machine machine = run.installed ? fixtures::InstalledMachine(run.build) : fixtures::CleanMachine(run.build);
  EXPECT_TRUE(Agree(machine, wine::StepsOf("ok-no")));
}
INSTANTIATE_TEST_SUITE_P(Emulated, RemovalRuns,
                         ::testing::Values(RemovalRun{"Win95Installed", sim::kBuildWin95, true},
                                           RemovalRun{"Win95Osr2Installed", sim::kBuildWin95Osr2, true},
                                           RemovalRun{"Win98Installed", sim::kBuildWin98, true},
                                           RemovalRun{"Win98SeInstalled", sim::kBuildWin98Se, true},
                                           RemovalRun{"Win95Clean", sim::kBuildWin95, false},
                                           RemovalRun{"Win98Clean", sim::kBuildWin98, false}),
                         CaseName<RemovalRun>);

// ---- Each call that both programs make failing in turn, on an installed Windows 98 machine
// with a rename list: the same final machine, dialogs and message boxes. One difference is the
// Windows platform's by design: a RegDeleteKeyA refused with ERROR_ACCESS_DENIED (as the NT
// family refuses a key with subkeys) is tried again after its subkeys (platform/win/shims.cpp),
// so that the shipped program then removes the key all the same, as the host program does
// where nothing fails; the host program calls the simulated RegDeleteKeyA directly.
// The runs go in four shards (every fourth call), so that CTest can run them side by side.
constexpr int kShards = 4;
class FaultInjection : public ::testing::TestWithParam<int> {};

TEST_P(FaultInjection, EachSharedCallFailingLeavesTheSameMachine) {
  sim::Machine machine = fixtures::InstalledMachine(sim::kBuildWin98);
  machine.registry.SetString("HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0002", "DeviceDesc", fixtures::kPrinterName);
  machine.files.WriteFile("C:\\WINDOWS\\wininit.ini", "[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL");
  const Steps steps = wine::StepsOf("ok-no");
  const emu_test::Outcome clean = emu_test::RunHost(machine, steps);
  ASSERT_TRUE(clean.error.empty()) << clean.error;
  std::map<std::string, int> seen;
  int runs = 0, index = 0;
  for (const sim::Call& call : emu_test::SharedCalls(clean.machine.trace())) {
    const int nth = ++seen[call.op];
    if (call.op.rfind("lstr", 0) == 0) continue;  // they cannot fail on Windows, nor here
    if (index++ % kShards != GetParam()) continue;
    const std::string op = call.op;
    auto arm = [&op, nth](sim::Faults& faults) { faults.FailNth(op, nth); };
    const emu_test::Outcome host = op == "RegDeleteKeyA" ? clean : emu_test::RunHost(machine, steps, arm);
    emu::Limits limits;
    limits.requireBalance = false;  // a close that fails leaves its handle open
    EXPECT_TRUE(emu_test::SameRun(host, emu_test::RunEmulated(machine, steps, arm, limits),
                                  emu_test::Compare::kMachineAndDialogs))
        << op << " call " << nth << " failing: " << call.ToString();
    ++runs;
  }
  std::cout << runs << " runs with a fault of " << index << "\n";
  EXPECT_GT(index, 300);
}
INSTANTIATE_TEST_SUITE_P(Shards, FaultInjection, ::testing::Range(0, kShards));

// ---- A shard of random machines, each removed by both programs.
class SeededChoices : public safety::Choices {
 public:
  explicit SeededChoices(std::uint64_t seed) : random_(seed) {}
  int Between(int lo, int hi) override {
    return lo >= hi ? lo : std::uniform_int_distribution<int>(lo, hi)(random_);
  }

 private:
  std::mt19937_64 random_;
};

class RandomMachines : public ::testing::TestWithParam<int> {};

TEST_P(RandomMachines, AgreeWithTheHostProgram) {
  constexpr int kMachines = 300;
  for (int i = GetParam(); i < kMachines; i += kShards) {
    SeededChoices choices(0x514000 + static_cast<std::uint64_t>(i));
    const sim::Machine machine = safety::RandomMachine(choices);
    const ::testing::AssertionResult same = Agree(machine, wine::StepsOf("ok-no"));
    EXPECT_TRUE(same) << "random machine " << i << ":\n" << safety::Describe(machine).substr(0, 4000);
    if (!same) break;  // one machine described is enough
  }
}
INSTANTIATE_TEST_SUITE_P(Shards, RandomMachines, ::testing::Range(0, kShards));

}  // namespace
