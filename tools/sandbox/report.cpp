// The report of a sandbox run: see report.h. The diff compares the machine before and after; the
// reasons for what is still there come from the machine after the run (attributes, what a folder
// holds, wininit.ini), from the calls the run made (its trace), and from a removal run alone on
// a copy of the machine as it was (what a confirmed run would have taken).
#include "report.h"
#include "sim/registry.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <set>

#include "product.h"
#include "winini.h"

namespace sandbox {
namespace {

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// "\"text\"" -> text; NULL -> nothing.
std::optional<std::string> Unquote(const std::string& arg) {
  if (arg.size() >= 2 && arg.front() == '"' && arg.back() == '"') return arg.substr(1, arg.size() - 2);
  return std::nullopt;
}

// A file path as one key for comparison: without letter case, a rooted path on drive C:.
std::string FileKey(std::string_view path) {
  std::string key = Upper(path);
  if (!key.empty() && key.front() == '\\') key = "C:" + key;
  while (key.size() > 3 && key.back() == '\\') key.pop_back();
  return key;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

// What a run tried, from its trace: the targets of every deletion, and the names it opened.
struct Attempts {
  std::set<std::string> keys;         // RegDeleteKeyA, canonical and upper case
  std::set<std::string> opened;       // RegOpenKeyExA that succeeded
  std::set<std::string> tried;        // every RegOpenKeyExA
  std::set<std::string> files;        // DeleteFileA
  std::set<std::string> folders;      // RemoveDirectoryA
  std::set<std::string> sections;     // WriteProfileStringA(section, NULL, NULL)
  std::set<std::string> profileKeys;  // WriteProfileStringA(section, key, NULL): "SECTION\nKEY"
  std::vector<std::string> fileOrder, folderOrder, keyOrder;  // as first tried, for the candidates
};

Attempts AttemptsOf(sim::Machine& machine) {
  Attempts attempts;
  const sim::Registry& registry = machine.registry;
  for (const sim::Call& call : machine.trace().Calls()) {
    const std::vector<std::string>& args = call.args;
    if ((call.op == "RegDeleteKeyA" || call.op == "RegOpenKeyExA") && args.size() >= 2) {
      std::optional<std::string> sub = Unquote(args[1]);
      if (!sub || sub->empty() || args[0].rfind("HKEY_", 0) != 0) continue;
      std::string path = registry.Resolve(args[0] + "\\" + *sub);
      std::string key = Upper(path);
      if (call.op == "RegDeleteKeyA") {
        if (attempts.keys.insert(key).second) attempts.keyOrder.push_back(path);
      } else {
        attempts.tried.insert(key);
        if (call.result == "0") attempts.opened.insert(key);
      }
    } else if ((call.op == "DeleteFileA" || call.op == "RemoveDirectoryA") && !args.empty()) {
      std::optional<std::string> path = Unquote(args[0]);
      if (!path) continue;
      bool isFile = call.op == "DeleteFileA";
      if ((isFile ? attempts.files : attempts.folders).insert(FileKey(*path)).second)
        (isFile ? attempts.fileOrder : attempts.folderOrder).push_back(*path);
    } else if (call.op == "WriteProfileStringA" && args.size() >= 3) {
      std::optional<std::string> section = Unquote(args[0]);
      std::optional<std::string> key = Unquote(args[1]);
      if (!section || Unquote(args[2])) continue;  // only deletions
      if (!key) attempts.sections.insert(Upper(*section));
      else attempts.profileKeys.insert(Upper(*section) + "\n" + Upper(*key));
    }
  }
  return attempts;
}

// ---- The diff.

void AddRemovedTree(const sim::RegKey& key, const std::string& path, Report& report) {
  report.removedKeys.push_back(path);
  for (const auto& [lower, sub] : key.subkeys) AddRemovedTree(sub, path + "\\" + sub.name, report);
}

void DiffKeys(const sim::RegKey& before, const sim::RegKey& after, const std::string& path, Report& report) {
  for (const auto& [lower, value] : before.values) {
    auto it = after.values.find(lower);
    std::string name = value.first.empty() ? "@" : value.first;
    if (it == after.values.end()) report.removedValues.push_back({path, name});
    else if (!(it->second.second == value.second)) report.otherChanges.push_back({"registry value", path + " | " + name, "changed"});
  }
  for (const auto& [lower, value] : after.values) {
    if (before.values.find(lower) == before.values.end())
      report.otherChanges.push_back({"registry value", path + " | " + (value.first.empty() ? "@" : value.first), "added"});
  }
  for (const auto& [lower, sub] : before.subkeys) {
    auto it = after.subkeys.find(lower);
    if (it == after.subkeys.end()) AddRemovedTree(sub, path + "\\" + sub.name, report);
    else DiffKeys(sub, it->second, path + "\\" + sub.name, report);
  }
  for (const auto& [lower, sub] : after.subkeys) {
    if (before.subkeys.find(lower) == before.subkeys.end())
      report.otherChanges.push_back({"registry key", path + "\\" + sub.name, "added"});
  }
}

void AddRemovedFolder(const sim::FileSystem& files, const std::string& path, Report& report) {
  report.removedFolders.push_back(path);
  for (const sim::DirEntry& entry : files.List(path)) {
    std::string child = JoinPath(path, entry.name);
    if (entry.isDirectory) AddRemovedFolder(files, child, report);
    else report.removedFiles.push_back(child);
  }
}

// Files whose change the report shows otherwise: win.ini as sections and keys, wininit.ini as
// its new lines.
struct Skipped {
  std::string winIni, wininit;
};

void DiffFolders(const sim::FileSystem& before, const sim::FileSystem& after, const std::string& path,
                 const Skipped& skipped, Report& report) {
  std::map<std::string, sim::DirEntry> afterEntries;
  for (const sim::DirEntry& entry : after.List(path)) afterEntries[Upper(entry.name)] = entry;
  std::set<std::string> seen;
  for (const sim::DirEntry& entry : before.List(path)) {
    std::string child = JoinPath(path, entry.name);
    seen.insert(Upper(entry.name));
    auto it = afterEntries.find(Upper(entry.name));
    if (it == afterEntries.end()) {
      if (entry.isDirectory) AddRemovedFolder(before, child, report);
      else report.removedFiles.push_back(child);
      continue;
    }
    if (entry.isDirectory && it->second.isDirectory) {
      DiffFolders(before, after, child, skipped, report);
    } else if (entry.isDirectory != it->second.isDirectory) {
      report.otherChanges.push_back({entry.isDirectory ? "folder" : "file", child,
                                     entry.isDirectory ? "changed: now a file" : "changed: now a folder"});
    } else if (FileKey(child) != skipped.winIni && FileKey(child) != skipped.wininit &&
               (before.ReadFile(child) != after.ReadFile(child) || !(entry.attributes == it->second.attributes))) {
      report.otherChanges.push_back({"file", child, "changed"});
    }
  }
  for (const auto& [upper, entry] : afterEntries) {
    if (seen.count(upper) != 0) continue;
    std::string child = JoinPath(path, entry.name);
    if (FileKey(child) == skipped.wininit) continue;
    report.otherChanges.push_back({entry.isDirectory ? "folder" : "file", child, "added"});
  }
}

IniFile WinIniOf(const sim::Machine& machine) {
  return ParseIni(machine.files.ReadFile(machine.WinIniPath()).value_or(""));
}

void DiffProfile(const IniFile& before, const IniFile& after, Report& report) {
  for (const IniSection& section : before.sections) {
    const IniSection* now = after.Find(section.name);
    if (now == nullptr) {
      report.removedSections.push_back(section.name);
      continue;
    }
    for (const IniKey& key : section.keys) {
      const IniKey* found = now->Find(key.name);
      if (found == nullptr) report.removedProfileKeys.push_back({section.name, key.name});
      else if (found->value != key.value)
        report.otherChanges.push_back({"win.ini key", "[" + section.name + "] " + key.name, "changed"});
    }
    for (const IniKey& key : now->keys) {
      if (section.Find(key.name) == nullptr)
        report.otherChanges.push_back({"win.ini key", "[" + section.name + "] " + key.name, "added"});
    }
  }
  for (const IniSection& section : after.sections) {
    if (before.Find(section.name) == nullptr) report.otherChanges.push_back({"win.ini section", "[" + section.name + "]", "added"});
  }
}

// The lines that the run added to wininit.ini: everything after the part it kept of the old
// file (a final 0x1A byte may be gone), with the line end written before them left out.
void DiffWininit(const sim::Machine& before, const sim::Machine& after, Report& report) {
  report.wininitPath = after.files.LongPath(JoinPath(after.windowsDirectory, "wininit.ini"));
  std::optional<std::string> old = before.files.ReadFile(report.wininitPath);
  std::optional<std::string> now = after.files.ReadFile(report.wininitPath);
  if (!now) return;
  report.wininitCreated = !old;
  std::string kept = old.value_or("");
  std::size_t common = 0;
  while (common < kept.size() && common < now->size() && kept[common] == (*now)[common]) ++common;
  if (common == now->size() && common == kept.size()) return;
  report.scheduledLines = TextLines(std::string_view(*now).substr(common));
  bool oldEndedLine = kept.substr(0, common).empty() || kept[common - 1] == '\n';
  if (!oldEndedLine && !report.scheduledLines.empty() && report.scheduledLines.front().empty())
    report.scheduledLines.erase(report.scheduledLines.begin());
}

// ---- What is still there, and why.

// What wininit.ini's [rename] section does at the next start to each path: "" deletes it (NUL),
// otherwise the path it is renamed to.
std::map<std::string, std::string> RenameList(const sim::Machine& machine) {
  std::map<std::string, std::string> renames;
  std::optional<std::string> text = machine.files.ReadFile(JoinPath(machine.windowsDirectory, "wininit.ini"));
  if (!text) return renames;
  const IniSection* section = ParseIni(*text).Find("rename");
  if (section == nullptr) return renames;
  // ParseIni keeps the first key of each name: NUL= lines repeat, so read the lines themselves.
  bool inRename = false;
  for (const std::string& line : TextLines(*text)) {
    std::string trimmed = line;
    while (!trimmed.empty() && (trimmed.front() == ' ' || trimmed.front() == '\t')) trimmed.erase(0, 1);
    if (!trimmed.empty() && trimmed.front() == '[') {
      std::size_t close = trimmed.find(']');
      inRename = close != std::string::npos && sim::EqualNoCase(trimmed.substr(1, close - 1), "rename");
      continue;
    }
    std::size_t equals = trimmed.find('=');
    if (!inRename || equals == std::string::npos || trimmed.front() == ';') continue;
    std::string target = trimmed.substr(0, equals);
    renames[FileKey(trimmed.substr(equals + 1))] = sim::EqualNoCase(target, "NUL") ? "" : target;
  }
  return renames;
}

// Whether a file holds word as a whole word between white space, as text mode reads it.
bool HoldsWord(std::string_view bytes, std::string_view word) {
  bytes = bytes.substr(0, bytes.find('\x1A'));
  std::size_t at = 0;
  while (at < bytes.size()) {
    while (at < bytes.size() && std::string_view(" \t\n\v\f\r").find(bytes[at]) != std::string_view::npos) ++at;
    std::size_t end = at;
    while (end < bytes.size() && std::string_view(" \t\n\v\f\r").find(bytes[end]) == std::string_view::npos) ++end;
    if (end > at && bytes.substr(at, end - at) == word) return true;
    at = end;
  }
  return false;
}

// A string value's text up to its first NUL, as the program reads and compares it.
std::string ValueText(const sim::RegValue& value) {
  std::string text(value.data.begin(), value.data.end());
  return text.substr(0, text.find('\0'));
}

bool IsTextValue(const sim::RegValue& value) { return value.type == REG_SZ || value.type == REG_EXPAND_SZ; }

std::string FourDigits(int n) {
  char text[16];
  std::snprintf(text, sizeof(text), "%04d", n);
  return text;
}

class StillThere {
 public:
  StillThere(sim::Machine& after, sim::Machine& dryRun, bool removalRan)
      : after_(after), state_(removalRan ? after : dryRun), dryRun_(dryRun), removalRan_(removalRan),
        attempts_(AttemptsOf(removalRan ? after : dryRun)), renames_(RenameList(after)) {}

  std::vector<Remnant> Find() {
    RegistryKeys();
    RegistryValues();
    Profile();
    Files();
    return std::move(remnants_);
  }

 private:
  const Product& product_ = TheProduct();

  void Add(std::string kind, std::string path, std::string reason) {
    remnants_.push_back({std::move(kind), std::move(path), std::move(reason)});
  }

  // The reason when the run did not get as far as the removal, and the removal alone takes it.
  bool NotRun(bool goneAfterRemoval) const { return !removalRan_ && goneAfterRemoval; }
  // A reason that the machine state gives, for a run that did not remove anything: what a
  // confirmed run would have met.
  std::string Kept(const std::string& reason) const {
    return removalRan_ ? reason : "the removal did not run; a confirmed run would keep it too: " + reason;
  }

  // The keys of the product: its fixed keys, every key a removal deleted or would delete, the
  // instance keys whose description is the printer's, and every key named after the product.
  void RegistryKeys() {
    std::vector<std::string> candidates;
    for (const ProductKey& key : product_.keys) candidates.push_back(after_.registry.Resolve(key.path));
    for (sim::Machine* machine : {&after_, &dryRun_}) {
      for (const std::string& path : AttemptsOf(*machine).keyOrder) candidates.push_back(path);
    }
    for (const InstancePass& pass : product_.instancePasses) {
      for (const std::string& name : after_.registry.SubkeyNames(pass.baseKey)) {
        std::string path = pass.baseKey + "\\" + name;
        std::optional<sim::RegValue> value = after_.registry.GetValue(path, pass.valueName);
        if (value && ValueText(*value) == product_.printerName) candidates.push_back(after_.registry.Resolve(path));
      }
    }
    NamedKeys(after_.registry.LocalMachine(), "HKEY_LOCAL_MACHINE", candidates);
    NamedKeys(after_.registry.Users(), "HKEY_USERS", candidates);

    std::set<std::string> seen;
    std::vector<std::string> present;
    for (const std::string& path : candidates) {
      if (!after_.registry.KeyExists(path) || !seen.insert(Upper(path)).second) continue;
      present.push_back(path);
    }
    std::sort(present.begin(), present.end(), [](const std::string& a, const std::string& b) { return Upper(a) < Upper(b); });
    for (const std::string& path : present) {
      bool below = false;  // a key below one already listed goes with it
      for (const std::string& top : keyRemnants_) below = below || Upper(path).rfind(Upper(top) + "\\", 0) == 0;
      if (below) continue;
      keyRemnants_.push_back(path);
      Add("registry key", path, KeyReason(path));
    }
  }

  void NamedKeys(const sim::RegKey& key, const std::string& path, std::vector<std::string>& out) const {
    for (const auto& [lower, sub] : key.subkeys) {
      std::string child = path + "\\" + sub.name;
      if (Contains(sub.name, product_.printerName) || Contains(sub.name, product_.groupName)) out.push_back(child);
      NamedKeys(sub, child, out);
    }
  }

  std::string KeyReason(const std::string& path) const {
    const std::string key = Upper(path);
    if (NotRun(!dryRun_.registry.KeyExists(path))) return "the removal did not run";
    if (attempts_.keys.count(key) != 0) return Kept("its deletion was tried and failed");
    for (const InstancePass& pass : product_.instancePasses) {
      const std::string base = Upper(pass.baseKey) + "\\";
      if (key.rfind(base, 0) != 0 || key.find('\\', base.size()) != std::string::npos) continue;
      std::optional<sim::RegValue> value = after_.registry.GetValue(path, pass.valueName);
      if (!value || ValueText(*value) != product_.printerName) break;
      if (attempts_.opened.count(key) != 0)
        return Kept("outside the probe budget: the walk's last probe opened it after the budget was spent, and "
                    "left it unexamined");
      int highest = -1;
      for (const std::string& tried : attempts_.tried) {
        if (tried.rfind(base, 0) != 0) continue;
        std::string number = tried.substr(base.size());
        if (!number.empty() && number.find_first_not_of("0123456789") == std::string::npos)
          highest = std::max(highest, std::stoi(number));
      }
      if (highest < 0) return Kept("outside the probe budget: the walk tried no names here");
      return Kept("outside the probe budget: the walk tried names up to " + FourDigits(highest));
    }
    for (const ProductKey& product : product_.keys) {
      if (product.laterReleasesOnly && Upper(after_.registry.Resolve(product.path)) == key &&
          (after_.buildNumber & 0xFFFF) <= product_.buildGate)
        return Kept("kept on build " + std::to_string(after_.buildNumber & 0xFFFF) +
                    ": the removal deletes it on builds above " + std::to_string(product_.buildGate) + " only");
    }
    return "the removal does not delete it";
  }

  bool UnderKeyRemnant(const std::string& path) const {
    for (const std::string& top : keyRemnants_) {
      if (Upper(path) == Upper(top) || Upper(path).rfind(Upper(top) + "\\", 0) == 0) return true;
    }
    return false;
  }

  // Text values that name the printer or the group, in keys that are not listed already.
  void RegistryValues() {
    ScanValues(after_.registry.LocalMachine(), "HKEY_LOCAL_MACHINE");
    ScanValues(after_.registry.Users(), "HKEY_USERS");
  }

  void ScanValues(const sim::RegKey& key, const std::string& path) {
    if (UnderKeyRemnant(path)) return;
    for (const auto& [lower, value] : key.values) {
      if (!IsTextValue(value.second)) continue;
      std::string text = ValueText(value.second);
      if (!Contains(text, product_.printerName) && !Contains(text, product_.groupName)) continue;
      std::string name = value.first.empty() ? "@" : value.first;
      const sim::RegKey* dry = dryRun_.registry.Find(path);
      bool goneAfterRemoval = dry == nullptr || dry->values.find(lower) == dry->values.end();
      Add("registry value", path + " | " + name + " = \"" + text + "\"",
          NotRun(goneAfterRemoval) ? "the removal did not run" : "the removal does not delete it");
    }
    for (const auto& [lower, sub] : key.subkeys) ScanValues(sub, path + "\\" + sub.name);
  }

  // win.ini: sections named after the printer, and keys that name it or carry its name.
  void Profile() {
    IniFile ini = WinIniOf(after_);
    IniFile dry = WinIniOf(dryRun_);
    std::optional<sim::FileAttributes> attributes = after_.files.Attributes(after_.WinIniPath());
    bool readOnly = attributes && attributes->readOnly;
    auto reason = [&](bool goneAfterRemoval, bool tried) -> std::string {
      if (NotRun(goneAfterRemoval)) return "the removal did not run";
      if (tried) return Kept(readOnly ? "win.ini is read-only" : "its deletion was tried and failed");
      return "the removal does not delete it";
    };
    for (const IniSection& section : ini.sections) {
      if (Contains(section.name, product_.printerName)) {
        Add("win.ini section", "[" + section.name + "]",
            reason(dry.Find(section.name) == nullptr, attempts_.sections.count(Upper(section.name)) != 0));
        continue;
      }
      for (const IniKey& key : section.keys) {
        if (!Contains(key.name, product_.printerName) && !Contains(key.value, product_.printerName)) continue;
        const IniSection* drySection = dry.Find(section.name);
        bool gone = drySection == nullptr || drySection->Find(key.name) == nullptr;
        bool tried = attempts_.profileKeys.count(Upper(section.name) + "\n" + Upper(key.name)) != 0;
        Add("win.ini key", "[" + section.name + "] " + key.name + "=" + key.value, reason(gone, tried));
      }
    }
  }

  // Files and folders: what a removal deleted or would delete, the product's tables in the system
  // directory, and the oem*.inf files that hold the product's marker word.
  void Files() {
    std::vector<std::string> candidates;
    for (sim::Machine* machine : {&after_, &dryRun_}) {
      Attempts attempts = AttemptsOf(*machine);
      candidates.insert(candidates.end(), attempts.folderOrder.begin(), attempts.folderOrder.end());
      candidates.insert(candidates.end(), attempts.fileOrder.begin(), attempts.fileOrder.end());
    }
    for (const std::string& name : product_.systemFiles) candidates.push_back(JoinPath(after_.systemDirectory, name));
    for (const std::string& name : product_.deferredFiles) candidates.push_back(JoinPath(after_.systemDirectory, name));
    // Setup information files that hold the product's marker word: the oem*.inf files that the
    // first release's setup leaves, and those in INF\OTHER that later releases keep.
    const std::string infFolder = JoinPath(after_.windowsDirectory, "INF");
    std::set<std::string> markedInf;
    for (const std::string& pattern : {JoinPath(infFolder, "oem*.inf"), JoinPath(infFolder, "OTHER\\*.inf")}) {
      const std::string folder = pattern.substr(0, pattern.rfind('\\'));
      for (const sim::DirEntry& entry : after_.files.Find(pattern)) {
        std::string path = JoinPath(folder, entry.name);
        std::optional<std::string> bytes = after_.files.ReadFile(path);
        if (entry.isDirectory || !bytes || !HoldsWord(*bytes, product_.infMarker)) continue;
        candidates.push_back(path);
        if (folder == infFolder) markedInf.insert(FileKey(path));
      }
    }

    std::set<std::string> seen;
    for (const std::string& candidate : candidates) {
      const std::string key = FileKey(candidate);
      if (!after_.files.Exists(candidate) || !seen.insert(key).second) continue;
      const std::string path = after_.files.LongPath(candidate);
      const bool isFolder = after_.files.IsDirectory(candidate);
      Add(isFolder ? "folder" : "file", path, FileReason(candidate, key, isFolder, markedInf.count(key) != 0));
    }
  }

  std::string FileReason(const std::string& path, const std::string& key, bool isFolder, bool markedInf) const {
    if (!isFolder) {
      auto rename = renames_.find(key);
      if (rename != renames_.end())
        return rename->second.empty() ? "scheduled in wininit.ini: deleted at the next start of Windows"
                                      : "scheduled in wininit.ini: renamed to " + rename->second + " at the next start of Windows";
    }
    if (NotRun(!dryRun_.files.Exists(path))) return "the removal did not run";
    const bool triedAsFile = attempts_.files.count(key) != 0;
    const bool triedAsFolder = attempts_.folders.count(key) != 0;
    if (isFolder && !triedAsFolder && triedAsFile) return Kept("a folder stands under this name, not a file");
    if (isFolder && triedAsFolder) {
      std::vector<sim::DirEntry> entries = state_.files.List(path);
      if (entries.empty()) return Kept("its removal was tried and failed");
      std::string names;
      for (const sim::DirEntry& entry : entries) names += (names.empty() ? "" : ", ") + entry.name;
      return Kept("not empty: it still holds " + names);
    }
    if (!isFolder && triedAsFile) {
      sim::FileAttributes attributes = state_.files.Attributes(path).value_or(sim::FileAttributes{});
      if (attributes.inUse) return Kept("in use by another program");
      if (attributes.readOnly) return Kept("read-only");
      return Kept("its deletion was tried and failed");
    }
    if (markedInf && (after_.buildNumber & 0xFFFF) > product_.buildGate)
      return Kept("not searched for on build " + std::to_string(after_.buildNumber & 0xFFFF) +
                  ": the INF folder's oem*.inf files are searched on builds up to " + std::to_string(product_.buildGate) + " only");
    return "the removal does not delete it";
  }

  sim::Machine& after_;
  const sim::Machine& state_;  // where reasons are read: after the run, or after the removal alone
  sim::Machine& dryRun_;
  bool removalRan_;
  Attempts attempts_;
  std::map<std::string, std::string> renames_;
  std::vector<std::string> keyRemnants_;
  std::vector<Remnant> remnants_;
};

}  // namespace

std::string ReleaseName(std::uint32_t buildNumber) {
  char numbers[32];
  std::snprintf(numbers, sizeof(numbers), "%u.%02u.%u", buildNumber >> 24, (buildNumber >> 16) & 0xFF,
                buildNumber & 0xFFFF);
  const char* name = nullptr;
  switch (buildNumber) {
    case sim::kBuildWin95: name = "Windows 95"; break;
    case sim::kBuildWin95Osr2: name = "Windows 95 OSR2"; break;
    case sim::kBuildWin98: name = "Windows 98"; break;
    case sim::kBuildWin98Se: name = "Windows 98 Second Edition"; break;
  }
  if (name == nullptr) return std::string("build ") + numbers;
  return std::string(name) + " (" + numbers + ")";
}

Report BuildReport(const sim::Machine& before, sim::Machine& after, sim::Machine& dryRun, const RunFacts& facts) {
  Report report;
  report.image = facts.image;
  report.output = facts.output;
  report.buildNumber = after.buildNumber;
  report.shown = facts.shown;
  report.exitCode = facts.exitCode;
  report.restartRequested = facts.restartRequested;
  report.removalRan = facts.removalRan;

  DiffKeys(before.registry.LocalMachine(), after.registry.LocalMachine(), "HKEY_LOCAL_MACHINE", report);
  DiffKeys(before.registry.Users(), after.registry.Users(), "HKEY_USERS", report);
  DiffProfile(WinIniOf(before), WinIniOf(after), report);
  Skipped skipped{FileKey(after.WinIniPath()), FileKey(JoinPath(after.windowsDirectory, "wininit.ini"))};
  for (char drive : before.files.Drives()) {
    std::string root = std::string(1, drive) + ":\\";
    DiffFolders(before.files, after.files, root, skipped, report);
  }
  for (char drive : after.files.Drives()) {
    std::vector<char> old = before.files.Drives();
    if (std::find(old.begin(), old.end(), drive) == old.end())
      report.otherChanges.push_back({"folder", std::string(1, drive) + ":\\", "added"});
  }
  DiffWininit(before, after, report);
  report.stillThere = StillThere(after, dryRun, facts.removalRan).Find();
  return report;
}

namespace {

std::string Plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string ShownText(const Shown& shown) {
  std::string text;
  if (shown.kind == Shown::MessageBox) {
    text = "message box \"" + shown.caption + "\": " + (shown.inputs.empty() ? "?" : shown.inputs.front());
    return text;
  }
  text = "dialog \"" + shown.caption + "\": ";
  if (shown.inputs.empty()) {
    text += shown.closed ? "closed by itself" : "still open";
  } else {
    for (std::size_t i = 0; i < shown.inputs.size(); ++i) text += (i > 0 ? ", " : "") + shown.inputs[i];
  }
  if (shown.timerMessages > 0) text += " (after " + Plural(static_cast<std::size_t>(shown.timerMessages), "timer message", "timer messages") + ")";
  if (shown.closed) text += ", result " + std::to_string(shown.result);
  return text;
}

}  // namespace

std::string ReportText(const Report& report) {
  std::string out;
  auto line = [&](const std::string& text) { out += text + "\n"; };
  line("ZANTEROVA Karsenby RK514 uninstaller, run on a copy of " + report.image);
  line("Windows: " + ReleaseName(report.buildNumber));
  line("The machine after the run: " + report.output);
  line("");
  line("Shown");
  for (std::size_t i = 0; i < report.shown.size(); ++i) line("  " + std::to_string(i + 1) + ". " + ShownText(report.shown[i]));
  line("");
  line("Exit code: " + std::to_string(report.exitCode));
  line(std::string("Restart of Windows asked for: ") + (report.restartRequested ? "yes" : "no"));
  line(std::string("The removal ran: ") + (report.removalRan ? "yes" : "no"));
  line("");

  std::size_t removed = report.removedKeys.size() + report.removedValues.size() + report.removedSections.size() +
                        report.removedProfileKeys.size() + report.removedFiles.size() + report.removedFolders.size();
  if (removed == 0) {
    line("Removed: nothing");
  } else {
    line("Removed: " + Plural(report.removedKeys.size(), "registry key", "registry keys") + ", " +
         Plural(report.removedValues.size(), "registry value", "registry values") + ", " +
         Plural(report.removedSections.size(), "win.ini section", "win.ini sections") + ", " +
         Plural(report.removedProfileKeys.size(), "win.ini key", "win.ini keys") + ", " +
         Plural(report.removedFiles.size(), "file", "files") + ", " +
         Plural(report.removedFolders.size(), "folder", "folders"));
    for (const std::string& key : report.removedKeys) line("  registry key     " + key);
    for (const ValueRef& value : report.removedValues) line("  registry value   " + value.key + " | " + value.name);
    for (const std::string& section : report.removedSections) line("  win.ini section  [" + section + "]");
    for (const ProfileKeyRef& key : report.removedProfileKeys) line("  win.ini key      [" + key.section + "] " + key.key);
    for (const std::string& file : report.removedFiles) line("  file             " + file);
    for (const std::string& folder : report.removedFolders) line("  folder           " + folder);
  }
  line("");
  if (report.scheduledLines.empty()) {
    line("Scheduled for the next start of Windows: nothing");
  } else {
    line("Scheduled in " + report.wininitPath + (report.wininitCreated ? " (created)" : "") +
         " for the next start of Windows: " + Plural(report.scheduledLines.size(), "line", "lines"));
    for (const std::string& text : report.scheduledLines) line("  " + text);
  }
  if (!report.otherChanges.empty()) {
    line("");
    line("Other changes: " + std::to_string(report.otherChanges.size()));
    for (const Change& change : report.otherChanges) line("  " + change.kind + " " + change.path + ": " + change.what);
  }
  line("");
  if (report.stillThere.empty()) {
    line("Still there: nothing of the product");
  } else {
    line("Still there: " + std::to_string(report.stillThere.size()));
    for (const Remnant& remnant : report.stillThere) {
      line("  " + remnant.kind + " " + remnant.path);
      line("      " + remnant.reason);
    }
  }
  return out;
}

}  // namespace sandbox
