// Random Windows 95/98 machines that stress the removal: printers and instance keys with near-miss
// descriptions, odd win.ini files, Start-menu groups with the user's own files, crowded INF
// folders, directories near the 259-character limit and every kind of wininit.ini. The machine
// is built from a stream of choices, so that RapidCheck (which shrinks each choice towards its
// lowest value) and libFuzzer (which feeds bytes) drive the same generator.
#pragma once

#include <cstddef>
#include <string>

#include "sim/machine.h"

namespace safety {

class Choices {
 public:
  virtual ~Choices() = default;
  // A number from lo to hi, both included. lo is always the plainest choice: a shrinking search
  // moves towards it, and a source that has run dry answers it.
  virtual int Between(int lo, int hi) = 0;

  // true in about percent cases out of 100; false is the plainer answer.
  bool Maybe(int percent) { return Between(0, 99) >= 100 - percent; }
  // An index into count options, the first being the plainest.
  std::size_t Index(std::size_t count) { return static_cast<std::size_t>(Between(0, static_cast<int>(count) - 1)); }
};

sim::Machine RandomMachine(Choices& choices);

// The machine as text, for a report: build, directories, registry, and every file with its bytes.
std::string Describe(const sim::Machine& machine);

}  // namespace safety
