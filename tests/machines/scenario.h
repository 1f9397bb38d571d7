// A scenario: the machine state that the driver's setup (and the user) left behind, written once
// as text and read by the Wine suite's seeding tool, by the loader that builds the same state in a
// simulated machine (the Wine suite's host side, the sample machines, the removal's fixtures).
// Plain C++, no Windows headers.
//
// One directive per line; '#' starts a comment line. Fields are separated by " | ".
//   release win95|win98
//   key     ROOT\PATH                        a key (with every missing parent)
//   sz      ROOT\PATH | NAME | TEXT          a REG_SZ value (NUL added); NAME "@" is the default
//   dword   ROOT\PATH | NAME | 0x00000010    a REG_DWORD value
//   binary  ROOT\PATH | NAME | 01 02 ff      a REG_BINARY value
//   profile SECTION | KEY | VALUE            a win.ini entry
//   dir     $DIR\PATH                        a folder (with every missing parent)
//   file    $DIR\PATH | BYTES                a file holding exactly these bytes
//   include PATH                             the lines of the file PATH, relative to the folder
//                                            of the file that names it (".." goes up)
// Roots: HKLM, HKCU, HKU, HKCR, HKCC (or their long names). Paths of files start with $WINDIR,
// $SYSDIR or $PROGRAMS (the user's Programs folder, as the shell-folder settings give it).
// TEXT, VALUE and BYTES are taken as written except that %XX stands for the byte XX (hex):
// %0D%0A is a line end, %25 a percent sign, %20 a blank that would otherwise be invisible.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace machines {

struct RegistryEntry {
  enum Kind { Key, String, Dword, Binary } kind = Key;
  std::string root;                // canonical short name: HKLM, HKCU, HKU, HKCR, HKCC
  std::string path;                // below the root
  std::string name;                // value name; "" is the default value
  std::vector<std::uint8_t> data;  // exact bytes (a string with its NUL)
};

struct ProfileEntry {
  std::string section, key, value;
};

struct FileEntry {
  bool isDirectory = false;
  std::string path;   // starts with $WINDIR, $SYSDIR or $PROGRAMS
  std::string bytes;  // a file's contents
};

struct Scenario {
  std::string name;
  std::string release = "win98";  // win95 or win98
  std::vector<RegistryEntry> registry;
  std::vector<ProfileEntry> profile;
  std::vector<FileEntry> files;
};

// Parses a scenario; on a bad line returns false and sets error to "FILE:LINE: what is wrong".
// readInclude gives the text of an included file by its path relative to the folder of the first
// file (false when it cannot be read); without it, an include line is an error.
using IncludeReader = std::function<bool(const std::string& name, std::string& text)>;
bool ParseScenario(std::string_view text, const std::string& fileName, Scenario& scenario, std::string& error,
                   const IncludeReader& readInclude = {});

// %XX decoding and encoding (every byte outside printable ASCII, and '%' and '|', is encoded).
bool DecodeBytes(std::string_view text, std::string& bytes);
std::string EncodeBytes(std::string_view bytes);

// "HKEY_LOCAL_MACHINE" or "HKLM" -> "HKLM"; "" when not a root name.
std::string RootShortName(std::string_view name);

// The whole of a file, byte for byte; false when it cannot be read.
bool ReadFileBytes(const std::string& path, std::string& bytes);

// Takes the next line off text and returns it without its line feed.
std::string_view NextLine(std::string_view& text);

// Reads and parses a scenario file; the scenario's name is the file's name without its folder
// and extension.
bool LoadScenarioFile(const std::string& path, Scenario& scenario, std::string& error);

// LoadScenarioFile for a command-line tool: what is wrong goes to standard error after the tool's
// name and ": " (none when tool is empty).
bool LoadScenarioOrSay(const char* tool, const std::string& path, Scenario& scenario);

// Replaces a leading $WINDIR, $SYSDIR or $PROGRAMS by the folder it stands for; a path that
// starts with none of them is returned as it is.
std::string ExpandPath(std::string_view path, const std::string& windowsDir, const std::string& systemDir,
                       const std::string& programsDir);

// Replaces every $SYSDIR and $WINDIR inside a file's contents by the folder's path.
std::string ExpandContents(std::string_view bytes, const std::string& windowsDir, const std::string& systemDir);

}  // namespace machines
