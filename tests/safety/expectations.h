// What a run without faults must have done, beside what it may do (the invariant): every
// removable thing that the program can reach is gone, and the INF scan read each file once and
// no further than its first marker.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "sim/machine.h"

namespace safety {

// The numbers of the instance keys that one pass of the walk deletes: names are tried in rising
// order from 0000; every name tried while probing costs the budget 1 and every phase 1 more when
// it ends; examining a run of keys that open one after another costs nothing; a deletion ends
// its phase; the pass ends once the budget has passed 100 at the end of a phase.
std::set<long> InstanceKeysDue(const std::function<bool(long)>& exists, const std::function<bool(long)>& matches);

// Every removal that a run without faults should have made and did not make (or made beyond
// what the walk reaches), one message each.
std::vector<std::string> MissedRemovals(const sim::Machine& before, const sim::Machine& after);

// Every INF file that the run (its trace is after's) opened more than once, or read further or
// less far than its first marker (or its end, for an unmarked file).
std::vector<std::string> ScanWaste(const sim::Machine& before, sim::Machine& after);

// Whether the machine's wininit.ini holds a 0x1A before its last byte, where a text-mode read
// ends before the file does.
bool WininitHasInnerCtrlZ(const sim::Machine& machine);

}  // namespace safety
