// Reading the scenario text: see scenario.h for the format.
#include "scenario.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace machines {
namespace {

constexpr std::string_view kSeparator = " | ";

std::vector<std::string_view> SplitFields(std::string_view rest) {
  std::vector<std::string_view> fields;
  for (;;) {
    std::size_t at = rest.find(kSeparator);
    if (at == std::string_view::npos) {
      fields.push_back(rest);
      return fields;
    }
    fields.push_back(rest.substr(0, at));
    rest.remove_prefix(at + kSeparator.size());
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) != std::toupper(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

// Splits "HKLM\Some\Path" into its root's short name and the path below it.
bool SplitKeyPath(std::string_view full, std::string& root, std::string& path) {
  std::size_t slash = full.find('\\');
  root = RootShortName(full.substr(0, slash));
  path = slash == std::string_view::npos ? "" : std::string(full.substr(slash + 1));
  return !root.empty() && !path.empty();
}

bool ParseDword(std::string_view text, std::uint32_t& value) {
  std::string digits(text);
  if (digits.empty()) return false;
  char* end = nullptr;
  unsigned long parsed = std::strtoul(digits.c_str(), &end, 0);
  if (*end != '\0' || parsed > 0xFFFFFFFFul) return false;
  value = static_cast<std::uint32_t>(parsed);
  return true;
}

bool ParseHexBytes(std::string_view text, std::vector<std::uint8_t>& bytes) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    if (i + 1 >= text.size() || HexDigit(text[i]) < 0 || HexDigit(text[i + 1]) < 0) return false;
    bytes.push_back(static_cast<std::uint8_t>(HexDigit(text[i]) * 16 + HexDigit(text[i + 1])));
    i += 2;
  }
  return true;
}

}  // namespace

bool DecodeBytes(std::string_view text, std::string& bytes) {
  bytes.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      bytes += text[i];
      continue;
    }
    if (i + 2 >= text.size() || HexDigit(text[i + 1]) < 0 || HexDigit(text[i + 2]) < 0) return false;
    bytes += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
    i += 2;
  }
  return true;
}

std::string EncodeBytes(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned char c : bytes) {
    if (c < 0x20 || c >= 0x7F || c == '%' || c == '|') {
      text += '%';
      text += kHex[c >> 4];
      text += kHex[c & 15];
    } else {
      text += static_cast<char>(c);
    }
  }
  // A blank at the end would be lost to an editor's trimming: make it visible.
  if (!text.empty() && text.back() == ' ') text.replace(text.size() - 1, 1, "%20");
  return text;
}

std::string RootShortName(std::string_view name) {
  static const struct {
    std::string_view longName, shortName;
  } kRoots[] = {
      {"HKEY_LOCAL_MACHINE", "HKLM"}, {"HKEY_CURRENT_USER", "HKCU"},   {"HKEY_USERS", "HKU"},
      {"HKEY_CLASSES_ROOT", "HKCR"},  {"HKEY_CURRENT_CONFIG", "HKCC"},
  };
  for (const auto& root : kRoots) {
    if (name.size() == root.longName.size() && StartsWithNoCase(name, root.longName))
      return std::string(root.shortName);
    if (name.size() == root.shortName.size() && StartsWithNoCase(name, root.shortName))
      return std::string(root.shortName);
  }
  return "";
}

std::string ExpandPath(std::string_view path, const std::string& windowsDir, const std::string& systemDir,
                       const std::string& programsDir) {
  static const std::string_view kSymbols[] = {"$WINDIR", "$SYSDIR", "$PROGRAMS"};
  const std::string* folders[] = {&windowsDir, &systemDir, &programsDir};
  for (int i = 0; i < 3; ++i) {
    std::string_view symbol = kSymbols[i];
    if (path.substr(0, symbol.size()) == symbol && (path.size() == symbol.size() || path[symbol.size()] == '\\'))
      return *folders[i] + std::string(path.substr(symbol.size()));
  }
  return std::string(path);
}

std::string ExpandContents(std::string_view bytes, const std::string& windowsDir, const std::string& systemDir) {
  std::string text(bytes);
  const std::pair<std::string_view, const std::string*> symbols[] = {{"$SYSDIR", &systemDir}, {"$WINDIR", &windowsDir}};
  for (const auto& [symbol, folder] : symbols) {
    for (std::size_t at = text.find(symbol); at != std::string::npos; at = text.find(symbol, at + folder->size()))
      text.replace(at, symbol.size(), *folder);
  }
  return text;
}

bool ReadFileBytes(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream read;
  read << in.rdbuf();
  bytes = read.str();
  return true;
}

std::string_view NextLine(std::string_view& text) {
  const std::size_t end = text.find('\n');
  const std::string_view line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  return line;
}

bool LoadScenarioFile(const std::string& path, Scenario& scenario, std::string& error) {
  std::string text;
  if (!ReadFileBytes(path, text)) {
    error = path + ": cannot be read";
    return false;
  }
  std::size_t slash = path.find_last_of("/\\");
  std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string name = path.substr(folder.size());
  scenario.name = name.substr(0, name.rfind('.'));
  int depth = 0;
  IncludeReader readInclude = [&](const std::string& included, std::string& includedText) {
    return ++depth < 8 && ReadFileBytes(folder + included, includedText);  // no include loops
  };
  return ParseScenario(text, name, scenario, error, readInclude);
}

bool LoadScenarioOrSay(const char* tool, const std::string& path, Scenario& scenario) {
  std::string error;
  if (LoadScenarioFile(path, scenario, error)) return true;
  std::fprintf(stderr, "%s%s%s\n", tool, *tool ? ": " : "", error.c_str());
  return false;
}

bool ParseScenario(std::string_view text, const std::string& fileName, Scenario& scenario, std::string& error,
                   const IncludeReader& readInclude) {
  int lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    std::string_view line = NextLine(text);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;

    auto fail = [&](const std::string& what) {
      error = fileName + ":" + std::to_string(lineNumber) + ": " + what;
      return false;
    };
    std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return fail("a directive needs an argument");
    std::string_view directive = line.substr(0, space);
    std::string_view rest = line.substr(space + 1);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);  // columns may be aligned
    std::vector<std::string_view> fields = SplitFields(rest);
    // "file PATH |" (its blank trimmed away with the line's end) is an empty last field.
    if (fields.back().size() >= 2 && fields.back().substr(fields.back().size() - 2) == " |") {
      fields.back().remove_suffix(2);
      fields.push_back({});
    }

    if (directive == "include") {
      std::string included;
      // A nested include names its file from the folder of the file that includes it.
      const std::size_t slash = fileName.find_last_of("/\\");
      const std::string name =
          (slash == std::string::npos ? "" : fileName.substr(0, slash + 1)) + std::string(fields[0]);
      if (!readInclude || !readInclude(name, included)) return fail("cannot include " + name);
      std::string releaseBefore = scenario.release;
      if (!ParseScenario(included, name, scenario, error, readInclude)) return false;
      scenario.release = releaseBefore;  // an included file never decides the release
    } else if (directive == "release") {
      if (fields.size() != 1 || (fields[0] != "win95" && fields[0] != "win98"))
        return fail("release is win95 or win98");
      scenario.release = std::string(fields[0]);
    } else if (directive == "key" || directive == "sz" || directive == "dword" || directive == "binary") {
      RegistryEntry entry;
      if (!SplitKeyPath(fields[0], entry.root, entry.path))
        return fail("not a key path under HKLM, HKCU, HKU, HKCR or HKCC: " + std::string(fields[0]));
      if (directive == "key") {
        if (fields.size() != 1) return fail("key takes a path only");
      } else {
        if (fields.size() != 3) return fail(std::string(directive) + " takes PATH | NAME | DATA");
        entry.name = fields[1] == "@" ? "" : std::string(fields[1]);
        if (directive == "sz") {
          entry.kind = RegistryEntry::String;
          std::string bytes;
          if (!DecodeBytes(fields[2], bytes)) return fail("bad %XX escape");
          entry.data.assign(bytes.begin(), bytes.end());
          entry.data.push_back(0);
        } else if (directive == "dword") {
          entry.kind = RegistryEntry::Dword;
          std::uint32_t value = 0;
          if (!ParseDword(fields[2], value)) return fail("bad number: " + std::string(fields[2]));
          for (int i = 0; i < 4; ++i) entry.data.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        } else {
          entry.kind = RegistryEntry::Binary;
          if (!ParseHexBytes(fields[2], entry.data)) return fail("bad hex bytes");
        }
      }
      scenario.registry.push_back(std::move(entry));
    } else if (directive == "profile") {
      if (fields.size() != 3 || fields[0].empty() || fields[1].empty())
        return fail("profile takes SECTION | KEY | VALUE");
      ProfileEntry entry{std::string(fields[0]), std::string(fields[1]), ""};
      if (!DecodeBytes(fields[2], entry.value)) return fail("bad %XX escape");
      scenario.profile.push_back(std::move(entry));
    } else if (directive == "dir" || directive == "file") {
      FileEntry entry;
      entry.isDirectory = directive == "dir";
      entry.path = std::string(fields[0]);
      if (entry.path.rfind("$WINDIR", 0) != 0 && entry.path.rfind("$SYSDIR", 0) != 0 &&
          entry.path.rfind("$PROGRAMS", 0) != 0)
        return fail("a path starts with $WINDIR, $SYSDIR or $PROGRAMS: " + entry.path);
      if (entry.isDirectory ? fields.size() != 1 : fields.size() != 2)
        return fail(entry.isDirectory ? "dir takes a path only" : "file takes PATH | BYTES");
      if (!entry.isDirectory && !DecodeBytes(fields[1], entry.bytes)) return fail("bad %XX escape");
      scenario.files.push_back(std::move(entry));
    } else {
      return fail("unknown directive: " + std::string(directive));
    }
  }
  return true;
}

}  // namespace machines
