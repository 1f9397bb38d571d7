// The report of a sandbox run, put together: see report.h. The diff, the product's pieces and
// their reasons, and the two outputs each have a file of their own.
#include "report.h"

#include <cstdio>
#include <set>

#include "diff.h"
#include "program.h"
#include "run_calls.h"
#include "simulated_machine.h"

namespace sandbox {
namespace {

// A copy of machine as Windows leaves it at its next start, wininit.ini carried out.
sim::Machine AfterNextStart(const sim::Machine& machine) {
  sim::Machine next = machine;
  machines::StartWindowsAgain(next);
  return next;
}

constexpr char kAtNextStart[] = "removed at the next start of Windows, as wininit.ini lists it";

}  // namespace

std::string ReleaseName(std::uint32_t buildNumber) {
  char numbers[32];
  std::snprintf(numbers, sizeof(numbers), "%u.%02u.%u", buildNumber >> 24, (buildNumber >> 16) & 0xFF,
                buildNumber & 0xFFFF);
  const char* name = nullptr;
  switch (buildNumber) {
    case sim::kBuildWin95: name = "Windows 95"; break;
    case sim::kBuildWin95Osr2: name = "Windows 95 OSR2"; break;
    case sim::kBuildWin98: name = "Windows 98"; break;
    case sim::kBuildWin98Se: name = "Windows 98 Second Edition"; break;
  }
  if (name == nullptr) return std::string("build ") + numbers;
  return std::string(name) + " (" + numbers + ")";
}

Report BuildReport(const sim::Machine& before, sim::Machine& after, const RunFacts& facts) {
  Report report;
  report.run = facts;
  report.buildNumber = after.buildNumber;
  MachineDiff diff = DiffMachines(before, after);
  report.removed = std::move(diff.removed);
  report.otherChanges = std::move(diff.changed);
  report.wininitPath = std::move(diff.wininitPath);
  report.wininitCreated = diff.wininitCreated;
  report.wininitLines = std::move(diff.wininitLines);

  const sim::Machine afterNextStart = AfterNextStart(after);
  const RunCalls calls(after, before);
  std::vector<const RunCalls*> runs = {&calls};
  // Without a removal in this run, the removal alone on a copy tells what a confirmed run would
  // have taken and kept.
  std::optional<sim::Machine> removedAlone;
  std::optional<RunCalls> aloneCalls;
  std::optional<sim::Machine> aloneNextStart;
  if (!facts.removalRan) {
    removedAlone.emplace(before);
    RunRemovalOnly(*removedAlone);
    aloneCalls.emplace(*removedAlone, before);
    aloneNextStart.emplace(AfterNextStart(*removedAlone));
    runs.push_back(&*aloneCalls);
  }

  // What the next start leaves of the product, and what a removal alone would have left.
  report.leftAfterNextStart = ProductItems(afterNextStart, runs);
  std::set<std::string> leftNext, leftAlone;
  for (const Item& item : report.leftAfterNextStart) leftNext.insert(KeyOf(item));
  if (aloneNextStart) {
    for (const Item& item : ProductItems(*aloneNextStart, runs)) leftAlone.insert(KeyOf(item));
  }
  for (const Item& item : ProductItems(after, runs)) {
    if (leftNext.count(KeyOf(item)) == 0) {
      report.waiting.push_back({item, kAtNextStart});
    } else if (facts.removalRan) {
      report.stillThere.push_back(Reasons(after, calls).Why(item));
    } else if (leftAlone.count(KeyOf(item)) == 0) {
      report.stillThere.push_back({item, "the removal did not run", "removalDidNotRun"});
    } else {
      Remnant kept = Reasons(*removedAlone, *aloneCalls).Why(item);
      kept.reason = "the removal did not run; a confirmed run would keep it too: " + kept.reason;
      report.stillThere.push_back(std::move(kept));
    }
  }
  return report;
}

}  // namespace sandbox
