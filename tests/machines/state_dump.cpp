// Writing, reading and comparing state dumps: see state_dump.h for the format.
#include "state_dump.h"

#include <cstdio>

#include "product_table.h"

namespace machines {
namespace {

constexpr std::string_view kArrow = " => ";

// The product's folders and files, wininit.ini and what a next start leaves of it (wininit.bak,
// and the file "NULL" that a "NULL=" line would leave in the Windows directory).
const Watch::Search kProductSearches[] = {
    {"$SYSDIR", "KB47*"},        {"$WINDIR\\INF", "oem*.inf"},        {"$WINDIR\\INF\\OTHER", "*"},
    {"$PROGRAMS", "ZANTEROVA*"}, {"$PROGRAMS\\ZANTEROVA RK514", "*"}, {"$WINDIR", "wininit.*"},
    {"$WINDIR", "NULL"},
};

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

void DumpKey(MachineView& machine, const std::string& root, const std::string& path, const std::string& shownAs,
             StateDump& dump, int depth) {
  dump.Set("key " + shownAs);
  for (const auto& [name, data] : machine.Values(root, path))
    dump.Set("value " + shownAs + " | " + (name.empty() ? "@" : name), ValueText(data.type, data.bytes));
  if (depth > 32) return;  // no real key is this deep; a loop in a view must not hang the probe
  for (const std::string& subkey : machine.Subkeys(root, path))
    DumpKey(machine, root, path + "\\" + subkey, shownAs + "\\" + subkey, dump, depth + 1);
}

}  // namespace

std::string StateDump::Text() const {
  std::string text;
  for (const auto& [field, value] : fields) {
    text += field;
    if (!value.empty()) {
      text += kArrow;
      text += value;
    }
    text += '\n';
  }
  return text;
}

bool ParseDump(std::string_view text, const std::string& fileName, StateDump& dump, std::string& error) {
  int lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    std::string_view line = NextLine(text);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    std::size_t arrow = line.find(kArrow);
    std::string field(line.substr(0, arrow));
    std::string value = arrow == std::string_view::npos ? "" : std::string(line.substr(arrow + kArrow.size()));
    if (dump.fields.count(field)) {
      error = fileName + ":" + std::to_string(lineNumber) + ": field given twice: " + field;
      return false;
    }
    dump.fields[field] = value;
  }
  return true;
}

// Every key the uninstaller deletes, by the root it names it under, and the two lists of
// numbered instance keys that it walks; [Devices], [PrinterPorts] and the local-port sections.
Watch WatchFor(const Scenario& scenario) {
  Watch watch;
  for (const product::FixedKey& key : product::kFixedKeys) watch.keys.push_back({RootShortName(key.root), key.path});
  for (const product::InstanceList& list : product::kInstanceLists) watch.keys.push_back({"HKLM", list.base});
  for (const RegistryEntry& entry : scenario.registry) watch.keys.push_back({entry.root, entry.path});
  watch.sections = {"Devices", "PrinterPorts"};
  for (const char* port : product::kLocalPortSuffixes)
    watch.sections.push_back(std::string(product::kPrinterName) + port);
  for (const ProfileEntry& entry : scenario.profile) watch.sections.push_back(entry.section);
  watch.searches.assign(std::begin(kProductSearches), std::end(kProductSearches));
  for (const FileEntry& entry : scenario.files) {
    std::size_t slash = entry.path.rfind('\\');
    if (slash != std::string::npos)
      watch.searches.push_back({entry.path.substr(0, slash), entry.path.substr(slash + 1)});
  }
  return watch;
}

std::string ValueText(std::uint32_t type, std::string_view bytes) {
  if (type == 1 && !bytes.empty() && bytes.back() == '\0' && bytes.find('\0') == bytes.size() - 1)
    return "sz:" + EncodeBytes(bytes.substr(0, bytes.size() - 1));
  if (type == 4 && bytes.size() == 4) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[i]);
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
    return std::string("dword:") + text;
  }
  std::string text = "hex(" + std::to_string(type) + "):";
  char hex[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(hex, sizeof hex, i ? " %02x" : "%02x", static_cast<unsigned char>(bytes[i]));
    text += hex;
  }
  return text;
}

StateDump DumpState(MachineView& machine, const Watch& watch) {
  StateDump dump;
  dump.Set("build", std::to_string(machine.Build()));
  for (const Watch::Key& key : watch.keys) {
    if (machine.KeyExists(key.root, key.path))
      DumpKey(machine, key.root, key.path, key.root + "\\" + key.path, dump, 0);
  }
  for (const std::string& section : watch.sections) {
    for (const std::string& key : machine.ProfileKeys(section)) {
      if (std::optional<std::string> value = machine.ProfileValue(section, key))
        dump.Set("profile " + section + " | " + key, EncodeBytes(*value));
    }
  }
  const std::string windowsDir = machine.WindowsDirectory();
  const std::string systemDir = machine.SystemDirectory();
  const std::string programsDir = machine.ProgramsDirectory();
  for (const Watch::Search& search : watch.searches) {
    if (search.folder.rfind("$PROGRAMS", 0) == 0 && programsDir.empty()) continue;
    const std::string folder = ExpandPath(search.folder, windowsDir, systemDir, programsDir);
    for (const MachineView::Entry& entry : machine.Find(folder, search.pattern)) {
      if (entry.name == "." || entry.name == "..") continue;
      const std::string shownAs = search.folder + "\\" + entry.name;
      if (entry.isDirectory) {
        dump.Set("dir " + shownAs);
      } else if (std::optional<std::string> bytes = machine.ReadFile(folder + "\\" + entry.name)) {
        std::string contents = ReplaceAll(*bytes, systemDir, "$SYSDIR");
        dump.Set("file " + shownAs, EncodeBytes(ReplaceAll(contents, windowsDir, "$WINDIR")));
      } else {
        dump.Set("file " + shownAs, "(unreadable)");
      }
    }
  }
  return dump;
}

namespace {

// Where Wine and Windows 98 genuinely differ in what the dump shows: pairs of names that are one
// key on Windows 98 and two keys under Wine. A key written under one name shows under both on
// Windows 98, so a dump taken under Wine gets, for each field under one name, the same field
// under the other. (Not a row: Wine keeps win.ini's [Devices] and [PrinterPorts] in the registry
// rather than in the file; both dumps read the profile through GetProfileStringA, so no field
// shows it.)
struct OneKeyOnWindows98 {
  const char* first;
  const char* second;
};
const OneKeyOnWindows98 kOneKeyOnWindows98[] = {
    // Windows 98 without user profiles: HKEY_CURRENT_USER is HKEY_USERS\.DEFAULT. Wine's is the
    // user's own hive, HKEY_USERS\S-1-5-21-...
    {"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs\\ZANTEROVA RK514",
     "HKU\\.DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs\\ZANTEROVA RK514"},
    // Windows 98: HKEY_CURRENT_CONFIG is HKLM\Config\0001, the one hardware configuration.
    // Wine's is HKLM\System\CurrentControlSet\Hardware Profiles\Current, and volatile.
    {"HKCC\\System\\CurrentControlSet\\control\\Print\\Printers\\ZANTEROVA Karsenby RK514",
     "HKLM\\Config\\0001\\System\\CurrentControlSet\\control\\Print\\Printers\\ZANTEROVA Karsenby RK514"},
};

// "key P" and "value P | N": the kind and the key path; false for any other field.
bool SplitKeyField(const std::string& field, std::string& kind, std::string& path, std::string& rest) {
  std::size_t space = field.find(' ');
  if (space == std::string::npos) return false;
  kind = field.substr(0, space);
  if (kind != "key" && kind != "value") return false;
  std::size_t bar = field.find(" | ", space + 1);
  path = field.substr(space + 1, bar == std::string::npos ? std::string::npos : bar - space - 1);
  rest = bar == std::string::npos ? "" : field.substr(bar);
  return true;
}

bool IsAtOrBelow(const std::string& path, const std::string& top) {
  return path == top || (path.size() > top.size() && path.compare(0, top.size(), top) == 0 && path[top.size()] == '\\');
}

}  // namespace

StateDump AsWindows98Would(const StateDump& wineDump) {
  StateDump dump = wineDump;
  for (const OneKeyOnWindows98& pair : kOneKeyOnWindows98) {
    const std::string names[2] = {pair.first, pair.second};
    for (int from = 0; from < 2; ++from) {
      const std::string& source = names[from];
      const std::string& target = names[1 - from];
      for (const auto& [field, value] : wineDump.fields) {
        std::string kind, path, rest;
        if (!SplitKeyField(field, kind, path, rest) || !IsAtOrBelow(path, source)) continue;
        const std::string mirrored = kind + " " + target + path.substr(source.size()) + rest;
        dump.fields.emplace(mirrored, value);
      }
    }
  }
  return dump;
}

bool ReadExpected(std::string_view text, const std::string& fileName, const BaseResolver& resolveBase,
                  StateDump& expected, std::string& error) {
  int lineNumber = 0;
  bool first = true;
  std::string whole;
  while (!text.empty()) {
    ++lineNumber;
    std::string line(NextLine(text));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty() || line.front() == '#') continue;
    auto fail = [&](const std::string& what) {
      error = fileName + ":" + std::to_string(lineNumber) + ": " + what;
      return false;
    };
    const bool isFirst = first;
    first = false;
    if (isFirst && line.rfind("from ", 0) == 0) {
      if (!resolveBase(line.substr(5), expected, error)) return fail(error);
      whole.clear();
      continue;
    }
    if (line.rfind("- ", 0) == 0) {
      const std::string gone = line.substr(2);
      std::string kind, path, rest;
      std::size_t removed = 0;
      const bool isKey = SplitKeyField(gone, kind, path, rest) && kind == "key";
      const bool isDir = gone.rfind("dir ", 0) == 0;
      for (auto it = expected.fields.begin(); it != expected.fields.end();) {
        bool match = it->first == gone;
        std::string itKind, itPath, itRest;
        if (isKey && SplitKeyField(it->first, itKind, itPath, itRest)) match = IsAtOrBelow(itPath, path);
        if (isDir && (it->first.rfind("dir ", 0) == 0 || it->first.rfind("file ", 0) == 0)) {
          std::size_t space = it->first.find(' ');
          match = IsAtOrBelow(it->first.substr(space + 1), gone.substr(4));
        }
        if (match) {
          it = expected.fields.erase(it);
          ++removed;
        } else {
          ++it;
        }
      }
      if (removed == 0) return fail("removes nothing: " + gone);
      continue;
    }
    if (line.rfind("+ ", 0) == 0) line = line.substr(2);
    std::size_t arrow = line.find(kArrow);
    expected.Set(line.substr(0, arrow), arrow == std::string::npos ? "" : line.substr(arrow + kArrow.size()));
  }
  return true;
}

std::vector<std::string> CompareDumps(const StateDump& expected, const StateDump& actual) {
  std::vector<std::string> messages;
  auto shown = [](const std::string& field, const std::string& value) {
    return value.empty() ? field : field + std::string(kArrow) + value;
  };
  for (const auto& [field, value] : expected.fields) {
    auto found = actual.fields.find(field);
    if (found == actual.fields.end()) messages.push_back("missing: " + shown(field, value));
    else if (found->second != value) messages.push_back(field + ": expected " + value + ", got " + found->second);
  }
  for (const auto& [field, value] : actual.fields) {
    if (!expected.fields.count(field)) messages.push_back("unexpected: " + shown(field, value));
  }
  return messages;
}

}  // namespace machines
