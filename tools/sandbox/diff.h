// What a run changed on a machine: the registry keys and values, win.ini sections and keys, files
// and folders that are gone, what was added or changed besides, and the lines added to
// wininit.ini. win.ini is compared as the simulated profile functions read it, line by line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "items.h"
#include "sim/machine.h"

namespace sandbox {

struct MachineDiff {
  std::vector<Item> removed;  // a removed key, section or folder stands for everything in it
  std::vector<Change> changed;
  std::string wininitPath;
  bool wininitCreated = false;
  std::vector<std::string> wininitLines;  // the lines added to wininit.ini, without line ends
};

MachineDiff DiffMachines(const sim::Machine& before, const sim::Machine& after);

// The fewest lines to remove from a and to add from b that turn a into b, as indexes in order
// (Myers' algorithm, after the common start and end are set aside). Beyond maxEdits the middle
// is given as all removed and all added, which is still a correct, if longer, answer.
struct LineEdits {
  std::vector<std::size_t> removed, added;
};
LineEdits DiffLines(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b,
                    std::size_t maxEdits = 1000);

}  // namespace sandbox
