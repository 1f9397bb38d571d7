// What the simulated Win32 functions share: the handle tables and the tracing of each call.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
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
  // Each kind of handle takes its values from a range of its own, so that a handle given to a
  // call of another kind (a file to RegCloseKey, a search to CloseHandle) is not found there and
  // fails with ERROR_INVALID_HANDLE. Every value is below 0x80000000: the root HKEYs' values,
  // and a 32-bit program's handles, with no sign to extend.
  static constexpr std::uintptr_t kKeys = 0x1000, kSearches = 0x01000000, kFiles = 0x02000000, kEnd = 0x03000000;
  // The next value of a range (next counts up within it); throws Unmodelled once it is used up.
  static std::uintptr_t Take(std::uintptr_t& next, std::uintptr_t end, const char* what);

  std::map<std::uintptr_t, std::string> keys;  // open HKEY -> canonical key path
  std::set<std::uintptr_t> deletedKeys;        // open HKEYs whose key has been deleted since
  std::uintptr_t nextKey = kKeys;
  struct Search {
    std::vector<DirEntry> entries;
    std::size_t next = 0;
  };
  std::map<std::uintptr_t, Search> searches;  // open FindFirstFileA handle -> what it found
  std::uintptr_t nextSearch = kSearches;
  struct File {
    std::string path;  // the long path (FileSystem::LongPath): one file has one
    std::uint32_t access = 0, share = 0;
    std::uint64_t position = 0;
  };
  std::map<std::uintptr_t, File> fileHandles;  // open CreateFileA handle -> its file
  std::uintptr_t nextFile = kFiles;
  std::set<SimFile*> files;  // open C runtime files
};

// A handle as the trace shows it: hfile#N, search#N or hkey#N by its range, NULL,
// INVALID_HANDLE_VALUE, or its value in hexadecimal.
std::string HandleName(const void* handle);

// What the user was shown, for the messages of Unanswered: WELCOME "caption", the message box
// "title" saying "text".
std::string Shown(const DialogState& dialog);
std::string Shown(const MessageBoxRecord& box);

// Argument texts for the trace.
std::string Quote(const char* text);   // "text" with the bytes as they are, or NULL
std::string HkeyName(HKEY key);        // HKEY_LOCAL_MACHINE, or hkey#4096
std::string Hex(std::uint32_t value);  // 0x0000008C

// One traced call. Construct it first thing in a simulated function: it decides whether the call
// fails by injection. Finish with Done(resultText), which records the call in the machine's trace.
// The operation's name must outlive the call (a string literal); the arguments are copied into
// one buffer, so that tracing a call costs one allocation at most.
class TracedCall {
 public:
  TracedCall(std::string_view op, std::initializer_list<std::string_view> args);
  TracedCall(std::string_view op, const std::vector<std::string>& args);  // a list built beforehand
  bool Fails() const { return fails_; }
  Machine& machine() const { return machine_; }
  void Done(std::string_view resultText);
  template <typename T>
  T Return(T value) {
    Done(std::to_string(value));
    return value;
  }

 private:
  void Append(std::string_view arg);
  Machine& machine_;
  std::string_view op_;
  std::string texts_;                                     // the arguments, one after another
  std::array<std::size_t, Trace::kMostArgs + 1> ends_{};  // where each argument ends in texts_
  std::size_t count_ = 0;
  bool fails_;
  bool done_ = false;
};

}  // namespace sim
