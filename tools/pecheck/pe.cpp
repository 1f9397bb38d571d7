// PE layout: the MZ header points at the "PE\0\0" signature, which the COFF header follows, then
// the optional header (PE32 or PE32+) with its data directories, then the section table. The
// import directory is a list of 20-byte descriptors ended by an empty one; each names a DLL and
// its list of thunks, each thunk an ordinal (top bit set) or the address of a hint and a name.
#include "pe.h"

#include <algorithm>
#include <sstream>

#include "sim/text.h"

namespace pecheck {
namespace {

// Bounds that keep a damaged file from making the reader loop for ever.
constexpr std::size_t MAX_DLLS = 1024;
constexpr std::size_t MAX_FUNCTIONS_PER_DLL = 65536;
constexpr std::size_t MAX_NAME_LENGTH = 4096;

struct Section {
  std::uint32_t virtualAddress;
  std::uint32_t virtualSize;
  std::uint32_t rawSize;
  std::uint32_t rawOffset;
};

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  bool Has(std::uint64_t offset, std::uint64_t size) const
  {
    return offset <= bytes_.size() && size <= bytes_.size() - offset;
  }
  std::uint64_t U(std::uint64_t offset, int size) const
  {
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
      value = value << 8 | bytes_[offset + i];
    }
    return value;
  }
  std::uint16_t U16(std::uint64_t offset) const { return static_cast<std::uint16_t>(U(offset, 2)); }
  std::uint32_t U32(std::uint64_t offset) const { return static_cast<std::uint32_t>(U(offset, 4)); }

  // A NUL-ended string at offset; nothing if it runs off the file or is too long.
  std::optional<std::string> String(std::uint64_t offset) const
  {
    std::string text;
    for (std::uint64_t at = offset; at < bytes_.size() && text.size() < MAX_NAME_LENGTH; ++at) {
      if (bytes_[at] == 0) {
        return text;
      }
      text.push_back(static_cast<char>(bytes_[at]));
    }
    return std::nullopt;
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

std::optional<std::uint64_t> FileOffset(const std::vector<Section>& sections, std::uint32_t rva)
{
  for (const Section& s : sections) {
    std::uint32_t extent = std::max(s.virtualSize, s.rawSize);
    if (rva >= s.virtualAddress && rva - s.virtualAddress < extent) {
      std::uint32_t delta = rva - s.virtualAddress;
      if (delta >= s.rawSize) {
        return std::nullopt;  // in the section's zero-filled tail: not in the file
      }
      return std::uint64_t{s.rawOffset} + delta;
    }
  }
  return std::nullopt;
}

// A DLL name as the allowed list writes it: upper case, without ".DLL" ("msvcrt.dll" is MSVCRT).
std::string DllKey(std::string_view name)
{
  std::string key = sim::UpperAscii(name);
  if (key.size() > 4 && key.ends_with(".DLL")) {
    key.resize(key.size() - 4);
  }
  return key;
}

std::string Trim(std::string_view text)
{
  std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) {
    return {};
  }
  std::size_t last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

std::string VersionText(Version v)
{
  return std::to_string(v.major) + "." + std::to_string(v.minor);
}

bool Fail(std::string* error, std::string message)
{
  if (error != nullptr) {
    *error = std::move(message);
  }
  return false;
}

bool ReadImports(const Reader& in, const std::vector<Section>& sections, std::uint32_t directoryRva,
                 bool pe32Plus, PeImage& image, std::string* error)
{
  const int thunkSize = pe32Plus ? 8 : 4;
  const std::uint64_t ordinalFlag = pe32Plus ? 0x8000000000000000ull : 0x80000000ull;
  auto descriptorAt = FileOffset(sections, directoryRva);
  if (!descriptorAt) {
    return Fail(error, "the import directory lies outside the file's sections");
  }
  for (std::size_t index = 0;; ++index) {
    std::uint64_t at = *descriptorAt + index * 20;
    if (index >= MAX_DLLS) {
      return Fail(error, "the import directory has no end");
    }
    if (!in.Has(at, 20)) {
      return Fail(error, "the import directory runs off the end of the file");
    }
    std::uint32_t lookupRva = in.U32(at);
    std::uint32_t nameRva = in.U32(at + 12);
    std::uint32_t addressRva = in.U32(at + 16);
    if (nameRva == 0 && addressRva == 0) {
      return true;  // the empty descriptor that ends the list
    }
    auto nameAt = FileOffset(sections, nameRva);
    std::optional<std::string> name = nameAt ? in.String(*nameAt) : std::nullopt;
    if (!name) {
      return Fail(error,
                  "import descriptor " + std::to_string(index) + " has an unreadable DLL name");
    }
    ImportedDll dll{*name, {}};
    // Some linkers leave the lookup table out; the address table holds the same thunks on disk.
    auto thunksAt = FileOffset(sections, lookupRva != 0 ? lookupRva : addressRva);
    if (!thunksAt) {
      return Fail(error, dll.name + ": the thunk table lies outside the file's sections");
    }
    for (std::size_t n = 0;; ++n) {
      std::uint64_t thunkAt = *thunksAt + n * thunkSize;
      if (n >= MAX_FUNCTIONS_PER_DLL || !in.Has(thunkAt, thunkSize)) {
        return Fail(error, dll.name + ": the thunk table has no end");
      }
      std::uint64_t thunk = in.U(thunkAt, thunkSize);
      if (thunk == 0) {
        break;
      }
      if (thunk & ordinalFlag) {
        dll.functions.push_back("#" + std::to_string(thunk & 0xFFFF));
        continue;
      }
      auto hintAt = thunk <= 0xFFFFFFFFu ? FileOffset(sections, static_cast<std::uint32_t>(thunk))
                                         : std::nullopt;
      std::optional<std::string> function = hintAt ? in.String(*hintAt + 2) : std::nullopt;
      if (!function) {
        return Fail(error,
                    dll.name + ": function " + std::to_string(n) + " has an unreadable name");
      }
      dll.functions.push_back(*function);
    }
    image.imports.push_back(std::move(dll));
  }
}

}  // namespace

std::optional<PeImage> ReadPe(std::span<const std::uint8_t> bytes, std::string* error)
{
  Reader in(bytes);
  PeImage image;
  image.fileSize = bytes.size();
  if (!in.Has(0, 0x40) || in.U16(0) != 0x5A4D) {
    Fail(error, "not an MZ executable");
    return std::nullopt;
  }
  std::uint64_t pe = in.U32(0x3C);
  if (!in.Has(pe, 24) || in.U32(pe) != 0x00004550) {
    Fail(error, "no PE signature where the MZ header points");
    return std::nullopt;
  }
  std::uint64_t coff = pe + 4;
  image.machine = in.U16(coff);
  std::uint16_t sectionCount = in.U16(coff + 2);
  std::uint16_t optionalSize = in.U16(coff + 16);
  std::uint64_t opt = coff + 20;
  if (!in.Has(opt, optionalSize) || optionalSize < 2) {
    Fail(error, "the optional header runs off the end of the file");
    return std::nullopt;
  }
  std::uint16_t magic = in.U16(opt);
  if (magic != 0x10B && magic != 0x20B) {
    Fail(error, "unknown optional header magic");
    return std::nullopt;
  }
  image.pe32Plus = magic == 0x20B;
  const std::uint64_t directoryCountAt = image.pe32Plus ? 108 : 92;
  if (optionalSize < directoryCountAt + 4) {
    Fail(error, "the optional header is too short");
    return std::nullopt;
  }
  image.osVersion = {in.U16(opt + 40), in.U16(opt + 42)};
  image.subsystemVersion = {in.U16(opt + 48), in.U16(opt + 50)};
  image.subsystem = in.U16(opt + 68);
  std::uint32_t directoryCount = in.U32(opt + directoryCountAt);
  std::uint64_t directories = opt + directoryCountAt + 4;

  std::vector<Section> sections;
  std::uint64_t table = opt + optionalSize;
  if (!in.Has(table, std::uint64_t{sectionCount} * 40)) {
    Fail(error, "the section table runs off the end of the file");
    return std::nullopt;
  }
  for (std::uint16_t i = 0; i < sectionCount; ++i) {
    std::uint64_t s = table + i * 40;
    sections.push_back({in.U32(s + 12), in.U32(s + 8), in.U32(s + 16), in.U32(s + 20)});
  }

  // Data directory 1 is the import table; an image without it imports nothing.
  if (directoryCount > 1 && directories + 16 <= opt + optionalSize) {
    std::uint32_t importRva = in.U32(directories + 8);
    if (importRva != 0 && !ReadImports(in, sections, importRva, image.pe32Plus, image, error)) {
      return std::nullopt;
    }
  }
  return image;
}

std::optional<AllowedImports> ParseAllowedImports(std::string_view text, std::string* error)
{
  AllowedImports allowed;
  int lineNumber = 0;
  std::istringstream lines{std::string(text)};
  for (std::string line; std::getline(lines, line);) {
    ++lineNumber;
    std::string entry = Trim(std::string_view(line).substr(0, line.find('#')));
    if (entry.empty()) {
      continue;
    }
    std::size_t bang = entry.find('!');
    if (bang == 0 || bang == std::string::npos || bang + 1 == entry.size() ||
        entry.find_first_of(" \t!", bang + 1) != std::string::npos) {
      Fail(error, "line " + std::to_string(lineNumber) + ": not DLL!Function: " + entry);
      return std::nullopt;
    }
    std::string dll = DllKey(entry.substr(0, bang));
    allowed.dlls.insert(dll);
    allowed.entries.insert(dll + "!" + entry.substr(bang + 1));
  }
  return allowed;
}

std::vector<std::string> Check(const PeImage& image, const Expectations& expected)
{
  std::vector<std::string> problems;
  if (expected.machine && image.machine != *expected.machine) {
    problems.push_back("machine is " + MachineName(image.machine) + ", expected " +
                       MachineName(*expected.machine));
  }
  if (expected.subsystem && image.subsystem != *expected.subsystem) {
    problems.push_back("subsystem is " + SubsystemName(image.subsystem) + ", expected " +
                       SubsystemName(*expected.subsystem));
  }
  if (expected.subsystemVersion && image.subsystemVersion != *expected.subsystemVersion) {
    problems.push_back("subsystem version is " + VersionText(image.subsystemVersion) +
                       ", expected " + VersionText(*expected.subsystemVersion));
  }
  if (expected.osVersion && image.osVersion != *expected.osVersion) {
    problems.push_back("OS version is " + VersionText(image.osVersion) + ", expected " +
                       VersionText(*expected.osVersion));
  }
  if (expected.allowed) {
    for (const ImportedDll& dll : image.imports) {
      std::string key = DllKey(dll.name);
      if (!expected.allowed->dlls.contains(key)) {
        problems.push_back("imports from " + dll.name + ", which is not an allowed DLL");
        continue;
      }
      for (const std::string& function : dll.functions) {
        if (!expected.allowed->entries.contains(key + "!" + function)) {
          problems.push_back("imports " + dll.name + "!" + function +
                             ", which is not on the allowed list");
        }
      }
    }
  }
  if (expected.maxFileSize && image.fileSize > *expected.maxFileSize) {
    problems.push_back("file is " + std::to_string(image.fileSize) + " bytes, more than " +
                       std::to_string(*expected.maxFileSize));
  }
  return problems;
}

std::string MachineName(std::uint16_t machine)
{
  switch (machine) {
    case MACHINE_I386: return "i386";
    case MACHINE_AMD64: return "amd64";
    default: {
      std::ostringstream text;
      text << "0x" << std::hex << machine;
      return text.str();
    }
  }
}

std::string SubsystemName(std::uint16_t subsystem)
{
  switch (subsystem) {
    case SUBSYSTEM_GUI: return "gui";
    case SUBSYSTEM_CONSOLE: return "console";
    default: return std::to_string(subsystem);
  }
}

std::string Describe(const PeImage& image)
{
  std::ostringstream text;
  text << "machine: " << MachineName(image.machine) << (image.pe32Plus ? " (PE32+)" : " (PE32)")
       << "\nsubsystem: " << SubsystemName(image.subsystem) << " "
       << VersionText(image.subsystemVersion) << "\nOS version: " << VersionText(image.osVersion)
       << "\nfile size: " << image.fileSize << " bytes\n";
  for (const ImportedDll& dll : image.imports) {
    text << "imports " << dll.name << ":";
    for (const std::string& function : dll.functions) {
      text << " " << function;
    }
    text << "\n";
  }
  return text.str();
}

}  // namespace pecheck
