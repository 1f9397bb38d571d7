// Reading the header fields and the import table of a PE (Windows executable) file, and checking
// them against what Windows 95 and 98 can load.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pecheck {

constexpr std::uint16_t MACHINE_I386 = 0x014C;
constexpr std::uint16_t MACHINE_AMD64 = 0x8664;
constexpr std::uint16_t SUBSYSTEM_GUI = 2;
constexpr std::uint16_t SUBSYSTEM_CONSOLE = 3;

struct Version {
  std::uint16_t major = 0;
  std::uint16_t minor = 0;
  auto operator<=>(const Version&) const = default;
};

struct ImportedDll {
  std::string name;
  // Function names; a function imported by ordinal is written "#" and its number.
  std::vector<std::string> functions;
};

struct PeImage {
  std::uint16_t machine = 0;
  bool pe32Plus = false;
  std::uint16_t subsystem = 0;
  Version subsystemVersion;
  Version osVersion;
  std::vector<ImportedDll> imports;
  std::uint64_t fileSize = 0;
};

// Parses a whole file's bytes. On failure returns nothing and says why in *error.
std::optional<PeImage> ReadPe(std::span<const std::uint8_t> bytes, std::string* error);

// The allowed imports: one "DLL!Function" a line; a '#' starts a comment (the entry's source),
// blank lines are skipped. DLL names compare without letter case and without ".DLL", function
// names exactly.
struct AllowedImports {
  std::set<std::string> entries;  // "DLL!Function", the DLL name in upper case without ".DLL"
  std::set<std::string> dlls;     // the same DLL names
};
std::optional<AllowedImports> ParseAllowedImports(std::string_view text, std::string* error);

struct Expectations {
  std::optional<std::uint16_t> machine;
  std::optional<std::uint16_t> subsystem;
  std::optional<Version> subsystemVersion;
  std::optional<Version> osVersion;
  std::optional<AllowedImports> allowed;
  std::optional<std::uint64_t> maxFileSize;
};

// Every way in which the image differs from the expectations, one sentence each; empty if none.
std::vector<std::string> Check(const PeImage& image, const Expectations& expected);

// The image as text: one field a line, then each DLL and its functions.
std::string Describe(const PeImage& image);

std::string MachineName(std::uint16_t machine);
std::string SubsystemName(std::uint16_t subsystem);

}  // namespace pecheck
