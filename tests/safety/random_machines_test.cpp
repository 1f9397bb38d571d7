// A fixed-seed batch of random machines, each removed once: every run keeps the invariant, makes
// every removal it can reach, and scans the INF folder without waste. RapidCheck shrinks a
// failing machine to a minimal one and prints it. RC_PARAMS (e.g. RC_PARAMS="seed=7") replaces
// the fixed seed and count, to explore further.
#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>

#include <cstdlib>
#include <sstream>

#include "expectations.h"
#include "invariant.h"
#include "machine_generator.h"
#include "product_table.h"
#include "removal.h"

namespace {

constexpr std::uint64_t kSeed = 514;
constexpr int kMachines = 2400;

// Each choice is one RapidCheck pick, so that shrinking works on every part of the machine.
class PickedChoices : public safety::Choices {
 public:
  int Between(int lo, int hi) override { return lo >= hi ? lo : *rc::gen::inRange(lo, hi + 1); }
};

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "  " + line + "\n";
  return text;
}

// What the batch saw, so that a generator that stops making the hard machines shows.
struct Coverage {
  int runs = 0, firstRelease = 0, instanceKeysGone = 0, instanceKeysBeyondWalk = 0, infGone = 0, infKept = 0,
      networkPort = 0, defaultPrinterGone = 0, groupGone = 0, groupKept = 0, wininitExisted = 0, wininitCtrlZInside = 0,
      longDirectory = 0;
};
Coverage g_coverage;

void Count(const sim::Machine& before, const sim::Machine& after) {
  Coverage& c = g_coverage;
  ++c.runs;
  const bool first = !product::LaterRelease(before.buildNumber);
  c.firstRelease += first;
  for (const product::InstanceList& list : product::kInstanceLists) {
    const std::string base = std::string("HKEY_LOCAL_MACHINE\\") + list.base;
    for (const std::string& name : before.registry.SubkeyNames(base)) {
      const std::string path = base + "\\" + name;
      const auto value = before.registry.GetValue(path, list.valueName);
      if (!value || !safety::ReadsAsPrinterName(*value) || safety::WalkNumber(name) < 0) continue;
      (after.registry.KeyExists(path) ? c.instanceKeysBeyondWalk : c.instanceKeysGone)++;
    }
  }
  if (first) {
    for (const sim::DirEntry& e : before.files.Find(before.windowsDirectory + "\\INF\\oem*.inf")) {
      const std::string path = before.windowsDirectory + "\\INF\\" + e.name;
      if (!e.isDirectory) (after.files.Exists(path) ? c.infKept : c.infGone)++;
    }
  }
  for (const std::string& section : safety::PortSections(before))
    c.networkPort += section.find('\\') != std::string::npos;
  c.defaultPrinterGone += safety::DefaultPrinterIsThePrinter(before) && !safety::DefaultPrinterIsThePrinter(after);
  const std::string group = safety::GroupFolder(before);
  if (before.files.IsDirectory(group)) (after.files.Exists(group) ? c.groupKept : c.groupGone)++;
  c.wininitExisted += before.files.Exists(before.windowsDirectory + "\\wininit.ini");
  c.wininitCtrlZInside += safety::WininitHasInnerCtrlZ(before);
  c.longDirectory += before.windowsDirectory.size() > 200 || before.systemDirectory.size() > 200;
}

void RemoveAndCheck() {
  PickedChoices choices;
  sim::Machine machine = safety::RandomMachine(choices);
  const sim::Machine before(machine);
  {
    sim::Activation active(machine);
    RemoveProduct();
  }
  std::vector<std::string> found = safety::InvariantViolations(before, machine);
  for (const std::string& problem : safety::MissedRemovals(before, machine)) found.push_back(problem);
  for (const std::string& problem : safety::ScanWaste(before, machine)) found.push_back(problem);
  if (!found.empty()) RC_FAIL("\n" + Joined(found) + "on this machine:\n" + safety::Describe(before));
  Count(before, machine);
}

// The batch runs as four shards of a seed each, so that CTest can run them side by side.
constexpr int kShards = 4;

void RunShard(int shard) {
  rc::detail::TestParams params;
  const bool fixed = std::getenv("RC_PARAMS") == nullptr;
  if (fixed) {
    params.seed = kSeed + static_cast<std::uint64_t>(shard);
    params.maxSuccess = kMachines / kShards;
    params.maxSize = 100;
  } else {
    params = rc::detail::configuration().testParams;
  }
  rc::detail::TestMetadata metadata;
  metadata.id = "RandomMachines/" + std::to_string(shard);
  metadata.description = "a removal on a random machine";
  g_coverage = {};
  const auto result = rc::detail::checkTestable(&RemoveAndCheck, metadata, params);
  if (!result.template is<rc::detail::SuccessResult>()) {
    std::ostringstream text;
    rc::detail::printResultMessage(result, text);
    FAIL() << text.str();
  }

  // Each shard reaches the cases the batch exists for.
  const Coverage& c = g_coverage;
  std::cout << "machines " << c.runs << ", first release " << c.firstRelease << ", instance keys removed "
            << c.instanceKeysGone << " (left beyond the walk " << c.instanceKeysBeyondWalk << "), INF files removed "
            << c.infGone << " (kept " << c.infKept << "), network ports " << c.networkPort
            << ", default printers removed " << c.defaultPrinterGone << ", groups removed " << c.groupGone << " (kept "
            << c.groupKept << "), wininit.ini present " << c.wininitExisted << " (with a 0x1A inside "
            << c.wininitCtrlZInside << "), long directories " << c.longDirectory << "\n";
  if (!fixed) return;
  EXPECT_EQ(c.runs, kMachines / kShards);
  const std::pair<const char*, int> seen[] = {
      {"first release", c.firstRelease},
      {"instance keys removed", c.instanceKeysGone},
      {"instance keys beyond the walk", c.instanceKeysBeyondWalk},
      {"INF files removed", c.infGone},
      {"INF files kept", c.infKept},
      {"network ports", c.networkPort},
      {"default printers removed", c.defaultPrinterGone},
      {"groups removed", c.groupGone},
      {"groups kept", c.groupKept},
      {"wininit.ini present", c.wininitExisted},
      {"wininit.ini with a 0x1A inside", c.wininitCtrlZInside},
      {"long directories", c.longDirectory},
  };
  for (const auto& [what, count] : seen) EXPECT_GE(count, 10) << what;
}

TEST(RandomMachines, Shard0) { RunShard(0); }
TEST(RandomMachines, Shard1) { RunShard(1); }
TEST(RandomMachines, Shard2) { RunShard(2); }
TEST(RandomMachines, Shard3) { RunShard(3); }

}  // namespace
