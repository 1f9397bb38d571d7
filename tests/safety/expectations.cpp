// What a run without faults must have removed, and what its INF scan may have read.
#include "expectations.h"

#include <algorithm>
#include <map>
#include <optional>

#include "invariant.h"
#include "product_table.h"
#include "sim/crt.h"

namespace safety {
namespace {

constexpr std::size_t kBufferSize = 260;

bool Fits(const std::string& path) { return path.size() < kBufferSize; }

std::string InstanceName(long n) {
  std::string text = std::to_string(n);
  while (text.size() < 4) text.insert(text.begin(), '0');
  return text;
}

// A file that DeleteFileA removes: a file, neither read-only nor held open.
bool Deletable(const sim::FileSystem& files, const std::string& path) {
  if (!files.IsFile(path)) return false;
  const auto attributes = files.Attributes(path);
  return attributes && !attributes->readOnly && !attributes->inUse;
}

void Registry(const sim::Machine& before, const sim::Machine& after, std::vector<std::string>& report) {
  const bool laterRelease = product::LaterRelease(before.buildNumber);
  for (const product::FixedKey& key : product::kFixedKeys) {
    if (key.laterReleaseOnly && !laterRelease) continue;
    const std::string path = std::string(key.root) + "\\" + key.path;
    if (before.registry.KeyExists(path) && after.registry.KeyExists(path)) {
      report.push_back("registry: fixed key left: " + path);
    }
  }
  for (const product::InstanceList& list : product::kInstanceLists) {
    const std::string basePath = std::string("HKEY_LOCAL_MACHINE\\") + list.base;
    const sim::RegKey* base = before.registry.Find(basePath);
    if (base == nullptr) continue;
    auto child = [&](long n) -> const sim::RegKey* {
      const auto found = base->subkeys.find(InstanceName(n));
      return found == base->subkeys.end() ? nullptr : &found->second;
    };
    const std::set<long> due =
        InstanceKeysDue([&](long n) { return child(n) != nullptr; },
                        [&](long n) {
                          const auto value = child(n)->values.find(list.valueName);
                          return value != child(n)->values.end() && ReadsAsPrinterName(value->second);
                        });
    for (const auto& [name, key] : base->subkeys) {
      const long n = WalkNumber(key.name);
      if (n < 0) continue;
      const std::string path = basePath + "\\" + key.name;
      const bool gone = !after.registry.KeyExists(path);
      if (due.count(n) != 0 && !gone) report.push_back("registry: instance key left: " + path);
      if (due.count(n) == 0 && gone) report.push_back("registry: instance key beyond the walk removed: " + path);
    }
  }
}

void Files(const sim::Machine& before, const sim::Machine& after, std::vector<std::string>& report) {
  auto mustGo = [&](const std::string& path) {
    if (Fits(path) && Deletable(before.files, path) && after.files.Exists(path)) {
      report.push_back("files: left: " + path);
    }
  };
  if (Fits(before.systemDirectory)) {
    for (const char* name : product::kSystemFiles) mustGo(before.systemDirectory + "\\" + name);
  }

  const std::string group = GroupFolder(before);
  if (Fits(group)) {
    for (const char* name : product::kShortcuts) mustGo(group + "\\" + name);
    // The folder goes when nothing but deletable shortcuts was in it.
    bool emptied = before.files.IsDirectory(group);
    for (const sim::DirEntry& entry : before.files.List(group)) {
      bool shortcut = false;
      for (const char* name : product::kShortcuts) shortcut = shortcut || sim::EqualNoCase(entry.name, name);
      emptied =
          emptied && shortcut && Deletable(before.files, group + "\\" + entry.name) && Fits(group + "\\" + entry.name);
    }
    const auto attributes = before.files.Attributes(group);
    if (emptied && attributes && !attributes->readOnly && !attributes->inUse && after.files.Exists(group)) {
      report.push_back("files: emptied group folder left: " + group);
    }
  }

  const std::string& windows = before.windowsDirectory;
  if (!Fits(windows)) return;
  if (!product::LaterRelease(before.buildNumber)) {
    const std::string folder = windows + "\\INF";
    if (!Fits(folder + "\\oem*.inf")) return;
    for (const sim::DirEntry& match : before.files.Find(folder + "\\oem*.inf")) {
      const std::string path = folder + "\\" + match.name;
      if (match.isDirectory || !Fits(path)) continue;
      if (HoldsMarker(before.files.ReadFile(path).value_or(""))) mustGo(path);
    }
  } else {
    mustGo(windows + "\\" + product::kFixedInfFile);
  }
}

// ---- win.ini: sections and keys as Windows reads them.

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0x1A; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

struct ProfileLine {
  std::optional<std::string> header;  // a header's section name
  bool oddBlanks = false;             // blanks before the text other than spaces and tabs
  std::string section;                // the section an entry stands in ("" before the first header)
  std::optional<std::string> key;     // an entry's key
};

std::vector<ProfileLine> ReadProfile(std::string_view bytes) {
  std::vector<ProfileLine> lines;
  std::string section;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    const std::string_view raw = bytes.substr(0, end);
    const std::string_view text = Trim(raw);
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
    ProfileLine line;
    for (std::size_t i = 0; i < raw.size() && IsBlank(raw[i]); ++i)
      line.oddBlanks = line.oddBlanks || (raw[i] != ' ' && raw[i] != '\t');
    if (!text.empty() && text.front() == '[' && text.rfind(']') != std::string_view::npos) {
      section = std::string(text.substr(1, text.rfind(']') - 1));
      line.header = section;
    } else if (!text.empty()) {
      line.key = std::string(Trim(text.substr(0, text.find('='))));
    }
    line.section = section;
    lines.push_back(line);
  }
  return lines;
}

int Sections(const std::vector<ProfileLine>& lines, std::string_view name) {
  int count = 0;
  for (const ProfileLine& line : lines)
    count += line.header && !line.header->empty() && sim::EqualNoCase(*line.header, name);
  return count;
}

int KeyLines(const std::vector<ProfileLine>& lines, std::string_view section, std::string_view key) {
  int count = 0;
  for (const ProfileLine& line : lines) {
    count += line.key && !line.section.empty() && sim::EqualNoCase(line.section, section) &&
             sim::EqualNoCase(*line.key, key);
  }
  return count;
}

void WinIni(const sim::Machine& before, const sim::Machine& after, std::vector<std::string>& report) {
  const std::string path = before.WinIniPath();
  if (!Deletable(before.files, path)) return;  // a win.ini that Windows cannot rewrite
  const std::vector<ProfileLine> was = ReadProfile(*before.files.ReadFile(path));
  const std::vector<ProfileLine> is = ReadProfile(after.files.ReadFile(path).value_or(""));
  for (const std::string& section : PortSections(before)) {
    const int count = Sections(was, section);
    if (count > 0 && Sections(is, section) != count - 1) report.push_back("win.ini: section left: [" + section + "]");
  }
  for (const char* section : {"Devices", "PrinterPorts"}) {
    const int count = KeyLines(was, section, kPrinterName);
    if (count > 0 && KeyLines(is, section, kPrinterName) != count - 1) {
      report.push_back(std::string("win.ini: the printer's key left in [") + section + "]");
    }
  }
  if (DefaultPrinterIsThePrinter(before) &&
      KeyLines(is, "windows", "device") != KeyLines(was, "windows", "device") - 1) {
    report.push_back("win.ini: [windows] device= still names the printer as the default one");
  }
}

// ---- wininit.ini.

// The last section header in text, read as a profile.
std::optional<ProfileLine> LastHeader(std::string_view text) {
  std::optional<ProfileLine> last;
  for (const ProfileLine& line : ReadProfile(text)) {
    if (line.header) last = line;
  }
  return last;
}

void Wininit(const sim::Machine& before, const sim::Machine& after, std::vector<std::string>& report) {
  const std::string path = before.windowsDirectory + "\\wininit.ini";
  std::vector<std::string> entries;
  for (const char* name : product::kDeferredFiles) {
    const std::string line = "NUL=" + before.systemDirectory + "\\" + name;
    if (Fits(before.systemDirectory) && Fits(line)) entries.push_back(line + "\r\n");
  }
  if (!Fits(before.windowsDirectory) || !Fits(path) || entries.empty()) return;
  if (before.files.Exists(path) && !Deletable(before.files, path)) return;  // a folder, read-only or in use

  std::string base = before.files.ReadFile(path).value_or("");
  if (!base.empty() && base.back() == 0x1A) base.pop_back();
  const std::optional<std::string> now = after.files.ReadFile(path);
  if (!now || now->compare(0, base.size(), base) != 0) {
    report.push_back("wininit.ini: not extended at its end");
    return;
  }
  std::string expected;
  // A 0x1A still in the file ended the program's look before the file's end: it cannot know how
  // the file ends, and starts its entries on a line of their own; their header is decided on the
  // part it saw, as for a whole file.
  const std::size_t seen = base.find('\x1A');
  if (seen != std::string::npos || (!base.empty() && base.back() != '\n')) expected += "\r\n";
  const std::optional<ProfileLine> last = LastHeader(std::string_view(base).substr(0, seen));
  const bool renameLast = last && sim::EqualNoCase(*last->header, "rename");
  if (!renameLast) expected += "[rename]\r\n";
  std::string lines;
  for (const std::string& entry : entries) lines += entry;
  // A [rename] header behind a CR, vertical tab or form feed is one to the profile functions;
  // how WININIT.EXE reads it is not known, and a second header is the safe answer.
  const bool eitherWay = renameLast && last->oddBlanks && now->substr(base.size()) == expected + "[rename]\r\n" + lines;
  expected += lines;
  if (now->substr(base.size()) != expected && !eitherWay) {
    report.push_back("wininit.ini: the entries are not lines of a [rename] section of their own: appended \"" +
                     now->substr(base.size()) + "\" to \"" + base + "\"");
  }
}

// Text as a text-mode read delivers it: up to the first 0x1A, CR LF as one line feed.
std::string TextModeView(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\x1A'));
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text += bytes[i];
  }
  return text;
}

// How far a scan for the marker reads: past the byte that ends the first marker, or to the end.
std::size_t ScanLength(std::string_view text) {
  const std::size_t end = MarkerEnd(text);
  return end == std::string_view::npos ? text.size() : std::min(end + 1, text.size());
}

std::string Unquoted(const std::string& text) {
  return text.size() >= 2 && text.front() == '"' ? text.substr(1, text.size() - 2) : text;
}

}  // namespace

std::set<long> InstanceKeysDue(const std::function<bool(long)>& exists, const std::function<bool(long)>& matches) {
  std::set<long> deleted;
  auto present = [&](long n) { return deleted.count(n) == 0 && exists(n); };
  long current = 0;
  long next = 1;
  bool open = present(0);  // the first name costs nothing
  int budget = 0;
  do {
    if (!open) {
      while (budget <= 100 && !open) {
        current = next++;
        open = present(current);
        ++budget;
      }
    } else {
      while (open) {
        if (matches(current)) {
          deleted.insert(current);
          open = false;  // its name, tried once more, no longer opens
        } else {
          current = next++;
          open = present(current);
        }
      }
    }
    ++budget;
  } while (budget <= 100);
  return deleted;
}

std::vector<std::string> MissedRemovals(const sim::Machine& before, const sim::Machine& after) {
  std::vector<std::string> report;
  Registry(before, after, report);
  Files(before, after, report);
  WinIni(before, after, report);
  Wininit(before, after, report);
  return report;
}

bool WininitHasInnerCtrlZ(const sim::Machine& machine) {
  const auto text = machine.files.ReadFile(machine.windowsDirectory + "\\wininit.ini");
  return text && text->find('\x1A') < text->size() - 1;
}

std::vector<std::string> ScanWaste(const sim::Machine& before, sim::Machine& after) {
  std::vector<std::string> report;
  const std::string& windows = before.windowsDirectory;
  const std::string folder = windows + "\\INF";
  if (product::LaterRelease(before.buildNumber) || !Fits(windows) || !Fits(folder + "\\oem*.inf")) return report;

  // Every match is tried once, folders and files held open included; those yield nothing.
  std::map<std::string, std::string, sim::NoCaseLess> due;  // path -> the bytes a read delivers
  for (const sim::DirEntry& match : before.files.Find(folder + "\\oem*.inf")) {
    const std::string path = folder + "\\" + match.name;
    if (!Fits(path)) continue;
    const bool readable = !match.isDirectory && !match.attributes.inUse;
    due[path] = readable ? *before.files.ReadFile(path) : "";
  }
  std::map<std::string, int, sim::NoCaseLess> opened;
  for (const sim::Call& call : after.trace().Of("fopen")) {
    if (call.args.size() != 2 || call.args[1] != "\"r\"") continue;
    const std::string path = Unquoted(call.args[0]);
    if (path.size() > folder.size() &&
        sim::EqualNoCase(std::string_view(path).substr(0, folder.size() + 1), folder + "\\")) {
      ++opened[path];
    }
  }
  for (const auto& [path, count] : opened) {
    if (count > 1) report.push_back("scan: opened " + std::to_string(count) + " times: " + path);
    if (due.count(path) == 0) report.push_back("scan: opened, but not a match of oem*.inf: " + path);
  }
  for (const auto& [path, bytes] : due) {
    if (opened.count(path) == 0) {
      report.push_back("scan: never opened: " + path);
      continue;
    }
    const std::size_t expected = ScanLength(TextModeView(bytes));
    const std::size_t read = sim::BytesRead(after, path);
    if (read != expected) {
      report.push_back("scan: read " + std::to_string(read) + " bytes of " + path + ", not " +
                       std::to_string(expected));
    }
  }
  return report;
}

}  // namespace safety
