// The removal's invariant over two machine states: what may be gone, what may grow, and a report
// of everything else that differs.
#include "invariant.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "product_table.h"
#include "sim/errors.h"
#include "sim/profile.h"
#include "sim/text.h"
#include "simulated_machine.h"
#include "win32.h"

namespace safety {
namespace {

constexpr std::size_t kBufferSize = 260;  // the program's path buffers: 259 characters and a NUL

bool Fits(std::string_view path) { return path.size() < kBufferSize; }

// Bytes as a short readable text for a report.
std::string Shown(std::string_view bytes, std::size_t limit = 120) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x20 && c < 0x7F && c != '%') {
      text += static_cast<char>(c);
    } else {
      static const char digits[] = "0123456789ABCDEF";
      text += '%';
      text += digits[c >> 4];
      text += digits[c & 15];
    }
  }
  if (bytes.size() > limit) text += "... (" + std::to_string(bytes.size()) + " bytes)";
  return text;
}

// ---- Registry.

void CompareValues(const std::string& path, const sim::RegKey& before, const sim::RegKey& after,
                   std::vector<std::string>& report) {
  if (before.name != after.name) report.push_back("registry: key renamed: " + path + " is now " + after.name);
  for (const auto& [name, value] : before.values) {
    const auto found = after.values.find(name);
    if (found == after.values.end()) {
      report.push_back("registry: value gone: " + path + " | " + name);
    } else if (found->first != name || found->second != value) {
      report.push_back("registry: value changed: " + path + " | " + name);
    }
  }
  for (const auto& [name, value] : after.values) {
    if (before.values.count(name) == 0) report.push_back("registry: value added: " + path + " | " + name);
  }
}

void CompareKeys(const std::string& path, const sim::RegKey& before, const sim::RegKey& after,
                 const std::set<std::string>& removable, std::vector<std::string>& report) {
  CompareValues(path, before, after, report);
  for (const auto& [name, child] : before.subkeys) {
    const std::string childPath = path + "\\" + child.name;
    const auto found = after.subkeys.find(name);
    if (found == after.subkeys.end()) {
      // A removable key goes with everything beneath it; any other key must stay.
      if (removable.count(sim::UpperAscii(childPath)) == 0) report.push_back("registry: key gone: " + childPath);
      continue;
    }
    CompareKeys(childPath, child, found->second, removable, report);
  }
  for (const auto& [name, child] : after.subkeys) {
    if (before.subkeys.count(name) == 0) report.push_back("registry: key added: " + path + "\\" + child.name);
  }
}

std::set<std::string> RemovableKeys(const sim::Machine& before) {
  std::set<std::string> removable;
  const bool laterRelease = product::LaterRelease(before.buildNumber);
  for (const product::FixedKey& key : product::kFixedKeys) {
    if (key.laterReleaseOnly && !laterRelease) continue;
    removable.insert(sim::UpperAscii(before.registry.Resolve(std::string(key.root) + "\\" + key.path)));
  }
  for (const product::InstanceList& list : product::kInstanceLists) {
    const std::string basePath = std::string("HKEY_LOCAL_MACHINE\\") + list.base;
    const sim::RegKey* base = before.registry.Find(basePath);
    if (base == nullptr) continue;
    for (const auto& [name, child] : base->subkeys) {
      if (WalkNumber(child.name) < 0) continue;
      const auto value = child.values.find(list.valueName);
      if (value != child.values.end() && ReadsAsPrinterName(value->second)) {
        removable.insert(sim::UpperAscii(before.registry.Resolve(basePath) + "\\" + child.name));
      }
    }
  }
  return removable;
}

void CheckRegistry(const sim::Machine& before, const sim::Machine& after, std::vector<std::string>& report) {
  if (before.registry.CurrentConfig() != after.registry.CurrentConfig() ||
      before.registry.CurrentUser() != after.registry.CurrentUser()) {
    report.push_back("registry: the current configuration or user changed");
  }
  const std::set<std::string> removable = RemovableKeys(before);
  CompareKeys("HKEY_LOCAL_MACHINE", before.registry.LocalMachine(), after.registry.LocalMachine(), removable, report);
  CompareKeys("HKEY_USERS", before.registry.Users(), after.registry.Users(), removable, report);
}

// ---- win.ini, line by line.

bool IsProfileBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0x1A;
}

std::string_view TrimProfile(std::string_view text) {
  while (!text.empty() && IsProfileBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsProfileBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::vector<std::string> RawLines(std::string_view bytes) {
  const std::vector<std::string_view> lines = sim::SplitLinesKeepingEnds(bytes);
  return {lines.begin(), lines.end()};
}

// Which lines of win.ini the profile stage may remove: every line of an allowed port section
// (its header too), the printer's key lines in [Devices] and [PrinterPorts], and the [windows]
// device= lines when the default printer is the printer.
std::vector<bool> RemovableLines(const std::vector<std::string>& lines, const std::vector<std::string>& portSections,
                                 bool defaultPrinter) {
  std::vector<bool> removable(lines.size(), false);
  std::optional<std::string> section;  // none before the first header
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view text = TrimProfile(lines[i]);
    bool entry = false;
    std::string_view key;
    if (!text.empty() && text.front() == '[' && text.rfind(']') != std::string_view::npos) {
      section = std::string(text.substr(1, text.rfind(']') - 1));
    } else if (!text.empty()) {
      entry = true;
      key = TrimProfile(text.substr(0, text.find('=')));
    }
    if (!section || section->empty()) continue;
    for (const std::string& port : portSections) {
      if (sim::EqualNoCase(*section, port)) removable[i] = true;
    }
    if (entry && sim::EqualNoCase(key, kPrinterName) &&
        (sim::EqualNoCase(*section, "Devices") || sim::EqualNoCase(*section, "PrinterPorts"))) {
      removable[i] = true;
    }
    if (entry && defaultPrinter && sim::EqualNoCase(key, "device") && sim::EqualNoCase(*section, "windows")) {
      removable[i] = true;
    }
  }
  return removable;
}

// Whether after is before with some of its removable lines taken out, every other line kept in
// its place. Identical lines can stand both inside and outside a removable section, so each
// line's fate is searched for, over the number of lines removed so far.
bool OnlyRemovableLinesGone(const std::vector<std::string>& before, const std::vector<bool>& removable,
                            const std::vector<std::string>& after) {
  if (after.size() > before.size()) return false;
  const std::size_t gone = before.size() - after.size();
  std::vector<char> reach(gone + 1, 0), next(gone + 1, 0);
  reach[0] = 1;  // reach[k]: the lines so far, with k of them removed, give after's first lines
  for (std::size_t i = 0; i < before.size(); ++i) {
    std::fill(next.begin(), next.end(), 0);
    for (std::size_t k = 0; k <= std::min(i, gone); ++k) {
      if (!reach[k]) continue;
      const std::size_t j = i - k;
      if (j < after.size() && before[i] == after[j]) next[k] = 1;
      if (removable[i] && k < gone) next[k + 1] = 1;
    }
    reach.swap(next);
  }
  return reach[gone] != 0;
}

void CheckWinIni(const std::string& beforeBytes, const std::string& afterBytes, const std::vector<std::string>& ports,
                 bool defaultPrinter, std::vector<std::string>& report) {
  if (beforeBytes == afterBytes) return;
  const std::vector<std::string> before = RawLines(beforeBytes);
  const std::vector<std::string> after = RawLines(afterBytes);
  if (OnlyRemovableLinesGone(before, RemovableLines(before, ports, defaultPrinter), after)) return;
  std::size_t same = 0;
  while (same < before.size() && same < after.size() && before[same] == after[same]) ++same;
  report.push_back("win.ini: changed beyond the printer's entries, from line " + std::to_string(same + 1) +
                   ": before \"" + Shown(same < before.size() ? before[same] : "") + "\", after \"" +
                   Shown(same < after.size() ? after[same] : "") + "\"");
}

// ---- wininit.ini.

// Whether gained, appended to base, is nothing but the lines a removal writes.
bool GainsOnlyEntries(std::string_view base, std::string_view gained, const std::string& systemDirectory, bool unread) {
  std::size_t at = 0;
  if ((unread || (!base.empty() && base.back() != '\n')) && gained.substr(0, 2) == "\r\n") at = 2;
  if (gained.substr(at, 10) == "[rename]\r\n") at += 10;
  std::size_t next = 0;  // the deferred file that may come next
  while (at < gained.size()) {
    bool matched = false;
    while (!matched && next < std::size(product::kDeferredFiles)) {
      const std::string text = "NUL=" + systemDirectory + "\\" + product::kDeferredFiles[next++];
      if (Fits(text) && gained.substr(at, text.size() + 2) == text + "\r\n") {
        at += text.size() + 2;
        matched = true;
      }
    }
    if (!matched) return false;
  }
  return true;
}

void CheckWininit(const std::string& path, const std::optional<std::string>& beforeBytes, const std::string& afterBytes,
                  const std::string& systemDirectory, bool unread, std::vector<std::string>& report) {
  std::vector<std::string> bases;
  if (beforeBytes) {
    bases.push_back(*beforeBytes);
    if (!beforeBytes->empty() && beforeBytes->back() == 0x1A)
      bases.push_back(beforeBytes->substr(0, beforeBytes->size() - 1));
  } else {
    bases.emplace_back();
  }
  for (const std::string& base : bases) {
    // A 0x1A left in the file ends a text-mode read before the file's end: the program has not
    // seen how the file ends.
    const bool unseenEnd = unread || base.find('\x1A') != std::string::npos;
    if (afterBytes.compare(0, base.size(), base) == 0 && afterBytes.size() >= base.size() &&
        GainsOnlyEntries(base, std::string_view(afterBytes).substr(base.size()), systemDirectory, unseenEnd)) {
      return;
    }
  }
  report.push_back("wininit.ini: " + path + " changed beyond appended entries: before \"" +
                   Shown(beforeBytes.value_or(""), 400) + "\", after \"" + Shown(afterBytes, 400) + "\"");
}

// ---- Files.

struct Entry {
  std::string path;  // as created
  bool isDirectory = false;
  std::string bytes;
  sim::FileAttributes attributes;
};
using Entries = std::map<std::string, Entry>;  // by upper-cased path

void Collect(const sim::FileSystem& files, const std::string& listPath, const std::string& prefix, Entries& out) {
  for (const sim::DirEntry& item : files.List(listPath)) {
    Entry entry;
    entry.path = prefix + "\\" + item.name;
    entry.isDirectory = item.isDirectory;
    entry.attributes = item.attributes;
    if (item.isDirectory) {
      Collect(files, entry.path, entry.path, out);
    } else {
      entry.bytes = files.ReadFile(entry.path).value_or("");
    }
    out[sim::UpperAscii(entry.path)] = std::move(entry);
  }
}

Entries AllEntries(const sim::FileSystem& files) {
  Entries entries;
  for (char drive : files.Drives()) {
    const std::string root = std::string(1, drive) + ":";
    Collect(files, root + "\\", root, entries);
  }
  return entries;
}

// The long path of a path on the machine before the run (as the program would name it), or
// nothing for a path that no 260-byte buffer holds.
std::optional<std::string> Resolved(const sim::Machine& before, const std::string& path) {
  if (!Fits(path)) return std::nullopt;
  try {
    return sim::UpperAscii(before.files.LongPath(path));
  } catch (const sim::Unmodelled&) {
    return std::nullopt;
  }
}

struct RemovableEntries {
  std::set<std::string> files;
  std::set<std::string> folders;
};

RemovableEntries Removable(const sim::Machine& before, const Allowance& allowance) {
  RemovableEntries removable;
  auto addFile = [&](const std::string& path) {
    if (auto resolved = Resolved(before, path)) removable.files.insert(*resolved);
  };
  const std::string& system = before.systemDirectory;
  const std::string& windows = before.windowsDirectory;
  if (Fits(system)) {
    for (const char* name : product::kSystemFiles) addFile(system + "\\" + name);
  }

  std::vector<std::string> groups = {GroupFolder(before)};
  if (allowance.programsUnknown) groups.push_back(std::string("\\") + product::kGroupName);
  for (const std::string& group : groups) {
    if (!Fits(group)) continue;
    if (auto resolved = Resolved(before, group)) removable.folders.insert(*resolved);
    for (const char* name : product::kShortcuts) addFile(group + "\\" + name);
  }

  const bool laterRelease = product::LaterRelease(before.buildNumber);
  if (Fits(windows) && (!laterRelease || allowance.buildUnknown)) {
    const std::string folder = windows + "\\INF";
    const std::string pattern = folder + "\\oem*.inf";
    if (Fits(pattern)) {
      for (const sim::DirEntry& match : before.files.Find(pattern)) {
        const std::string path = folder + "\\" + match.name;
        if (match.isDirectory || !Fits(path)) continue;
        if (HoldsMarker(before.files.ReadFile(path).value_or(""))) addFile(path);
      }
    }
  }
  if (Fits(windows) && laterRelease) addFile(windows + "\\" + product::kFixedInfFile);
  return removable;
}

void CheckFiles(const sim::Machine& before, const sim::Machine& after, const Allowance& allowance,
                std::vector<std::string>& report) {
  const Entries was = AllEntries(before.files);
  const Entries is = AllEntries(after.files);
  const RemovableEntries removable = Removable(before, allowance);
  const std::string winIni = sim::UpperAscii(before.files.LongPath(before.WinIniPath()));
  std::string wininit;  // where the rename list goes, if the program can name it
  if (Fits(before.windowsDirectory)) {
    wininit = Resolved(before, before.windowsDirectory + "\\wininit.ini").value_or("");
  }

  for (const auto& [key, entry] : was) {
    const auto found = is.find(key);
    if (found == is.end()) {
      const auto& allowed = entry.isDirectory ? removable.folders : removable.files;
      if (allowed.count(key) == 0) report.push_back("files: gone: " + entry.path);
      continue;
    }
    const Entry& now = found->second;
    if (now.path != entry.path) report.push_back("files: renamed: " + entry.path + " is now " + now.path);
    if (now.isDirectory != entry.isDirectory) {
      report.push_back("files: changed between file and folder: " + entry.path);
      continue;
    }
    if (!(now.attributes == entry.attributes)) report.push_back("files: attributes changed: " + entry.path);
    if (entry.isDirectory || now.bytes == entry.bytes) continue;
    if (key == wininit) {
      CheckWininit(entry.path, entry.bytes, now.bytes, before.systemDirectory, allowance.renameListUnread, report);
    } else if (key == winIni) {
      CheckWinIni(entry.bytes, now.bytes, PortSections(before, allowance.deviceUnknown),
                  DefaultPrinterIsThePrinter(before), report);
    } else {
      report.push_back("files: content changed: " + entry.path);
    }
  }
  for (const auto& [key, entry] : is) {
    if (was.count(key) != 0) continue;
    if (key == wininit && !entry.isDirectory && entry.attributes == sim::FileAttributes{}) {
      CheckWininit(entry.path, std::nullopt, entry.bytes, before.systemDirectory, allowance.renameListUnread, report);
    } else {
      report.push_back(std::string("files: added: ") + (entry.isDirectory ? "folder " : "") + entry.path);
    }
  }
}

}  // namespace

bool ReadsAsPrinterName(const sim::RegValue& value) {
  if (value.data.size() > kBufferSize) return false;
  const auto nul = std::find(value.data.begin(), value.data.end(), 0);
  if (nul == value.data.end()) return false;
  return std::string(value.data.begin(), nul) == kPrinterName;
}

std::size_t MarkerEnd(std::string_view text) {
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; };
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && space(text[at])) ++at;
    const std::size_t start = at;
    while (at < text.size() && !space(text[at])) ++at;
    if (at > start && text.substr(start, at - start) == kMarker) return at;
  }
  return std::string_view::npos;
}

bool HoldsMarker(std::string_view bytes) {
  return MarkerEnd(bytes.substr(0, bytes.find('\x1A'))) != std::string_view::npos;
}

long WalkNumber(std::string_view keyName) {
  if (keyName.size() < 4 || keyName.size() > 9) return -1;
  if (keyName.size() > 4 && keyName[0] == '0') return -1;
  long number = 0;
  for (char c : keyName) {
    if (c < '0' || c > '9') return -1;
    number = number * 10 + (c - '0');
  }
  return number;
}

// A win.ini value as Windows reads it into the program's 150 bytes.
std::string ProfileValue(const sim::Machine& machine, const char* section, const char* key, const char* defaultText) {
  const std::optional<std::string> ini = machine.files.ReadFile(machine.WinIniPath());
  std::string value = sim::ReadProfileString(ini, section, key, defaultText);
  if (value.size() > 149) value.resize(149);
  return value;
}

std::vector<std::string> PortSections(const sim::Machine& machine, bool deviceUnknown) {
  const std::string text = ProfileValue(machine, "Devices", kPrinterName, "kb47rk,lpt1:");
  std::vector<std::string> sections;
  if (text.find('\\') != std::string::npos) {
    const std::size_t comma = text.find(',');
    // Windows trims a section name before it looks the section up.
    if (comma != std::string::npos) {
      sections.emplace_back(TrimProfile(std::string(kPrinterName) + "-" + text.substr(comma + 1)));
    }
  }
  if (text.find('\\') == std::string::npos || deviceUnknown) {
    for (const char* port : product::kLocalPortSuffixes) sections.push_back(std::string(kPrinterName) + port);
  }
  return sections;
}

bool DefaultPrinterIsThePrinter(const sim::Machine& machine) {
  const std::string text = ProfileValue(machine, "windows", "device", "");
  const std::size_t comma = text.find(',');
  return comma != std::string::npos && sim::EqualNoCase(text.substr(0, comma), kPrinterName);
}

std::string GroupFolder(const sim::Machine& machine) {
  std::string programs;
  if (const auto value = machine.registry.GetValue(machines::kShellFoldersKey, "Programs")) {
    const auto& data = value->data;
    const auto nul = std::find(data.begin(), data.end(), 0);
    if (data.size() <= kBufferSize && nul != data.end()) programs.assign(data.begin(), nul);
  }
  return programs + "\\" + product::kGroupName;
}

Allowance AllowanceForFailing(const std::string& op) {
  Allowance allowance;
  allowance.buildUnknown = op == "GetVersionExA";
  allowance.programsUnknown = op == "RegOpenKeyExA" || op == "RegQueryValueExA";
  allowance.deviceUnknown = op == "GetProfileStringA";
  allowance.renameListUnread = op == "fopen" || op == "fgetc" || op == "ftell";
  return allowance;
}

std::vector<std::string> InvariantViolations(const sim::Machine& before, const sim::Machine& after,
                                             const Allowance& allowance) {
  std::vector<std::string> report;
  if (before.buildNumber != after.buildNumber || before.windowsDirectory != after.windowsDirectory ||
      before.systemDirectory != after.systemDirectory) {
    report.push_back("machine: the build or a directory changed");
  }
  CheckRegistry(before, after, report);
  CheckFiles(before, after, allowance, report);
  return report;
}

}  // namespace safety
