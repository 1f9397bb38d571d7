// One simulated Windows 95/98 PC: its registry, drives, profile, version and directories, its
// window manager, and the trace and faults of the platform calls made on it. The Win32 functions
// of win32.h act on the machine that is current (Activation makes one current for a scope).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/errors.h"
#include "sim/files.h"
#include "sim/heap.h"
#include "sim/registry.h"
#include "sim/trace.h"
#include "sim/ui.h"

namespace sim {

// dwBuildNumber of the Windows 95 and 98 releases (major.minor in the high word, build in the low).
inline constexpr std::uint32_t kBuildWin95 = 0x040003B6;      // 4.00.950
inline constexpr std::uint32_t kBuildWin95Osr2 = 0x04000457;  // 4.00.1111
inline constexpr std::uint32_t kBuildWin98 = 0x040A07CE;      // 4.10.1998
inline constexpr std::uint32_t kBuildWin98Se = 0x040A08AE;    // 4.10.2222

class Machine {
 public:
  // A bare Windows 98 machine: C:\WINDOWS and C:\WINDOWS\SYSTEM exist, the registry holds the
  // root keys and what the aliases lead to (HKLM\SOFTWARE\Classes, HKLM\Config\0001,
  // HKEY_USERS\.DEFAULT), and there is no win.ini.
  Machine();
  Machine(const Machine& other);  // a snapshot: the state, not the trace or the UI
  Machine& operator=(const Machine& other);
  ~Machine();

  // A machine image: registry.reg (REGEDIT4), drives/<letter>/..., attributes.txt, machine.ini.
  // Loading is all or nothing and throws ImageError naming the file and line. Each part is
  // optional and the bare machine stands in for a missing one; registry.reg and drives/, when
  // present, are the whole registry and the whole of the drives. machine.ini holds "key=value"
  // lines (an optional [machine] header, ';' comments): BuildNumber (hexadecimal with 0x, or
  // major.minor.build in decimal: 4.00.950), WindowsDirectory, SystemDirectory (on a drive of
  // the image), CurrentConfig, CurrentUser. What no Windows 95/98 machine could hold is refused:
  // keys deeper than 512 levels, key and value names with a line break, links in drives/,
  // folders deeper than a Windows path reaches; any name that is not a plain file or folder, and
  // any file larger than 256 MB. notes, when given, gets what the image holds that the machine
  // ignores (files whose Unix write bit is off). Read and written in image.cpp.
  static Machine LoadImage(const std::filesystem::path& dir, std::vector<std::string>* notes = nullptr);
  // Every write and close is checked: a failure throws ImageError naming the file and the
  // system's error, and leaves dir as far as it got. beforeEachFile runs before each file of the
  // drives is written; it may throw to stop the save.
  void SaveImage(const std::filesystem::path& dir, const std::function<void()>& beforeEachFile = {}) const;

  Registry registry;
  FileSystem files;
  std::uint32_t buildNumber = kBuildWin98;
  std::string windowsDirectory = "C:\\WINDOWS";
  std::string systemDirectory = "C:\\WINDOWS\\SYSTEM";

  std::string WinIniPath() const { return windowsDirectory + "\\WIN.INI"; }

  // The state a removal can change, compared byte for byte (not the trace, faults or UI).
  bool SameState(const Machine& other) const;

  Trace& trace() { return *trace_; }
  const Trace& trace() const { return *trace_; }
  Faults& faults() { return *faults_; }
  Ui& ui() { return *ui_; }
  std::uint32_t lastError = 0;

  // The process heap (HeapAlloc): a run's, not the machine's state, so a snapshot has a fresh one.
  Heap heap;
  // What the Win32 file calls may still add to the drives (WriteFile, SetEndOfFile): past it they
  // fail with ERROR_DISK_FULL. What they take away (SetEndOfFile) is given back; nothing else counts.
  std::uint64_t freeDiskBytes = std::uint64_t(64) << 20;

  struct Handles;  // open registry keys, searches and files of the Win32 layer
  Handles& handles() { return *handles_; }
  // What the program holds open, for a balance check at the end of a run: HKEYs (not the roots),
  // FindFirstFileA searches, CreateFileA files, and the C runtime's files (fopen).
  struct OpenHandles {
    std::size_t keys = 0, searches = 0, files = 0, streams = 0;
    std::size_t Total() const { return keys + searches + files + streams; }
  };
  OpenHandles CountOpenHandles() const;

 private:
  std::unique_ptr<Trace> trace_;
  std::unique_ptr<Faults> faults_;
  std::unique_ptr<Ui> ui_;
  std::unique_ptr<Handles> handles_;
};

// The machine that the Win32 functions act on; throws Unmodelled when none is active.
Machine& Current();

class Activation {
 public:
  explicit Activation(Machine& machine);
  ~Activation();
  Activation(const Activation&) = delete;
  Activation& operator=(const Activation&) = delete;

 private:
  Machine* previous_;
};

}  // namespace sim
