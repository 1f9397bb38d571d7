// The platform calls of a whole removal in their order, written out once from what the machine
// holds: the removal's tests compare a run's calls with it, the call-count test takes its totals
// from it. Each call is "Op(args)" as removal_test::PlatformCalls gives it, without the string
// helpers (lstr*) and the byte reads (fgetc).
#pragma once

#include <string>
#include <vector>

namespace fixtures {

struct Layout {
  bool laterRelease;  // a build above 950
  bool installed;     // InstalledMachine (instance keys 0000, another printer's, and 0001, ours;
                      // the shell folders; INF files); otherwise a bare sim::Machine
};

std::vector<std::string> ExpectedCalls(const Layout& layout);

}  // namespace fixtures
