// The report of a sandbox run, put together: see report.h. The diff, the product's pieces and
// their reasons, and the two outputs each have a file of their own.
#include "report.h"

#include <cstdio>
#include <set>

#include "sim/text.h"

#include "diff.h"
#include "inventory.h"
#include "program.h"
#include "run_calls.h"
#include "simulated_machine.h"

namespace sandbox {
namespace {

// machine's files as Windows leaves them at its next start, wininit.ini carried out. The next
// start changes no key, so the copy leaves the registry out: a registry of 50 MB is not copied.
sim::Machine FilesAfterNextStart(const sim::Machine& machine) {
  sim::Machine next;
  next.registry.Clear();
  next.files = machine.files;
  next.buildNumber = machine.buildNumber;
  next.windowsDirectory = machine.windowsDirectory;
  next.systemDirectory = machine.systemDirectory;
  machines::StartWindowsAgain(next);
  return next;
}

// The inventory of machine, and of it after the next start of Windows.
struct Inventories {
  std::vector<Item> now, afterNextStart;
};
Inventories InventoriesOf(const sim::Machine& machine) {
  const std::vector<Item> registry = RegistryInventory(machine.registry);
  const sim::Machine next = FilesAfterNextStart(machine);
  return {Inventory(registry, FilesInventory(machine.registry, machine)),
          Inventory(registry, FilesInventory(machine.registry, next))};
}

// Whether something the diff lists as removed lies in (or is) a piece of the product the run
// removed (a key or folder below a removed one, a win.ini key of a removed section), or is one
// that is still there (the first of two sections of one name).
class ProductPieces {
 public:
  ProductPieces(const std::vector<Item>& removed, const std::vector<Item>& there) {
    for (const Item& item : removed) {
      if (item.kind == kRegistryKey || item.kind == kFolder || item.kind == kProfileSection) trees_.insert(Tree(item));
      exact_.insert(Exact(item));
    }
    for (const Item& item : there) exact_.insert(Exact(item));
  }
  bool Covers(const Item& item) const {
    if (exact_.count(Exact(item)) != 0) return true;
    if (item.kind == kProfileKey) return trees_.count(std::string(kProfileSection) + "\n" + item.path) != 0;
    const std::string tree = Tree(item);
    const std::string_view path(tree);
    for (std::size_t at = path.find('\\'); at != std::string_view::npos; at = path.find('\\', at + 1)) {
      if (trees_.find(path.substr(0, at)) != trees_.end()) return true;
    }
    return item.kind == kRegistryValue && trees_.count(tree) != 0;
  }

 private:
  static const char* Family(const std::string& kind) {
    if (kind == kRegistryKey || kind == kRegistryValue) return "registry";
    if (kind == kFile || kind == kFolder) return "files";
    return kind.c_str();
  }
  static std::string Tree(const Item& item) { return std::string(Family(item.kind)) + "\n" + item.path; }
  static std::string Exact(const Item& item) { return item.kind + "\n" + item.path + "\n" + item.name; }
  std::set<std::string, sim::NoCaseLess> trees_, exact_;
};

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
  report.otherChanges = std::move(diff.changed);
  report.wininitPath = std::move(diff.wininitPath);
  report.wininitCreated = diff.wininitCreated;
  report.wininitLines = std::move(diff.wininitLines);

  // The product before the run, after it and after the next start; the removed pieces are those
  // of before that after lacks, and everything else the run removed is another change.
  report.productBeforeRun = Inventory(before);
  Inventories inventories = InventoriesOf(after);
  report.productAfterRun = std::move(inventories.now);
  report.leftAfterNextStart = std::move(inventories.afterNextStart);
  std::set<std::string> there;
  for (const Item& item : report.productAfterRun) there.insert(KeyOf(item));
  for (const Item& item : report.productBeforeRun) {
    if (there.count(KeyOf(item)) == 0) report.removed.push_back({item.kind, item.path, item.name, ""});
  }
  const ProductPieces pieces(report.removed, report.productAfterRun);
  for (Item& item : diff.removed) {
    if (!pieces.Covers(item)) report.otherChanges.push_back({std::move(item), "removed"});
  }

  const RunCalls calls(after, before);
  // Without a removal in this run, the removal alone on a copy tells what a confirmed run would
  // have taken and kept.
  std::optional<sim::Machine> removedAlone;
  std::optional<RunCalls> aloneCalls;
  std::set<std::string> leftNext, leftAlone;
  if (!facts.removalRan) {
    removedAlone.emplace(before);
    RunRemovalOnly(*removedAlone);
    aloneCalls.emplace(*removedAlone, before);
    for (const Item& item : InventoriesOf(*removedAlone).afterNextStart) leftAlone.insert(KeyOf(item));
  }
  for (const Item& item : report.leftAfterNextStart) leftNext.insert(KeyOf(item));
  for (const Item& item : report.productAfterRun) {
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
