// Why each piece of the product's inventory (inventory.h) is still there after a run. Every reason
// starts from what the run did to the piece (its traced calls and their results); the machine
// after the run only adds what those calls met (a read-only file, a folder's contents, where a
// line stands in wininit.ini).
//
// Reason codes (stable, for scripts): removalDidNotRun, deletionFailed, inUse, readOnly,
// notEmpty, folderNotFile, laterDuplicate, unexamined, outsideProbeBudget, descriptionUnreadable,
// descriptionNotNulEnded, descriptionDiffers, buildGated, notSearched, notOpened, markerNotFound,
// notScheduled, scheduleIneffective, notTouched; since format 3: notLookedFor (the run looked
// elsewhere: the group in another Programs folder, other win.ini sections), nameNotWalked (an
// instance key name the walk never forms), comparedUnequal and readNotCompared (a win.ini key
// read and kept), behindCtrlZ and outsideRename (a wininit.ini line the next start never
// carries out). readOnly, inUse and folderNotFile also stand for a deferred file that the next
// start could not delete.
#pragma once

#include <string>
#include <vector>

#include "items.h"
#include "run_calls.h"
#include "sim/machine.h"

namespace sandbox {

struct Remnant {
  Item item;
  std::string reason;  // for people
  std::string code;    // one of the codes above
};

// Why items are still on after, the machine that a run with those calls left, once Windows has
// also carried out wininit.ini (items that the next start deletes are not asked about).
class Reasons {
 public:
  Reasons(const sim::Machine& after, const RunCalls& calls) : after_(after), calls_(calls) {}
  Remnant Why(const Item& item) const;

 private:
  Remnant RegistryKey(const Item& item) const;
  Remnant ProfileLine(const Item& item) const;
  Remnant FileOrFolder(const Item& item) const;
  Remnant DeferredFile(const Item& item) const;
  Remnant NotCarriedOut(const Item& item, const std::string& line, const std::string& where) const;
  Remnant GroupNotLookedFor(const Item& item) const;
  Remnant SetupInformationFile(const Item& item) const;
  std::string BuildText() const;

  const sim::Machine& after_;
  const RunCalls& calls_;
};

}  // namespace sandbox
