// Fault injection: for every platform call that a whole removal makes, a run in which that one
// call fails, and for every operation, a run in which all its calls fail. Each run completes,
// reaches the last stage, keeps the invariant and stays within a bound of calls.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>

#include "installed_machine.h"
#include "invariant.h"
#include "removal.h"
#include "sim/machine.h"

namespace {

// Thrown from the trace when a run makes far more calls than any removal needs: it loops.
struct Runaway : std::runtime_error {
  using std::runtime_error::runtime_error;
};
constexpr std::size_t kCallLimit = 200'000;

// The machines: as the driver's setup leaves them, with a few more things to go wrong.
sim::Machine Windows98WithRenameList() {
  sim::Machine machine = fixtures::InstalledMachine(sim::kBuildWin98);
  // A second instance key of the printer, and a wininit.ini whose last line has no line end.
  machine.registry.SetString("HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0002", "DeviceDesc", fixtures::kPrinterName);
  machine.files.WriteFile("C:\\WINDOWS\\wininit.ini", "[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL");
  return machine;
}

sim::Machine Windows95WithTwoMarkedInfFiles() {
  sim::Machine machine = fixtures::InstalledMachine(sim::kBuildWin95);
  machine.files.WriteFile("C:\\WINDOWS\\INF\\oem2.inf", "[Files]\r\nKB47STAT.EXE = 1\r\n");
  machine.files.WriteFile("C:\\WINDOWS\\wininit.ini", "[boot]\r\nx=1\r\n\x1A");
  return machine;
}

sim::Machine Windows98WithNetworkPrinter() {
  sim::Machine machine = fixtures::InstalledMachine(sim::kBuildWin98Se);
  std::string ini = fixtures::InstalledWinIni();
  const std::string local = "ZANTEROVA Karsenby RK514=kb47rk,LPT1:\r\n";
  ini.replace(ini.find(local), local.size(), "ZANTEROVA Karsenby RK514=kb47rk,\\\\SERVER\\QUEUE\r\n");
  ini += "[ZANTEROVA Karsenby RK514-\\\\SERVER\\QUEUE]\r\nColorMode=1\r\n";
  machine.files.WriteFile(machine.WinIniPath(), ini);
  return machine;
}

// The string helpers, and ferror, which only reports what an earlier call did.
bool CannotFail(const std::string& op) { return op.rfind("lstr", 0) == 0 || op == "ferror"; }

struct Outcome {
  std::vector<std::string> problems;
  std::vector<sim::Call> calls;
};

// One removal with the faults that arm sets; every problem found, one message each.
template <typename Arm>
Outcome RunWithFaults(const sim::Machine& original, const std::string& op, Arm arm) {
  sim::Machine machine(original);
  arm(machine.faults());
  machine.trace().onCall = [&machine](const sim::Call&) {
    if (machine.trace().Size() > kCallLimit) throw Runaway("more than 200000 calls");
  };
  Outcome outcome;
  try {
    sim::Activation active(machine);
    RemoveProduct();
  } catch (const std::exception& error) {
    outcome.problems.push_back(std::string("the run did not complete: ") + error.what());
  }
  outcome.calls = machine.trace().Unfolded();
  for (const std::string& problem : safety::InvariantViolations(original, machine, safety::AllowanceForFailing(op))) {
    outcome.problems.push_back(problem);
  }
  // No fault stops the run: the rename list is still looked for, unless the Windows directory
  // itself is what could not be read.
  bool lastStage = false;
  for (const sim::Call& call : outcome.calls) {
    lastStage = lastStage || (call.op == "FindFirstFileA" && call.args[0].find("wininit.ini") != std::string::npos);
  }
  if (!lastStage && op != "GetWindowsDirectoryA") outcome.problems.push_back("the last stage did not run");
  return outcome;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "\n  " + line;
  return text;
}

void FailEachCallAndEachOperation(const sim::Machine& original) {
  sim::Machine clean(original);
  {
    sim::Activation active(clean);
    RemoveProduct();
  }
  const std::vector<sim::Call> calls = clean.trace().Unfolded();
  ASSERT_TRUE(safety::InvariantViolations(original, clean).empty());

  std::set<std::string> ops;
  int runs = 0;
  for (std::size_t index = 0; index < calls.size(); ++index) {
    const std::string& op = calls[index].op;
    if (CannotFail(op)) continue;  // not on Windows, nor here
    ops.insert(op);
    const Outcome outcome = RunWithFaults(original, op, [index](sim::Faults& faults) { faults.FailCallIndex(index); });
    ++runs;
    // The fault hit the call it was meant for: the run is the clean one up to there.
    ASSERT_GT(outcome.calls.size(), index);
    EXPECT_EQ(outcome.calls[index].ToString().substr(0, op.size()), op);
    EXPECT_TRUE(outcome.problems.empty())
        << "call " << index << " failing: " << calls[index].ToString() << Joined(outcome.problems);
  }
  for (const std::string& op : ops) {
    const Outcome outcome = RunWithFaults(original, op, [&op](sim::Faults& faults) { faults.FailAll(op); });
    ++runs;
    EXPECT_TRUE(outcome.problems.empty()) << "every " << op << " failing:" << Joined(outcome.problems);
  }
  std::cout << runs << " runs with a fault, " << ops.size() << " operations\n";
}

TEST(FaultInjection, Windows98WithRenameList) { FailEachCallAndEachOperation(Windows98WithRenameList()); }
TEST(FaultInjection, Windows95WithTwoMarkedInfFiles) { FailEachCallAndEachOperation(Windows95WithTwoMarkedInfFiles()); }
TEST(FaultInjection, Windows98WithNetworkPrinter) { FailEachCallAndEachOperation(Windows98WithNetworkPrinter()); }

// A run that loops is caught, not waited for: the guard itself stops one.
TEST(FaultInjection, TheCallLimitStopsARunaway) {
  sim::Machine machine;
  machine.trace().onCall = [&machine](const sim::Call&) {
    if (machine.trace().Size() > 10) throw Runaway("more than 10 calls");
  };
  sim::Activation active(machine);
  EXPECT_THROW(RemoveProduct(), Runaway);
}

}  // namespace
