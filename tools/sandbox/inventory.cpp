// The product's inventory on a machine: see inventory.h. Everything here comes from the test
// side's product table and from the machine; nothing from removal/ or from a run's trace.
#include "inventory.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "product_table.h"
#include "profile_text.h"
#include "sim/text.h"
#include "simulated_machine.h"
#include "win32.h"

namespace sandbox {
namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool ContainsNoCase(std::string_view text, std::string_view part) {
  if (part.empty()) return true;
  if (text.size() < part.size()) return false;
  const char first = sim::UpperAscii(part.front());
  for (std::size_t i = 0; i + part.size() <= text.size(); ++i) {
    if (sim::UpperAscii(text[i]) != first) continue;
    std::size_t j = 1;
    while (j < part.size() && sim::UpperAscii(text[i + j]) == sim::UpperAscii(part[j])) ++j;
    if (j == part.size()) return true;
  }
  return false;
}

bool NamesProduct(std::string_view text) {
  return ContainsNoCase(text, product::kPrinterName) || ContainsNoCase(text, product::kGroupName);
}

// A value's bytes up to the first NUL, whatever its type: the text it reads as.
std::string_view ValueText(const sim::RegValue& value) {
  const std::string_view bytes(reinterpret_cast<const char*>(value.data.data()), value.data.size());
  return bytes.substr(0, bytes.find('\0'));
}

bool IsTextValue(const sim::RegValue& value) { return value.type == REG_SZ || value.type == REG_EXPAND_SZ; }

// A key path below its root ("Software\...") from one that starts with a root name.
std::string_view BelowRoot(std::string_view path) { return path.substr(path.find('\\') + 1); }

using NoCaseSet = std::set<std::string, sim::NoCaseLess>;

// Whether path, or a key above it, is in listed.
bool AtOrBelowListed(std::string_view path, const NoCaseSet& listed) {
  for (std::size_t at = path.find('\\'); at != std::string_view::npos; at = path.find('\\', at + 1)) {
    if (listed.find(path.substr(0, at)) != listed.end()) return true;
  }
  return listed.find(path) != listed.end();
}

// Keys whose own name names the product, anywhere below root.
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

// The product's keys present on the machine, a key below a listed one left out (it goes with it),
// in name order.
std::vector<std::string> RegistryKeys(const sim::Registry& registry) {
  std::vector<std::string> candidates;
  for (const product::FixedKey& key : product::kFixedKeys) candidates.push_back(std::string(key.root) + "\\" + key.path);
  for (const product::InstanceList& list : product::kInstanceLists) {
    const std::string base = std::string("HKEY_LOCAL_MACHINE\\") + list.base;
    const sim::RegKey* baseKey = registry.Find(base);
    if (baseKey == nullptr) continue;
    const std::string resolved = registry.Resolve(base);
    for (const auto& [lower, sub] : baseKey->subkeys) {
      auto value = sub.values.find(list.valueName);
      if (value != sub.values.end() && NamesPrinter(ValueText(value->second)))
        candidates.push_back(resolved + "\\" + sub.name);
    }
  }
  NamedKeys(registry.LocalMachine(), "HKEY_LOCAL_MACHINE", candidates);
  NamedKeys(registry.Users(), "HKEY_USERS", candidates);

  std::vector<std::string> present;
  for (const std::string& candidate : candidates) {
    std::string path;
    try {
      path = registry.Resolve(candidate);
    } catch (const sim::Unmodelled&) {
      continue;
    }
    if (registry.KeyExists(path)) present.push_back(std::move(path));
  }
  // Shorter paths first, so that a key is listed before any key below it.
  std::sort(present.begin(), present.end(), [](const std::string& a, const std::string& b) {
    const auto depthA = std::count(a.begin(), a.end(), '\\'), depthB = std::count(b.begin(), b.end(), '\\');
    return depthA != depthB ? depthA < depthB : sim::NoCaseLess()(a, b);
  });
  NoCaseSet listedSet;
  std::vector<std::string> listed;
  for (std::string& path : present) {
    if (AtOrBelowListed(path, listedSet)) continue;
    listedSet.insert(path);
    listed.push_back(std::move(path));
  }
  std::sort(listed.begin(), listed.end(), sim::NoCaseLess());
  return listed;
}

// Text values that name the product, in keys that are not at or below a listed key: the walk
// never enters a listed key, so one look-up per key tells.
void NamedValues(const sim::RegKey& root, const std::string& rootName, const NoCaseSet& listed,
                 std::vector<Item>& out) {
  std::vector<std::pair<const sim::RegKey*, std::string>> stack = {{&root, rootName}};
  while (!stack.empty()) {
    auto [key, path] = std::move(stack.back());
    stack.pop_back();
    if (listed.find(path) != listed.end()) continue;
    for (const auto& [name, value] : key->values) {
      if (!IsTextValue(value)) continue;
      const std::string_view text = ValueText(value);
      if (NamesProduct(text)) out.push_back({kRegistryValue, path, name.empty() ? "@" : name, std::string(text)});
    }
    for (auto it = key->subkeys.rbegin(); it != key->subkeys.rend(); ++it)
      stack.emplace_back(&it->second, path + "\\" + it->second.name);
  }
}

// A section named after the printer: its name, then nothing or something that is not a letter
// or digit ("-LPT1", " -LPT1"); "ZANTEROVA Karsenby RK5140" is another printer's.
bool SectionNamesPrinter(std::string_view name) {
  const std::string_view printer = product::kPrinterName;
  if (!sim::StartsWithNoCase(name, printer)) return false;
  if (name.size() == printer.size()) return true;
  const auto next = static_cast<unsigned char>(name[printer.size()]);
  return !std::isalnum(next);
}

// win.ini as the profile functions read it. Only lines that hold the printer's name can be its
// lines (a section's, a key's, or device= whose value starts with it), so only those are read.
void ProfileItems(const sim::Machine& machine, std::vector<Item>& out) {
  const std::string_view printer = product::kPrinterName;
  const ProfileText text(machine.files.ReadFile(machine.WinIniPath()).value_or(""));
  for (std::size_t i = 0; i < text.Lines().size(); ++i) {
    if (!ContainsNoCase(text.Lines()[i], printer)) continue;
    const sim::ProfileLine line = text.Line(i);
    if (line.kind == sim::ProfileLine::Header) {
      if (SectionNamesPrinter(line.name)) out.push_back({kProfileSection, line.name, "", ""});
      continue;
    }
    const std::size_t header = text.HeaderAbove(i);
    if (line.kind != sim::ProfileLine::Entry || header == ProfileText::kNone) continue;
    const std::string section = text.Line(header).name;
    if (SectionNamesPrinter(section)) continue;  // goes with its section
    const bool printerKey = (sim::EqualNoCase(section, "Devices") || sim::EqualNoCase(section, "PrinterPorts")) &&
                            NamesPrinter(line.name);
    const std::string_view value = line.value;
    const bool defaultPrinter = sim::EqualNoCase(section, "windows") && sim::EqualNoCase(line.name, "device") &&
                                NamesPrinter(value.substr(0, value.find(',')));
    if (printerKey || defaultPrinter) out.push_back({kProfileKey, section, line.name, line.value});
  }
}

// Every Programs folder of the Start menu: those the users' Shell Folders keys name, then the
// default places.
std::vector<std::string> ProgramsFolders(const sim::Registry& registry, const sim::Machine& machine) {
  std::vector<std::string> folders;
  const std::string shellFolders(BelowRoot(machines::kShellFoldersKey));
  for (const auto& [lower, user] : registry.Users().subkeys) {
    const sim::RegKey* key = registry.Find("HKEY_USERS\\" + user.name + "\\" + shellFolders);
    if (key == nullptr) continue;
    auto value = key->values.find("Programs");
    if (value == key->values.end() || value->second.type == REG_DWORD) continue;
    const std::string_view text = ValueText(value->second);
    if (!text.empty()) folders.emplace_back(text);
  }
  folders.push_back(JoinPath(machine.windowsDirectory, "Start Menu\\Programs"));
  const std::string profiles = JoinPath(machine.windowsDirectory, "Profiles");
  for (const sim::DirEntry& entry : machine.files.List(profiles)) {
    if (entry.isDirectory) folders.push_back(JoinPath(JoinPath(profiles, entry.name), "Start Menu\\Programs"));
  }
  return folders;
}

void Add(const sim::FileSystem& files, const std::string& path, std::vector<Item>& out) {
  out.push_back({files.IsDirectory(path) ? kFolder : kFile, files.LongPath(path), "", ""});
}

void GroupItems(const sim::Registry& registry, const sim::Machine& machine, std::vector<Item>& out) {
  const sim::FileSystem& files = machine.files;
  for (const std::string& programs : ProgramsFolders(registry, machine)) {
    try {
      const std::string group = JoinPath(programs, product::kGroupName);
      if (!files.IsDirectory(group)) continue;
      Add(files, group, out);
      for (const char* shortcut : product::kShortcuts) {
        const std::string path = JoinPath(group, shortcut);
        if (files.Exists(path)) Add(files, path, out);
      }
    } catch (const sim::Unmodelled&) {
      continue;  // a path no Windows folder can have (a UNC path, "..")
    }
  }
}

void FileItems(const sim::Machine& machine, std::vector<Item>& out) {
  const sim::FileSystem& files = machine.files;
  std::vector<const char*> names(std::begin(product::kSystemFiles), std::end(product::kSystemFiles));
  names.insert(names.end(), std::begin(product::kDeferredFiles), std::end(product::kDeferredFiles));
  for (const char* name : names) {
    const std::string path = JoinPath(machine.systemDirectory, name);
    if (files.Exists(path)) Add(files, path, out);
  }
  const std::string_view fixed = product::kFixedInfFile;
  const std::string_view fixedName = fixed.substr(fixed.rfind('\\') + 1);
  const std::string inf = JoinPath(machine.windowsDirectory, "INF");
  for (const std::string& folder : {inf, JoinPath(inf, "OTHER")}) {
    const bool other = folder != inf;
    for (const sim::DirEntry& entry : files.List(folder)) {
      if (entry.isDirectory) continue;
      const std::string path = JoinPath(folder, entry.name);
      if ((other && sim::EqualNoCase(entry.name, fixedName)) ||
          ContainsNoCase(files.ReadFile(path).value_or(""), product::kMarker))
        Add(files, path, out);
    }
  }
}

}  // namespace

bool NamesPrinter(std::string_view text) { return sim::EqualNoCase(Trimmed(text), product::kPrinterName); }

std::string KeyOf(const Item& item) { return item.kind + "\n" + ItemText(item); }

std::vector<Item> RegistryInventory(const sim::Registry& registry) {
  std::vector<Item> items;
  const std::vector<std::string> keys = RegistryKeys(registry);
  for (const std::string& key : keys) items.push_back({kRegistryKey, key, "", ""});
  const NoCaseSet listed(keys.begin(), keys.end());
  NamedValues(registry.LocalMachine(), "HKEY_LOCAL_MACHINE", listed, items);
  NamedValues(registry.Users(), "HKEY_USERS", listed, items);
  return items;
}

std::vector<Item> FilesInventory(const sim::Registry& registry, const sim::Machine& machine) {
  std::vector<Item> items;
  ProfileItems(machine, items);
  GroupItems(registry, machine, items);
  FileItems(machine, items);
  return items;
}

std::vector<Item> Inventory(const sim::Machine& machine) {
  return Inventory(RegistryInventory(machine.registry), FilesInventory(machine.registry, machine));
}

std::vector<Item> Inventory(std::vector<Item> registryItems, std::vector<Item> fileItems) {
  std::vector<Item> items = std::move(registryItems);
  items.insert(items.end(), std::make_move_iterator(fileItems.begin()), std::make_move_iterator(fileItems.end()));
  // A piece found twice (a section given twice, a Programs folder named twice) is one piece.
  std::set<std::string> seen;
  std::erase_if(items, [&](const Item& item) { return !seen.insert(KeyOf(item)).second; });
  return items;
}

}  // namespace sandbox
