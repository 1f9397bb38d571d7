// The product's pieces on a machine and the reasons for those a run left: see reasons.h.
#include "reasons.h"

#include <algorithm>
#include <cstdio>

#include "product.h"
#include "sim/text.h"
#include "simulated_machine.h"

namespace sandbox {
namespace {

std::string FourDigits(long n) {
  char text[24];
  std::snprintf(text, sizeof text, "%04ld", n);
  return text;
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

// Whether the instance walk can form this key name: a number in decimal, padded with zeros to
// four digits ("0007", "0042", "12345"), and nothing else ("7", "00007", "0002 ").
bool WalkForms(const std::string& name) {
  if (name.empty() || name.size() > 9 || name.find_first_not_of("0123456789") != std::string::npos) return false;
  return FourDigits(std::stol(name)) == name;
}

std::string LastName(const std::string& path) { return path.substr(path.rfind('\\') + 1); }
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The Start-menu group's folder, or a shortcut in it.
bool InGroup(const std::string& path) {
  const std::string& group = TheProduct().groupName;
  return sim::EqualNoCase(LastName(path), group) || sim::EqualNoCase(LastName(FolderOf(path)), group);
}

}  // namespace

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
    if (!WalkForms(LastName(item.path)))
      return Because(item, "nameNotWalked",
                     "not looked for: the walk tries four-digit numbers (0000, 0001, ...), never the name \"" +
                         LastName(item.path) + "\"");
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
    std::string deleted;
    for (const std::string& name : calls_.SectionsDeleted()) deleted += (deleted.empty() ? "[" : ", [") + name + "]";
    return Because(item, "notLookedFor",
                   deleted.empty() ? std::string("not looked for: the removal deleted no win.ini section")
                                   : "not looked for: the removal deleted the sections " + deleted + " only");
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
  if (std::optional<RunCalls::ProfileRead> read = calls_.ProfileReadOf(item.path, item.name)) {
    const std::string got = section + " " + item.name + " read as \"" + read->text + "\"";
    if (read->compared)
      return Because(item, "comparedUnequal",
                     "kept: the removal read it (" + got + "), compared \"" + read->comparedText +
                         "\" with the printer's name, and " + read->compareCall + " returned " +
                         std::to_string(read->compareResult) + ", not 0");
    return Because(item, "readNotCompared",
                   "kept: the removal read it (" + got + ") and did not compare it with the printer's name");
  }
  return Because(item, "notTouched", "the removal does not delete it");
}

Remnant Reasons::FileOrFolder(const Item& item) const {
  if (item.kind == kFile) {
    if (calls_.FileDeletion(item.path)) return FileTrouble(item, after_, "its deletion was tried and failed");
    if (InGroup(item.path)) return GroupNotLookedFor(item);
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
  if (InGroup(item.path)) return GroupNotLookedFor(item);
  return Because(item, "notTouched", "the removal does not delete it");
}

// The group (or a shortcut in it) in a Programs folder where the run did not look: where it
// looked instead, and why there, from its calls on the Shell Folders key.
Remnant Reasons::GroupNotLookedFor(const Item& item) const {
  std::string target;
  for (const std::string& folder : calls_.FoldersRemoved()) {
    if (sim::EqualNoCase(LastName(folder), TheProduct().groupName)) target = folder;
  }
  if (target.empty()) return Because(item, "notLookedFor", "not looked for: the removal removed no Start-menu group");
  const std::string parent = FolderOf(target);
  const std::string where =
      parent.empty() ? std::string("C:\\ (the root of the current drive)") : parent.size() == 2 ? parent + "\\" : parent;
  const std::string key = machines::kShellFoldersKey;
  std::string shown = key;
  try {
    const std::string resolved = after_.registry.Resolve(key);
    if (!sim::EqualNoCase(resolved, key)) shown += " (" + resolved + ")";
  } catch (const sim::Unmodelled&) {
  }
  std::string why;
  const std::optional<long> opened = calls_.OpenResult(key);
  const std::optional<RunCalls::KeyVisit> visit = calls_.Visit(key);
  if (opened && *opened != 0)
    why = " because the registry names no Programs folder: the key " + shown +
          " could not be opened (RegOpenKeyExA returned " + std::to_string(*opened) + ")";
  else if (visit && visit->read && visit->readResult != 0)
    why = " because the registry names no Programs folder: the Programs value of " + shown +
          " could not be read (RegQueryValueExA returned " + std::to_string(visit->readResult) + ")";
  else if (opened)
    why = ", the Programs folder that " + shown + " names";
  return Because(item, "notLookedFor", "not looked for: the group is looked for in " + where + why);
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
      return NotCarriedOut(item, line, where);
  }
  return Because(item, "notTouched", "the removal wrote no line for it to " + where);
}

// A line the run wrote to wininit.ini that the next start of Windows did not carry out: where it
// stands in the file after the run, read as the next start reads it (a 0x1A byte ends the file;
// the lines of [rename] sections are carried out, each NUL=PATH deleting PATH), and what met it.
Remnant Reasons::NotCarriedOut(const Item& item, const std::string& line, const std::string& where) const {
  const std::string written = "its line (" + line + ") was written to " + where;
  const std::string bytes = after_.files.ReadFile(where).value_or("");
  const std::size_t at = bytes.rfind(line);
  if (at == std::string::npos)
    return Because(item, "scheduleIneffective", written + ", but the file does not hold it after the run");
  const std::size_t end = bytes.find('\x1A');
  if (end < at)
    return Because(item, "behindCtrlZ",
                   written + " behind a 0x1A byte (byte " + std::to_string(end + 1) +
                       "), where the file ends for the next start of Windows: the line is never read");
  if (at > 0 && bytes[at - 1] != '\n')
    return Because(item, "scheduleIneffective",
                   written + " at the end of the line before it, which then names another file");
  std::optional<std::string> section;
  for (std::string_view text : sim::SplitLines(std::string_view(bytes).substr(0, at))) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    const std::size_t close = text.find(']');
    if (text.size() >= 2 && text.front() == '[' && close != std::string_view::npos)
      section = std::string(text.substr(1, close - 1));
  }
  if (!section)
    return Because(item, "outsideRename",
                   written + " before any section header: the next start of Windows carries out [rename] lines only");
  if (!sim::EqualNoCase(*section, "rename"))
    return Because(item, "outsideRename",
                   written + " under [" + *section + "]: the next start of Windows carries out [rename] lines only");
  const std::string cannot = written + ", and the next start of Windows could not delete it: ";
  if (after_.files.IsDirectory(item.path))
    return Because(item, "folderNotFile", cannot + "a folder stands under this name, not a file");
  const sim::FileAttributes attributes = after_.files.Attributes(item.path).value_or(sim::FileAttributes{});
  if (attributes.inUse) return Because(item, "inUse", cannot + "it is in use by another program");
  if (attributes.readOnly) return Because(item, "readOnly", cannot + "it is read-only");
  return Because(item, "scheduleIneffective", written + ", but the next start of Windows does not carry it out");
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
  if (searches.empty()) {
    const std::string inf = calls_.KeyOfFilePath(JoinPath(after_.windowsDirectory, "INF")) + "\\";
    std::string tried;
    for (const std::string& path : calls_.FilesDeleted()) {
      if (calls_.KeyOfFilePath(path).rfind(inf, 0) == 0) tried += (tried.empty() ? "" : ", ") + path;
    }
    return Because(item, "notSearched",
                   "not tried on " + BuildText() +
                       ": on this build the removal searches no folder for setup information files" +
                       (tried.empty() ? std::string() : "; it deletes " + tried + " only"));
  }
  std::string patterns;
  for (const std::string& pattern : searches) patterns += (patterns.empty() ? "" : ", ") + pattern;
  return Because(item, "notSearched",
                 "not tried on " + BuildText() +
                     ": on this build the removal looks for setup information files only among " + patterns);
}

}  // namespace sandbox
