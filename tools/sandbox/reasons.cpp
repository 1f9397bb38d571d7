// The product's pieces on a machine and the reasons for those a run left: see reasons.h.
#include "reasons.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "product.h"
#include "profile_text.h"
#include "sim/text.h"

namespace sandbox {
namespace {

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

bool NamesProduct(std::string_view text) {
  return Contains(text, TheProduct().printerName) || Contains(text, TheProduct().groupName);
}

// A value's bytes up to the first NUL: the text that the program reads and compares.
std::string ValueText(const sim::RegValue& value) {
  std::string text(value.data.begin(), value.data.end());
  return text.substr(0, text.find('\0'));
}

bool IsTextValue(const sim::RegValue& value) { return value.type == REG_SZ || value.type == REG_EXPAND_SZ; }

// Whether a file holds word as a whole word between white space, as text mode reads it (up to
// the first 0x1A).
bool HoldsWord(std::string_view bytes, std::string_view word) {
  constexpr std::string_view kSpace = " \t\n\v\f\r";
  bytes = bytes.substr(0, bytes.find('\x1A'));
  std::size_t at = 0;
  while (at < bytes.size()) {
    at = bytes.find_first_not_of(kSpace, at);
    if (at == std::string_view::npos) break;
    const std::size_t end = std::min(bytes.find_first_of(kSpace, at), bytes.size());
    if (bytes.substr(at, end - at) == word) return true;
    at = end;
  }
  return false;
}

bool IsAtOrBelow(const std::string& upperPath, const std::string& upperTop) {
  return upperPath == upperTop || upperPath.rfind(upperTop + "\\", 0) == 0;
}

std::string FourDigits(long n) {
  char text[24];
  std::snprintf(text, sizeof text, "%04ld", n);
  return text;
}

std::string WinIniText(const sim::Machine& machine) {
  return machine.files.ReadFile(machine.WinIniPath()).value_or("");
}

// Registry keys whose own name names the product, anywhere below root.
void NamedKeys(const sim::RegKey& root, const std::string& rootName, std::vector<std::string>& out) {
  std::vector<std::pair<const sim::RegKey*, std::string>> stack = {{&root, rootName}};
  while (!stack.empty()) {
    auto [key, path] = std::move(stack.back());
    stack.pop_back();
    for (const auto& [lower, sub] : key->subkeys) {
      std::string child = path + "\\" + sub.name;
      if (NamesProduct(sub.name)) out.push_back(child);
      stack.emplace_back(&sub, std::move(child));
    }
  }
}

// Text values that name the product, in keys that are not at or below a listed key.
void NamedValues(const sim::RegKey& root, const std::string& rootName, const std::vector<std::string>& listedKeys,
                 std::vector<Item>& out) {
  std::vector<std::pair<const sim::RegKey*, std::string>> stack = {{&root, rootName}};
  while (!stack.empty()) {
    auto [key, path] = std::move(stack.back());
    stack.pop_back();
    const std::string upper = sim::UpperAscii(path);
    if (std::any_of(listedKeys.begin(), listedKeys.end(),
                    [&](const std::string& top) { return IsAtOrBelow(upper, sim::UpperAscii(top)); }))
      continue;
    for (const auto& [lower, value] : key->values) {
      if (IsTextValue(value.second) && NamesProduct(ValueText(value.second)))
        out.push_back({kRegistryValue, path, value.first.empty() ? "@" : value.first, ValueText(value.second)});
    }
    for (auto it = key->subkeys.rbegin(); it != key->subkeys.rend(); ++it)
      stack.emplace_back(&it->second, path + "\\" + it->second.name);
  }
}

std::vector<std::string> RegistryKeys(const sim::Machine& machine, const std::vector<const RunCalls*>& runs) {
  const Product& product = TheProduct();
  const sim::Registry& registry = machine.registry;
  std::vector<std::string> candidates;
  for (const ProductKey& key : product.keys) candidates.push_back(key.path);
  for (const RunCalls* run : runs)
    candidates.insert(candidates.end(), run->KeysDeleted().begin(), run->KeysDeleted().end());
  for (const InstancePass& pass : product.instancePasses) {
    for (const std::string& name : registry.SubkeyNames(pass.baseKey)) {
      const std::string path = pass.baseKey + "\\" + name;
      std::optional<sim::RegValue> value = registry.GetValue(path, pass.valueName);
      if (value && ValueText(*value) == product.printerName) candidates.push_back(path);
    }
  }
  NamedKeys(registry.LocalMachine(), "HKEY_LOCAL_MACHINE", candidates);
  NamedKeys(registry.Users(), "HKEY_USERS", candidates);

  std::vector<std::string> present;
  std::set<std::string> seen;
  for (const std::string& candidate : candidates) {
    const std::string path = registry.Resolve(candidate);
    if (registry.KeyExists(path) && seen.insert(sim::UpperAscii(path)).second) present.push_back(path);
  }
  std::sort(present.begin(), present.end(),
            [](const std::string& a, const std::string& b) { return sim::UpperAscii(a) < sim::UpperAscii(b); });
  std::vector<std::string> listed;  // sorted, so a key comes right before the keys below it
  for (const std::string& path : present) {
    if (listed.empty() || !IsAtOrBelow(sim::UpperAscii(path), sim::UpperAscii(listed.back()))) listed.push_back(path);
  }
  return listed;
}

// win.ini's sections named after the printer and its lines that name it, as the simulated
// profile functions read them; the lines of a listed section go with it. Only lines that hold
// the name can be such lines, so only those (and the headers above them) are read.
void ProfileItems(const sim::Machine& machine, std::vector<Item>& out) {
  const std::string& printer = TheProduct().printerName;
  const ProfileText text(WinIniText(machine));
  for (std::size_t i = 0; i < text.Lines().size(); ++i) {
    if (!Contains(text.Lines()[i], printer)) continue;
    const sim::ProfileLine line = text.Line(i);
    if (line.kind == sim::ProfileLine::Header) {
      if (Contains(line.name, printer)) out.push_back({kProfileSection, line.name, "", ""});
      continue;
    }
    if (line.kind != sim::ProfileLine::Entry || (!Contains(line.name, printer) && !Contains(line.value, printer)))
      continue;
    const std::size_t header = text.HeaderAbove(i);
    const std::string section = header == ProfileText::kNone ? std::string() : text.Line(header).name;
    if (!Contains(section, printer)) out.push_back({kProfileKey, section, line.name, line.value});
  }
}

std::vector<std::string> FileCandidates(const sim::Machine& machine, const std::vector<const RunCalls*>& runs) {
  const Product& product = TheProduct();
  std::vector<std::string> candidates;
  for (const RunCalls* run : runs) {
    candidates.insert(candidates.end(), run->FoldersRemoved().begin(), run->FoldersRemoved().end());
    candidates.insert(candidates.end(), run->FilesDeleted().begin(), run->FilesDeleted().end());
  }
  for (const std::string& name : product.systemFiles) candidates.push_back(JoinPath(machine.systemDirectory, name));
  for (const std::string& name : product.deferredFiles) candidates.push_back(JoinPath(machine.systemDirectory, name));
  // Setup information files that hold the marker word: the oem*.inf files that the first
  // release's setup leaves, the INF\OTHER files of later releases, and whatever the runs searched.
  const std::string inf = JoinPath(machine.windowsDirectory, "INF");
  std::vector<std::string> patterns = {JoinPath(inf, "oem*.inf"), JoinPath(inf, "OTHER\\*.inf")};
  for (const RunCalls* run : runs) patterns.insert(patterns.end(), run->Searches().begin(), run->Searches().end());
  for (const std::string& pattern : patterns) {
    const std::string folder = pattern.substr(0, pattern.rfind('\\'));
    for (const sim::DirEntry& entry : machine.files.Find(pattern)) {
      if (entry.isDirectory) continue;
      const std::string path = JoinPath(folder, entry.name);
      if (HoldsWord(machine.files.ReadFile(path).value_or(""), product.infMarker)) candidates.push_back(path);
    }
  }
  return candidates;
}

Remnant Because(const Item& item, std::string code, std::string reason) {
  return {item, std::move(reason), std::move(code)};
}

// What the machine shows about a file whose deletion or opening failed.
Remnant FileTrouble(const Item& item, const sim::Machine& machine, const std::string& failed) {
  if (machine.files.IsDirectory(item.path))
    return Because(item, "folderNotFile", "a folder stands under this name, not a file");
  const sim::FileAttributes attributes = machine.files.Attributes(item.path).value_or(sim::FileAttributes{});
  if (attributes.inUse) return Because(item, "inUse", "in use by another program");
  if (attributes.readOnly) return Because(item, "readOnly", "read-only");
  return Because(item, "deletionFailed", failed);
}

}  // namespace

std::vector<Item> ProductItems(const sim::Machine& machine, const std::vector<const RunCalls*>& runs) {
  std::vector<Item> items;
  const std::vector<std::string> keys = RegistryKeys(machine, runs);
  for (const std::string& key : keys) items.push_back({kRegistryKey, key, "", ""});
  NamedValues(machine.registry.LocalMachine(), "HKEY_LOCAL_MACHINE", keys, items);
  NamedValues(machine.registry.Users(), "HKEY_USERS", keys, items);
  ProfileItems(machine, items);
  std::set<std::string> seen;
  for (const std::string& candidate : FileCandidates(machine, runs)) {
    std::string path;
    try {
      if (!machine.files.Exists(candidate)) continue;
      path = machine.files.LongPath(candidate);
    } catch (const sim::Unmodelled&) {
      continue;  // not a path the simulated drives hold
    }
    if (!seen.insert(sim::UpperAscii(path)).second) continue;
    items.push_back({machine.files.IsDirectory(path) ? kFolder : kFile, path, "", ""});
  }
  // The same line twice (a section given twice) is one piece for the report.
  std::set<std::string> seenItems;
  std::erase_if(items, [&](const Item& item) { return !seenItems.insert(KeyOf(item)).second; });
  return items;
}

std::string KeyOf(const Item& item) { return item.kind + "\n" + ItemText(item); }

std::string Reasons::BuildText() const { return "build " + std::to_string(after_.buildNumber & 0xFFFF); }

Remnant Reasons::Why(const Item& item) const {
  if (item.kind == kRegistryKey) return RegistryKey(item);
  if (item.kind == kRegistryValue) return Because(item, "notTouched", "the removal does not delete it");
  if (item.kind == kProfileSection || item.kind == kProfileKey) return ProfileLine(item);
  const Product& product = TheProduct();
  const std::string key = calls_.KeyOfFilePath(item.path);
  for (const std::string& name : product.deferredFiles) {
    if (key == calls_.KeyOfFilePath(JoinPath(after_.systemDirectory, name))) return DeferredFile(item);
  }
  if (item.kind == kFile && key.rfind(calls_.KeyOfFilePath(JoinPath(after_.windowsDirectory, "INF")) + "\\", 0) == 0)
    return SetupInformationFile(item);
  return FileOrFolder(item);
}

Remnant Reasons::RegistryKey(const Item& item) const {
  const Product& product = TheProduct();
  if (std::optional<long> result = calls_.KeyDeletion(item.path))
    return Because(item, "deletionFailed",
                   "its deletion was tried and failed (RegDeleteKeyA returned " + std::to_string(*result) + ")");
  const std::string upper = sim::UpperAscii(item.path);
  for (const InstancePass& pass : product.instancePasses) {
    const std::string base = sim::UpperAscii(after_.registry.Resolve(pass.baseKey)) + "\\";
    if (upper.rfind(base, 0) != 0 || upper.find('\\', base.size()) != std::string::npos) continue;
    const std::string& valueName = pass.valueName;
    if (std::optional<RunCalls::KeyVisit> visit = calls_.Visit(item.path)) {
      if (!visit->read)
        return Because(
            item, "unexamined",
            "outside the probe budget: the walk's last probe opened it after the budget was spent, and left it "
            "unexamined");
      if (visit->readResult != 0)
        return Because(item, "descriptionUnreadable",
                       "its " + valueName + " could not be read" +
                           (visit->readResult == ERROR_MORE_DATA ? " whole into the walk's 260-byte buffer" : "") +
                           " (RegQueryValueExA returned " + std::to_string(visit->readResult) + ")");
      if (!visit->compared) {
        std::optional<sim::RegValue> value = after_.registry.GetValue(item.path, valueName);
        const bool nulEnded = value && !value->data.empty() && value->data.back() == 0;
        return Because(item, "descriptionNotNulEnded",
                       "its " + valueName + " was read but not compared with the printer's name" +
                           (nulEnded ? std::string() : ": the value does not end with a NUL"));
      }
      return Because(item, "descriptionDiffers",
                     "its " + valueName + " read as \"" + visit->comparedText + "\", which is not the printer's name");
    }
    const long highest = calls_.HighestNumberTried(pass.baseKey);
    if (highest < 0)
      return Because(item, "outsideProbeBudget", "outside the probe budget: the walk tried no names here");
    return Because(item, "outsideProbeBudget",
                   "outside the probe budget: the walk tried names up to " + FourDigits(highest));
  }
  for (const ProductKey& key : product.keys) {
    if (key.laterReleasesOnly && sim::UpperAscii(after_.registry.Resolve(key.path)) == upper &&
        (after_.buildNumber & 0xFFFF) <= product.buildGate)
      return Because(item, "buildGated",
                     "kept on " + BuildText() + ": the removal deletes it on builds above " +
                         std::to_string(product.buildGate) + " only");
  }
  return Because(item, "notTouched", "the removal does not delete it");
}

Remnant Reasons::ProfileLine(const Item& item) const {
  const bool readOnly = after_.files.Attributes(after_.WinIniPath()).value_or(sim::FileAttributes{}).readOnly;
  auto failed = [&]() {
    if (readOnly) return Because(item, "readOnly", "its deletion was tried and failed: win.ini is read-only");
    return Because(item, "deletionFailed", "its deletion was tried and failed (WriteProfileStringA returned FALSE)");
  };
  const std::string section = "[" + item.path + "]";
  if (item.kind == kProfileSection) {
    if (std::optional<bool> done = calls_.SectionDeletion(item.path)) {
      if (!*done) return failed();
      return Because(item, "laterDuplicate",
                     "win.ini held more than one " + section + " section: deleting it removes the first of them only");
    }
    return Because(item, "notTouched", "the removal does not delete it");
  }
  if (std::optional<bool> done = calls_.ProfileKeyDeletion(item.path, item.name)) {
    if (!*done) return failed();
    return Because(
        item, "laterDuplicate",
        "win.ini held this key more than once in " + section + ": deleting it removes the first of them only");
  }
  if (calls_.SectionDeletion(item.path).value_or(false))
    return Because(
        item, "laterDuplicate",
        "it stands in another " + section + " section: deleting " + section + " removes the first of them only");
  return Because(item, "notTouched", "the removal does not delete it");
}

Remnant Reasons::FileOrFolder(const Item& item) const {
  if (item.kind == kFile) {
    if (calls_.FileDeletion(item.path)) return FileTrouble(item, after_, "its deletion was tried and failed");
    return Because(item, "notTouched", "the removal does not delete it");
  }
  if (calls_.FolderRemoval(item.path)) {
    std::string names;
    for (const sim::DirEntry& entry : after_.files.List(item.path)) names += (names.empty() ? "" : ", ") + entry.name;
    if (!names.empty()) return Because(item, "notEmpty", "not empty: it still holds " + names);
    if (after_.files.Attributes(item.path).value_or(sim::FileAttributes{}).readOnly)
      return Because(item, "readOnly", "read-only");
    return Because(item, "deletionFailed", "its removal was tried and failed");
  }
  if (calls_.FileDeletion(item.path))
    return Because(item, "folderNotFile", "a folder stands under this name, not a file");
  return Because(item, "notTouched", "the removal does not delete it");
}

Remnant Reasons::DeferredFile(const Item& item) const {
  const std::string wininit = JoinPath(after_.windowsDirectory, "wininit.ini");
  const RunCalls::Append* append = nullptr;
  for (const RunCalls::Append& candidate : calls_.Appends()) {
    if (calls_.KeyOfFilePath(candidate.path) == calls_.KeyOfFilePath(wininit)) append = &candidate;
  }
  if (append == nullptr) return Because(item, "notTouched", "the removal did not try to schedule its deletion");
  const std::string where = after_.files.LongPath(wininit);
  if (!append->opened) {
    std::string cause;
    if (after_.files.IsDirectory(wininit)) cause = ": a folder stands under that name";
    else if (const auto attributes = after_.files.Attributes(wininit); attributes && attributes->inUse)
      cause = ": it is in use";
    else if (attributes && attributes->readOnly) cause = ": it is read-only";
    return Because(item, "notScheduled",
                   "its deletion at the next start could not be scheduled: " + where +
                       " could not be opened for appending" + cause);
  }
  if (append->failed)
    return Because(item, "notScheduled",
                   "its deletion at the next start could not be scheduled: writing " + where + " failed");
  const std::string key = calls_.KeyOfFilePath(item.path);
  for (const std::string& line : append->lines) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos && calls_.KeyOfFilePath(line.substr(equals + 1)) == key)
      return Because(
          item, "scheduleIneffective",
          "its line (" + line + ") was written to " + where + ", but the next start of Windows does not carry it out");
  }
  return Because(item, "notTouched", "the removal wrote no line for it to " + where);
}

Remnant Reasons::SetupInformationFile(const Item& item) const {
  const std::string& marker = TheProduct().infMarker;
  if (calls_.FileDeletion(item.path)) return FileTrouble(item, after_, "its deletion was tried and failed");
  if (std::optional<bool> opened = calls_.OpenedForReading(item.path)) {
    if (*opened)
      return Because(item, "markerNotFound",
                     "the removal read it and did not find " + marker + " as a word of its own");
    const Remnant trouble = FileTrouble(item, after_, "");
    return Because(
        item, "notOpened",
        "the removal could not open it to look for " + marker + (trouble.reason.empty() ? "" : ": " + trouble.reason));
  }
  const std::vector<std::string>& searches = calls_.Searches();
  if (searches.empty())
    return Because(
        item, "notSearched",
        "not tried on " + BuildText() + ": on this build the removal searches no folder for setup information files");
  std::string patterns;
  for (const std::string& pattern : searches) patterns += (patterns.empty() ? "" : ", ") + pattern;
  return Because(item, "notSearched",
                 "not tried on " + BuildText() +
                     ": on this build the removal looks for setup information files only among " + patterns);
}

}  // namespace sandbox
