// The diff of a machine before and after a run: see diff.h. Every walk keeps its own stack, so
// that no depth of keys or folders can exhaust the program's.
#include "diff.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "profile_text.h"
#include "sim/text.h"

namespace sandbox {
namespace {

std::string ValueName(const std::string& name) { return name.empty() ? "@" : name; }

// Every key of a removed tree, parents before children, each level in name order.
void AddRemovedTree(const sim::RegKey& top, const std::string& topPath, MachineDiff& diff) {
  std::vector<std::pair<const sim::RegKey*, std::string>> stack = {{&top, topPath}};
  while (!stack.empty()) {
    auto [key, path] = std::move(stack.back());
    stack.pop_back();
    diff.removed.push_back({kRegistryKey, path, "", ""});
    for (auto it = key->subkeys.rbegin(); it != key->subkeys.rend(); ++it)
      stack.emplace_back(&it->second, path + "\\" + it->second.name);
  }
}

void DiffRegistry(const sim::RegKey& beforeRoot, const sim::RegKey& afterRoot, const std::string& rootName,
                  MachineDiff& diff) {
  struct Pair {
    const sim::RegKey* before;
    const sim::RegKey* after;
    std::string path;
  };
  std::vector<Pair> stack = {{&beforeRoot, &afterRoot, rootName}};
  while (!stack.empty()) {
    Pair pair = std::move(stack.back());
    stack.pop_back();
    const sim::RegKey& before = *pair.before;
    const sim::RegKey& after = *pair.after;
    for (const auto& [name, value] : before.values) {
      auto now = after.values.find(name);
      if (now == after.values.end()) diff.removed.push_back({kRegistryValue, pair.path, ValueName(name), ""});
      else if (!(now->second == value))
        diff.changed.push_back({{kRegistryValue, pair.path, ValueName(name), ""}, "changed"});
    }
    for (const auto& [name, value] : after.values) {
      if (before.values.count(name) == 0)
        diff.changed.push_back({{kRegistryValue, pair.path, ValueName(name), ""}, "added"});
    }
    std::vector<Pair> below;
    for (const auto& [lower, sub] : before.subkeys) {
      auto now = after.subkeys.find(lower);
      if (now == after.subkeys.end()) AddRemovedTree(sub, pair.path + "\\" + sub.name, diff);
      else below.push_back({&sub, &now->second, pair.path + "\\" + sub.name});
    }
    for (const auto& [lower, sub] : after.subkeys) {
      if (before.subkeys.count(lower) == 0)
        diff.changed.push_back({{kRegistryKey, pair.path + "\\" + sub.name, "", ""}, "added"});
    }
    stack.insert(stack.end(), std::make_move_iterator(below.rbegin()), std::make_move_iterator(below.rend()));
  }
}

// Every file and folder of a removed folder, the folder first.
void AddRemovedFolder(const sim::FileSystem& files, const std::string& top, MachineDiff& diff) {
  std::vector<std::string> stack = {top};
  while (!stack.empty()) {
    std::string folder = std::move(stack.back());
    stack.pop_back();
    diff.removed.push_back({kFolder, folder, "", ""});
    std::vector<std::string> folders;
    for (const sim::DirEntry& entry : files.List(folder)) {
      if (entry.isDirectory) folders.push_back(JoinPath(folder, entry.name));
      else diff.removed.push_back({kFile, JoinPath(folder, entry.name), "", ""});
    }
    stack.insert(stack.end(), folders.rbegin(), folders.rend());
  }
}

// win.ini and wininit.ini: their contents are shown otherwise (as sections and keys, as lines).
struct ShownApart {
  std::string winIni, wininit;  // upper-case long paths
};

void DiffFiles(const sim::FileSystem& before, const sim::FileSystem& after, const std::string& root,
               const ShownApart& apart, MachineDiff& diff) {
  std::vector<std::string> stack = {root};
  while (!stack.empty()) {
    const std::string folder = std::move(stack.back());
    stack.pop_back();
    std::map<std::string, sim::DirEntry> now;
    for (sim::DirEntry& entry : after.List(folder)) now.emplace(sim::UpperAscii(entry.name), std::move(entry));
    std::vector<std::string> below;
    for (const sim::DirEntry& entry : before.List(folder)) {
      const std::string path = JoinPath(folder, entry.name);
      auto it = now.find(sim::UpperAscii(entry.name));
      if (it == now.end()) {
        if (entry.isDirectory) AddRemovedFolder(before, path, diff);
        else diff.removed.push_back({kFile, path, "", ""});
        continue;
      }
      const sim::DirEntry then = std::move(it->second);
      now.erase(it);
      const char* kind = entry.isDirectory ? kFolder : kFile;
      if (entry.isDirectory != then.isDirectory) {
        diff.changed.push_back(
            {{kind, path, "", ""}, entry.isDirectory ? "changed: now a file" : "changed: now a folder"});
      } else if (entry.isDirectory) {
        if (!(entry.attributes == then.attributes))
          diff.changed.push_back({{kind, path, "", ""}, "attributes changed"});
        below.push_back(path);
      } else if (!(entry.attributes == then.attributes)) {
        diff.changed.push_back({{kind, path, "", ""}, "attributes changed"});
      } else {
        const std::string key = sim::UpperAscii(path);
        if (key != apart.winIni && key != apart.wininit && before.ReadFile(path) != after.ReadFile(path))
          diff.changed.push_back({{kind, path, "", ""}, "changed"});
      }
    }
    for (const auto& [upper, entry] : now) {
      const std::string path = JoinPath(folder, entry.name);
      if (sim::UpperAscii(path) == apart.wininit) continue;  // shown with the lines added to it
      diff.changed.push_back({{entry.isDirectory ? kFolder : kFile, path, "", ""}, "added"});
    }
    stack.insert(stack.end(), below.rbegin(), below.rend());
  }
}

// The lines of win.ini that the run removed or added, as sections and keys: a removed header takes
// the lines of its section with it; a key removed and added again in the same section is changed.
// Only the lines that changed, and the headers above them, are read.
void DiffProfile(std::string beforeBytes, std::string afterBytes, const std::string& path, MachineDiff& diff) {
  const ProfileText a(std::move(beforeBytes)), b(std::move(afterBytes));
  const LineEdits edits = DiffLines(a.Lines(), b.Lines());
  const std::set<std::size_t> gone(edits.removed.begin(), edits.removed.end());
  const std::set<std::size_t> come(edits.added.begin(), edits.added.end());
  auto sectionOf = [](const ProfileText& text, std::size_t header) {
    return header == ProfileText::kNone ? std::string() : text.Line(header).name;
  };

  bool blankLines = false;
  std::vector<Item> removedKeys;
  for (std::size_t i : edits.removed) {
    const sim::ProfileLine line = a.Line(i);
    if (line.kind == sim::ProfileLine::Header) diff.removed.push_back({kProfileSection, line.name, "", ""});
    else if (gone.count(a.HeaderAbove(i)) != 0) continue;  // goes with its section
    else if (line.kind == sim::ProfileLine::Blank) blankLines = true;
    else removedKeys.push_back({kProfileKey, sectionOf(a, a.HeaderAbove(i)), line.name, ""});
  }
  std::vector<Item> addedKeys;
  for (std::size_t j : edits.added) {
    const sim::ProfileLine line = b.Line(j);
    if (line.kind == sim::ProfileLine::Header) diff.changed.push_back({{kProfileSection, line.name, "", ""}, "added"});
    else if (come.count(b.HeaderAbove(j)) != 0) continue;
    else if (line.kind == sim::ProfileLine::Blank) blankLines = true;
    else addedKeys.push_back({kProfileKey, sectionOf(b, b.HeaderAbove(j)), line.name, ""});
  }
  auto same = [](const Item& x, const Item& y) {
    return sim::UpperAscii(x.path) == sim::UpperAscii(y.path) && sim::UpperAscii(x.name) == sim::UpperAscii(y.name);
  };
  for (const Item& key : removedKeys) {
    auto again = std::find_if(addedKeys.begin(), addedKeys.end(), [&](const Item& added) { return same(key, added); });
    if (again == addedKeys.end()) {
      diff.removed.push_back(key);
    } else {
      diff.changed.push_back({key, "changed"});
      addedKeys.erase(again);
    }
  }
  for (const Item& key : addedKeys) diff.changed.push_back({key, "added"});
  if (blankLines) diff.changed.push_back({{kFile, path, "", ""}, "blank lines added or removed"});
}

// The lines that the run added to wininit.ini: everything after the part it kept of the old file
// (a final 0x1A byte may be gone), without the line end that completes the old last line.
void DiffWininit(const sim::Machine& before, const sim::Machine& after, MachineDiff& diff) {
  diff.wininitPath = after.files.LongPath(JoinPath(after.windowsDirectory, "wininit.ini"));
  const std::optional<std::string> old = before.files.ReadFile(diff.wininitPath);
  const std::optional<std::string> now = after.files.ReadFile(diff.wininitPath);
  if (!now) return;
  diff.wininitCreated = !old;
  const std::string_view kept = old ? std::string_view(*old) : std::string_view();
  const std::size_t common = std::mismatch(kept.begin(), kept.end(), now->begin(), now->end()).first - kept.begin();
  std::string_view added = std::string_view(*now).substr(common);
  if (common > 0 && kept[common - 1] != '\n' && added.substr(0, 2) == "\r\n") added.remove_prefix(2);
  for (std::string_view line : sim::SplitLines(added)) diff.wininitLines.emplace_back(line);
}

}  // namespace

LineEdits DiffLines(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b,
                    std::size_t maxEdits) {
  LineEdits edits;
  std::size_t start = 0;
  while (start < a.size() && start < b.size() && a[start] == b[start]) ++start;
  std::size_t endA = a.size(), endB = b.size();
  while (endA > start && endB > start && a[endA - 1] == b[endB - 1]) {
    --endA;
    --endB;
  }
  const long n = static_cast<long>(endA - start), m = static_cast<long>(endB - start);
  // v[offset + k] is the furthest x reached on diagonal k = x - y; before each round d the
  // diagonals -d..d of v are kept for the way back.
  const long limit = std::min(n + m, static_cast<long>(maxEdits));
  const long offset = limit + 1;
  std::vector<long> v(static_cast<std::size_t>(2 * limit + 3), 0);
  std::vector<std::vector<long>> rounds;
  long found = -1;
  for (long d = 0; d <= limit && found < 0; ++d) {
    rounds.emplace_back(v.begin() + (offset - d), v.begin() + (offset + d + 1));
    for (long k = -d; k <= d; k += 2) {
      long x =
          (k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1])) ? v[offset + k + 1] : v[offset + k - 1] + 1;
      long y = x - k;
      while (x < n && y < m && a[start + x] == b[start + y]) {
        ++x;
        ++y;
      }
      v[offset + k] = x;
      if (x >= n && y >= m) {
        found = d;
        break;
      }
    }
  }
  if (found < 0) {
    for (std::size_t i = start; i < endA; ++i) edits.removed.push_back(i);
    for (std::size_t j = start; j < endB; ++j) edits.added.push_back(j);
    return edits;
  }
  long x = n, y = m;
  for (long d = found; d > 0; --d) {
    const std::vector<long>& before = rounds[static_cast<std::size_t>(d)];
    auto at = [&](long k) { return before[static_cast<std::size_t>(k + d)]; };
    const long k = x - y;
    const bool down = k == -d || (k != d && at(k - 1) < at(k + 1));
    const long previousK = down ? k + 1 : k - 1;
    const long previousX = at(previousK);
    const long previousY = previousX - previousK;
    if (down) edits.added.push_back(start + static_cast<std::size_t>(previousY));
    else edits.removed.push_back(start + static_cast<std::size_t>(previousX));
    x = previousX;
    y = previousY;
  }
  std::reverse(edits.removed.begin(), edits.removed.end());
  std::reverse(edits.added.begin(), edits.added.end());
  return edits;
}

MachineDiff DiffMachines(const sim::Machine& before, const sim::Machine& after) {
  MachineDiff diff;
  DiffRegistry(before.registry.LocalMachine(), after.registry.LocalMachine(), "HKEY_LOCAL_MACHINE", diff);
  DiffRegistry(before.registry.Users(), after.registry.Users(), "HKEY_USERS", diff);
  const std::string winIni = after.files.LongPath(after.WinIniPath());
  DiffProfile(before.files.ReadFile(winIni).value_or(""), after.files.ReadFile(winIni).value_or(""), winIni, diff);
  const ShownApart apart{sim::UpperAscii(winIni),
                         sim::UpperAscii(after.files.LongPath(JoinPath(after.windowsDirectory, "wininit.ini")))};
  const std::vector<char> drivesBefore = before.files.Drives();
  for (char drive : drivesBefore) DiffFiles(before.files, after.files, std::string(1, drive) + ":\\", apart, diff);
  for (char drive : after.files.Drives()) {
    if (std::find(drivesBefore.begin(), drivesBefore.end(), drive) == drivesBefore.end())
      diff.changed.push_back({{kFolder, std::string(1, drive) + ":\\", "", ""}, "added"});
  }
  DiffWininit(before, after, diff);
  return diff;
}

}  // namespace sandbox
