// What the simulated Win32 functions share: the handle tables and the tracing of each call.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "sim/machine.h"
#include "win32.h"

struct SimFile;

namespace sim {

struct Machine::Handles {
  std::map<std::uintptr_t, std::string> keys;  // open HKEY -> canonical key path
  std::set<std::uintptr_t> deletedKeys;        // open HKEYs whose key has been deleted since
  std::uintptr_t nextKey = 0x1000;
  struct Search {
    std::vector<DirEntry> entries;
    std::size_t next = 0;
  };
  std::map<std::uintptr_t, Search> searches;  // open FindFirstFileA handle -> what it found
  std::uintptr_t nextSearch = 0x2000;
  std::set<SimFile*> files;  // open C runtime files
};

// Argument texts for the trace.
std::string Quote(const char* text);  // "text" with the bytes as they are, or NULL
std::string HkeyName(HKEY key);       // HKEY_LOCAL_MACHINE, or hkey#4096
std::string Hex(std::uint32_t value); // 0x0000008C

// One traced call. Construct it first thing in a simulated function: it decides whether the call
// fails by injection. Finish with Done(resultText), which records the call in the machine's trace.
class TracedCall {
 public:
  TracedCall(std::string op, std::vector<std::string> args);
  bool Fails() const { return fails_; }
  Machine& machine() const { return machine_; }
  void Done(std::string resultText);
  template <typename T>
  T Return(T value) {
    Done(std::to_string(value));
    return value;
  }

 private:
  Machine& machine_;
  Call call_;
  bool fails_;
  bool done_ = false;
};

}  // namespace sim
