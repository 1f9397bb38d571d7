// The simulated PC as a whole: a bare Windows 98 machine, its snapshots, and the machine that the
// Win32 functions act on. Machine images are read and written in image.cpp.
#include "sim/machine.h"

#include "internal.h"

namespace sim {
namespace {

Machine* g_current = nullptr;  // the machine that the Win32 functions act on

}  // namespace

Machine::Machine()
    : trace_(std::make_unique<Trace>()),
      faults_(std::make_unique<Faults>()),
      ui_(std::make_unique<Ui>()),
      handles_(std::make_unique<Handles>()) {
  files.MakeDirectory(systemDirectory);
}

Machine::Machine(const Machine& other)
    : registry(other.registry),
      files(other.files),
      buildNumber(other.buildNumber),
      windowsDirectory(other.windowsDirectory),
      systemDirectory(other.systemDirectory),
      trace_(std::make_unique<Trace>()),
      faults_(std::make_unique<Faults>()),
      ui_(std::make_unique<Ui>()),
      handles_(std::make_unique<Handles>()) {}

// Takes the other machine's state and keeps this machine's own run: its trace, faults, window
// manager and open handles.
Machine& Machine::operator=(const Machine& other) {
  if (this != &other) {
    registry = other.registry;
    files = other.files;
    buildNumber = other.buildNumber;
    windowsDirectory = other.windowsDirectory;
    systemDirectory = other.systemDirectory;
  }
  return *this;
}

Machine::~Machine() {
  if (g_current == this) g_current = nullptr;
}

bool Machine::SameState(const Machine& other) const {
  return registry == other.registry && files == other.files && buildNumber == other.buildNumber &&
         windowsDirectory == other.windowsDirectory && systemDirectory == other.systemDirectory;
}

Machine::OpenHandles Machine::CountOpenHandles() const {
  return {handles_->keys.size(), handles_->searches.size(), handles_->fileHandles.size(), handles_->files.size()};
}

std::uintptr_t Machine::Handles::Take(std::uintptr_t& next, std::uintptr_t end, const char* what) {
  if (next >= end)
    throw Unmodelled(std::string("more ") + what + " opened in one run than the simulated machine numbers");
  return next++;
}

Machine& Current() {
  if (g_current == nullptr) throw Unmodelled("a Win32 function was called with no simulated machine active");
  return *g_current;
}

Activation::Activation(Machine& machine) : previous_(g_current) { g_current = &machine; }

Activation::~Activation() { g_current = previous_; }

}  // namespace sim
