// The machine state that the uninstaller acts on, as one normalised text dump: written by the
// probe that runs under Wine and by the dumper of a simulated machine, read back by the checker
// that compares a run with its expected state. Plain C++, no Windows headers.
//
// One field per line, "FIELD => VALUE" ("FIELD" alone when only its presence counts):
//   build => 950                                  low 16 bits of dwBuildNumber
//   key HKLM\Enum\Root\printer\0000               a key that exists
//   value HKLM\Enum\Root\printer\0000 | DeviceDesc => sz:ZANTEROVA Karsenby RK514
//   profile Devices | ZANTEROVA Karsenby RK514 => kb47rk,LPT1:
//   dir $PROGRAMS\ZANTEROVA RK514                 a folder that exists
//   file $WINDIR\wininit.ini => [rename]%0D%0A... its exact bytes, %XX-encoded
//   exit => 2 / restart => 1 / ui 1 => ...        the run itself: exit code, restart requests, windows
// Paths of files use $WINDIR, $SYSDIR and $PROGRAMS for the machine's own folders, and inside
// file contents the system and Windows directories are written as $SYSDIR and $WINDIR too.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scenario.h"

namespace machines {

struct StateDump {
  std::map<std::string, std::string> fields;
  void Set(const std::string& field, const std::string& value = "") { fields[field] = value; }
  std::string Text() const;
};

// Reads a dump (or an expected-state file, same format, '#' comment lines allowed).
bool ParseDump(std::string_view text, const std::string& fileName, StateDump& dump, std::string& error);

// What the dumper looks at: every key, profile section and folder the uninstaller touches, and
// everything that the scenario seeded besides (other printers' keys, other INF files, ...).
struct Watch {
  struct Key {
    std::string root, path;  // root as a short name
  };
  struct Search {
    std::string folder;   // $WINDIR\INF
    std::string pattern;  // oem*.inf
  };
  std::vector<Key> keys;              // each dumped with everything beneath it
  std::vector<std::string> sections;  // win.ini sections, every key of each
  std::vector<Search> searches;       // entries of a folder matching a pattern (one level)
};
Watch WatchFor(const Scenario& scenario);

// The questions a dumper asks of a machine, answered by the Win32 API under Wine or by the
// simulated machine's own state.
class MachineView {
 public:
  struct RegData {
    std::uint32_t type = 1;
    std::string bytes;
  };
  struct Entry {
    std::string name;
    bool isDirectory = false;
  };
  virtual ~MachineView() = default;
  virtual std::uint16_t Build() = 0;
  virtual std::string WindowsDirectory() = 0;
  virtual std::string SystemDirectory() = 0;
  virtual std::string ProgramsDirectory() = 0;  // "" when the shell-folder setting is missing
  virtual bool KeyExists(const std::string& root, const std::string& path) = 0;
  virtual std::vector<std::string> Subkeys(const std::string& root, const std::string& path) = 0;
  virtual std::vector<std::pair<std::string, RegData>> Values(const std::string& root, const std::string& path) = 0;
  virtual std::vector<std::string> ProfileKeys(const std::string& section) = 0;
  virtual std::optional<std::string> ProfileValue(const std::string& section, const std::string& key) = 0;
  virtual std::vector<Entry> Find(const std::string& folder, const std::string& pattern) = 0;
  virtual std::optional<std::string> ReadFile(const std::string& path) = 0;
};

// A win.ini value read through getProfileString (GetProfileStringA, Windows' own or the simulated
// one); nothing when the key is absent, which the call shows by giving back a default that no
// value holds.
template <typename GetProfileString>
std::optional<std::string> ProfileValueThrough(GetProfileString getProfileString, const std::string& section,
                                               const std::string& key) {
  static const char kAbsent[] = "\x01(absent)";
  std::vector<char> buffer(65536);
  getProfileString(section.c_str(), key.c_str(), kAbsent, buffer.data(), static_cast<unsigned>(buffer.size()));
  if (std::string(buffer.data()) == kAbsent) return std::nullopt;
  return std::string(buffer.data());
}

// Walks the watched state of a machine into a dump.
StateDump DumpState(MachineView& machine, const Watch& watch);

// The text of a value as the dump writes it: "sz:TEXT" for a NUL-ended string, "dword:0x..."
// for a 4-byte REG_DWORD, "hex(TYPE):01 02" otherwise.
std::string ValueText(std::uint32_t type, std::string_view bytes);

// An expected state: either a whole dump, or "from NAME" (a base state that resolveBase gives)
// followed by changes to it: "- FIELD" (the field is gone; for a key or a folder, everything
// beneath it too; a line that removes nothing is an error) and "+ FIELD => VALUE" (set or added).
using BaseResolver = std::function<bool(const std::string& name, StateDump& base, std::string& error)>;
bool ReadExpected(std::string_view text, const std::string& fileName, const BaseResolver& resolveBase,
                  StateDump& expected, std::string& error);

// How Wine's state differs from Windows 98's where the two genuinely differ: applied to a dump
// taken under Wine before it is compared with the expected Windows 98 state.
StateDump AsWindows98Would(const StateDump& wineDump);

// Every field where actual differs from expected, one message each ("missing: ...",
// "unexpected: ...", "FIELD: expected ..., got ..."); empty when they agree.
std::vector<std::string> CompareDumps(const StateDump& expected, const StateDump& actual);

}  // namespace machines
