// The report's inventory over random machines (tests/safety's generator, driven by RapidCheck):
// the report says that nothing of the product is left exactly when the inventory of the machine
// after the next start of Windows is empty; every piece of the product that the test finds there
// by the product's table is listed; the pieces after the run are the waiting ones and the ones
// still there, each with a reason; and the pieces before the run are counted once, as removed,
// waiting or still there.
#include <gtest/gtest.h>
#include <rapidcheck.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "inventory.h"
#include "machine_generator.h"
#include "product_table.h"
#include "program.h"
#include "report.h"
#include "simulated_machine.h"

namespace {

constexpr std::uint64_t kSeed = 1914;
constexpr int kMachines = 150;

class PickedChoices : public safety::Choices {
 public:
  int Between(int lo, int hi) override { return lo >= hi ? lo : *rc::gen::inRange(lo, hi + 1); }
};

std::set<std::string> Keys(const std::vector<sandbox::Item>& items) {
  std::set<std::string> keys;
  for (const sandbox::Item& item : items) keys.insert(sandbox::KeyOf(item));
  return keys;
}

bool Lists(const std::vector<sandbox::Item>& items, const std::string& kind, const std::string& path) {
  return std::any_of(items.begin(), items.end(), [&](const sandbox::Item& item) {
    return item.kind == kind && sim::EqualNoCase(item.path, path);
  });
}

const std::set<std::string> kReasonCodes = {
    "removalDidNotRun", "deletionFailed", "inUse", "readOnly", "notEmpty", "folderNotFile", "laterDuplicate",
    "unexamined", "outsideProbeBudget", "descriptionUnreadable", "descriptionNotNulEnded", "descriptionDiffers",
    "buildGated", "notSearched", "notOpened", "markerNotFound", "notScheduled", "scheduleIneffective", "notTouched",
    "notLookedFor", "nameNotWalked", "comparedUnequal", "readNotCompared", "behindCtrlZ", "outsideRename"};

// The Start-menu group where Windows keeps it, whatever the registry says: the generator puts it
// where the registry points (or at the root, where a run without a Programs folder looks).
const char* const kDefaultPlaces[] = {"\\Start Menu\\Programs\\", "\\Profiles\\ANNA\\Start Menu\\Programs\\"};

void GroupInADefaultPlace(safety::Choices& choices, sim::Machine& machine) {
  if (!choices.Maybe(40)) return;
  const std::string group = machine.windowsDirectory + kDefaultPlaces[choices.Index(2)] + product::kGroupName;
  if (machine.files.Exists(group)) return;
  machine.files.MakeDirectory(group);
  for (const char* shortcut : product::kShortcuts) {
    if (choices.Maybe(60)) machine.files.WriteFile(group + "\\" + shortcut, "L");
  }
  if (choices.Maybe(20)) machine.files.WriteFile(group + "\\My notes.txt", "mine");
}

void ReportOnARandomMachine() {
  PickedChoices choices;
  sim::Machine before = safety::RandomMachine(choices);
  GroupInADefaultPlace(choices, before);
  sim::Machine after = before;
  sandbox::RunRemovalOnly(after);
  sandbox::RunFacts facts;
  facts.removalRan = true;
  const sandbox::Report report = sandbox::BuildReport(before, after, facts);
  const std::string text = sandbox::ReportText(report);

  // The machine after the next start, made here whole (the report copies its files only).
  sim::Machine next = after;
  machines::StartWindowsAgain(next);
  const std::vector<sandbox::Item> left = sandbox::Inventory(next);
  const bool saysNothingLeft = text.find("nothing of the product is left") != std::string::npos;
  RC_ASSERT(saysNothingLeft == left.empty());
  RC_ASSERT(Keys(report.leftAfterNextStart) == Keys(left));

  // What the product's table names and the test finds on the machine after the next start.
  for (const char* name : product::kSystemFiles) {
    const std::string path = next.systemDirectory + "\\" + name;
    if (next.files.Exists(path)) RC_ASSERT(Lists(left, next.files.IsDirectory(path) ? "folder" : "file", path));
  }
  for (const char* name : product::kDeferredFiles) {
    const std::string path = next.systemDirectory + "\\" + name;
    if (next.files.Exists(path)) RC_ASSERT(Lists(left, next.files.IsDirectory(path) ? "folder" : "file", path));
  }
  for (const char* place : kDefaultPlaces) {
    const std::string group = next.windowsDirectory + place + product::kGroupName;
    if (!next.files.IsDirectory(group)) continue;
    RC_ASSERT(Lists(left, "folder", group));
    for (const char* shortcut : product::kShortcuts) {
      if (next.files.IsFile(group + "\\" + shortcut)) RC_ASSERT(Lists(left, "file", group + "\\" + shortcut));
    }
  }
  for (const product::FixedKey& key : product::kFixedKeys) {
    const std::string path = next.registry.Resolve(std::string(key.root) + "\\" + key.path);
    if (!next.registry.KeyExists(path)) continue;
    // Listed itself or with a key above it.
    RC_ASSERT(std::any_of(left.begin(), left.end(), [&](const sandbox::Item& item) {
      return item.kind == "registry key" &&
             (sim::EqualNoCase(item.path, path) || sim::StartsWithNoCase(path, item.path + "\\"));
    }));
  }

  // After the run: waiting or still there, once each; still there with a reason.
  std::vector<sandbox::Item> afterRun;
  for (const sandbox::Waiting& waiting : report.waiting) afterRun.push_back(waiting.item);
  for (const sandbox::Remnant& remnant : report.stillThere) {
    afterRun.push_back(remnant.item);
    RC_ASSERT(!remnant.reason.empty());
    RC_ASSERT(kReasonCodes.count(remnant.code) == 1u);
  }
  RC_ASSERT(afterRun.size() == report.productAfterRun.size());
  RC_ASSERT(Keys(afterRun) == Keys(sandbox::Inventory(after)));
  RC_ASSERT(Keys(report.productBeforeRun) == Keys(sandbox::Inventory(before)));
  // A run adds nothing of the product, so every piece before it is counted once.
  RC_ASSERT(report.productBeforeRun.size() == report.removed.size() + report.waiting.size() + report.stillThere.size());
}

TEST(InventoryOverRandomMachines, NothingLeftExactlyWhenTheNextStartLeavesNothing) {
  rc::detail::TestParams params;
  params.seed = kSeed;
  params.maxSuccess = kMachines;
  params.maxSize = 100;
  rc::detail::TestMetadata metadata;
  metadata.id = "InventoryOverRandomMachines";
  metadata.description = "the report's inventory on a random machine";
  const auto result = rc::detail::checkTestable(&ReportOnARandomMachine, metadata, params);
  if (!result.template is<rc::detail::SuccessResult>()) {
    std::ostringstream text;
    rc::detail::printResultMessage(result, text);
    FAIL() << text.str();
  }
}

}  // namespace
