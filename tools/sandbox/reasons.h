// What of the product is on a machine, and why each piece of it is still there after a run. Every
// reason starts from what the run did to the piece (its traced calls and their results); the
// machine after the run only adds what those calls met (a read-only file, a folder's contents).
//
// Reason codes (stable, for scripts): removalDidNotRun, deletionFailed, inUse, readOnly,
// notEmpty, folderNotFile, laterDuplicate, unexamined, outsideProbeBudget, descriptionUnreadable,
// descriptionNotNulEnded, descriptionDiffers, buildGated, notSearched, notOpened, markerNotFound,
// notScheduled, scheduleIneffective, notTouched.
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

// The product's pieces present on machine: its fixed keys and every key the runs tried to delete,
// the numbered device and driver-class keys that describe the printer, the keys, values and
// win.ini lines that name the printer or the group, every file and folder the runs tried to
// delete, the files of its tables in the system directory and the setup information files that
// hold its marker word. What lies inside a piece already listed (a key below a key, a key of a
// listed win.ini section) goes with it.
std::vector<Item> ProductItems(const sim::Machine& machine, const std::vector<const RunCalls*>& runs);

// The same piece on two machines has the same key.
std::string KeyOf(const Item& item);

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
  Remnant SetupInformationFile(const Item& item) const;
  std::string BuildText() const;

  const sim::Machine& after_;
  const RunCalls& calls_;
};

}  // namespace sandbox
