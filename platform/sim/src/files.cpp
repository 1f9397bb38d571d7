// The simulated drives: one tree of folders and files per drive letter. A folder keeps its entries
// in creation order (as a FAT directory yields them) and an index by upper-cased long name and
// alias beside it, so that a lookup or a deletion costs the same in a folder of 10,000 files.
#include "sim/files.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <unordered_map>

#include "file_tree.h"
#include "sim/errors.h"
#include "sim/text.h"
#include "win32.h"

namespace sim {

namespace tree {

bool HasWildcard(std::string_view text) { return text.find_first_of("*?") != std::string_view::npos; }

void CheckComponent(std::string_view path, std::string_view part, bool wildcards) {
  if (part == "." || part == "..")
    throw Unmodelled("path \"" + std::string(path) + "\": \".\" and \"..\" are not modelled");
  for (unsigned char c : part) {
    if (wildcards && (c == '*' || c == '?')) continue;
    if (!IsValidLongChar(c))
      throw Unmodelled("path \"" + std::string(path) + "\": a name holds a character Windows refuses");
  }
  if (part.back() == '.' || part.back() == ' ')
    throw Unmodelled("path \"" + std::string(path) + "\": a name ending in a dot or a blank is not modelled");
}

// "C:\A\B" or "\A\B" (the current drive, C:); empty components ("C:\A\\B", a trailing
// backslash) are skipped as Windows does. The last component may hold * and ? for a search.
ParsedPath Parse(std::string_view path, bool wildcardsInLast) {
  auto text = [path] { return std::string(path); };
  if (path.find('/') != std::string_view::npos)
    throw Unmodelled("path \"" + text() + "\": forward slashes are not modelled");
  if (path.substr(0, 2) == "\\\\") throw Unmodelled("path \"" + text() + "\": UNC paths are not modelled");
  ParsedPath parsed;
  std::string_view rest;
  if (!path.empty() && path[0] == '\\') {
    rest = path.substr(1);
  } else if (path.size() >= 3 && path[1] == ':' && path[2] == '\\' &&
             ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
    parsed.drive = static_cast<char>(path[0] & ~0x20);
    rest = path.substr(3);
  } else {
    throw Unmodelled("path \"" + text() + "\": relative paths are not modelled");
  }
  while (!rest.empty()) {
    const std::size_t slash = rest.find('\\');
    const std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (part.empty()) continue;
    CheckComponent(path, part, wildcardsInLast && rest.find_first_not_of('\\') == std::string_view::npos);
    parsed.parts.emplace_back(part);
  }
  return parsed;
}

// How Windows reads a path that a program passes: '/' is a backslash, "." and ".." are resolved
// (".." at a root stays there), the trailing dots and blanks of a name are dropped, a path
// without a drive is on drive C: and one without a root starts at the current directory, the
// root of C: ("C:A" included). A network path has no drive here: ERROR_BAD_NETPATH; a name with
// a character that Windows refuses, wildcards included: ERROR_INVALID_NAME.
std::uint32_t Canonical(std::string_view path, ParsedPath& parsed) {
  parsed.drive = 'C';
  parsed.parts.clear();
  auto separator = [](char c) { return c == '\\' || c == '/'; };
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  if (path.size() >= 2 && separator(path[0]) && separator(path[1])) return ERROR_BAD_NETPATH;
  if (path.size() >= 2 && path[1] == ':') {
    const char letter = UpperAscii(path[0]);
    if (letter < 'A' || letter > 'Z') return ERROR_INVALID_NAME;
    parsed.drive = letter;
    path.remove_prefix(2);
  }
  while (!path.empty()) {
    const std::size_t end = std::min(path.find_first_of("\\/"), path.size());
    std::string_view part = path.substr(0, end);
    path.remove_prefix(end < path.size() ? end + 1 : end);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parsed.parts.empty()) parsed.parts.pop_back();
      continue;
    }
    while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.remove_suffix(1);
    if (part.empty()) return ERROR_INVALID_NAME;  // "...", or a name of blanks
    for (unsigned char c : part)
      if (!IsValidLongChar(c)) return ERROR_INVALID_NAME;
    parsed.parts.emplace_back(part);
  }
  return 0;
}

Node* Child(const Node& folder, std::string_view name) {
  const auto found = folder.index.find(UpperAscii(name));
  return found == folder.index.end() ? nullptr : found->second;
}

struct Resolved {
  Node* parent = nullptr;   // the folder that holds (or would hold) the last component
  Node* node = nullptr;     // nullptr when missing
  std::uint32_t error = 0;  // ERROR_PATH_NOT_FOUND when a folder on the way is missing
};

Resolved Walk(Node* root, const ParsedPath& parsed) {
  Resolved result;
  if (root == nullptr) {
    result.error = ERROR_PATH_NOT_FOUND;
    return result;
  }
  Node* folder = root;
  for (std::size_t i = 0; i + 1 < parsed.parts.size(); ++i) {
    folder = Child(*folder, parsed.parts[i]);
    if (folder == nullptr || !folder->isDirectory) {
      result.error = ERROR_PATH_NOT_FOUND;
      return result;
    }
  }
  if (parsed.parts.empty()) {
    result.node = root;
    return result;
  }
  result.parent = folder;
  result.node = Child(*folder, parsed.parts.back());
  return result;
}

// The lowest ~N that no entry of the folder uses, with the basis cut to make room for N's digits.
std::string GenerateAlias(Node& folder, std::string_view longName) {
  std::string extension;
  const std::string basis = AliasBasis(longName, &extension);
  if (basis.empty()) throw Unmodelled("name \"" + std::string(longName) + "\": no character is valid in a short name");
  const std::string hintKey = basis + "." + extension;
  int n = 1;
  const auto hint = folder.aliasHints.find(hintKey);
  if (hint != folder.aliasHints.end() && hint->second.first == folder.removals) n = hint->second.second;
  for (; n <= 999999; ++n) {
    const std::string digits = std::to_string(n);
    const std::size_t keep = std::min(basis.size(), 7 - digits.size());
    std::string alias = basis.substr(0, keep) + "~" + digits;
    if (!extension.empty()) alias += "." + extension;
    if (folder.index.count(alias) == 0) {
      folder.aliasHints[hintKey] = {folder.removals, n + 1};
      return alias;
    }
  }
  throw Unmodelled("name \"" + std::string(longName) + "\": every alias ~1 to ~999999 is taken");
}

void IndexEntry(Node& folder, Node* entry) {
  folder.index[UpperAscii(entry->name)] = entry;
  if (!entry->shortName.empty()) folder.index[entry->shortName] = entry;
}

Node* Insert(Node& folder, std::unique_ptr<Node> entry, bool withAlias) {
  Node* raw = entry.get();
  if (withAlias && !IsValidShortName(raw->name)) raw->shortName = GenerateAlias(folder, raw->name);
  raw->order = folder.nextOrder++;
  folder.entries.emplace(raw->order, std::move(entry));
  IndexEntry(folder, raw);
  return raw;
}

void Remove(Node& folder, Node* entry) {
  folder.index.erase(UpperAscii(entry->name));
  if (!entry->shortName.empty()) folder.index.erase(entry->shortName);
  ++folder.removals;
  folder.entries.erase(entry->order);
}

std::unique_ptr<Node> NewNode(std::string name, bool isDirectory) {
  auto node = std::make_unique<Node>();
  node->name = std::move(name);
  node->isDirectory = isDirectory;
  return node;
}

std::unique_ptr<Node> CopyTree(const Node& source) {
  auto copy = std::make_unique<Node>();
  copy->name = source.name;
  copy->shortName = source.shortName;
  copy->isDirectory = source.isDirectory;
  copy->bytes = source.bytes;
  copy->attributes = source.attributes;
  copy->order = source.order;
  copy->nextOrder = source.nextOrder;
  copy->removals = source.removals;
  copy->aliasHints = source.aliasHints;
  for (const auto& [order, entry] : source.entries) {
    auto child = CopyTree(*entry);
    IndexEntry(*copy, child.get());
    copy->entries.emplace(order, std::move(child));
  }
  return copy;
}

bool SameTree(const Node& a, const Node& b) {
  if (a.name != b.name || a.isDirectory != b.isDirectory || a.bytes != b.bytes || !(a.attributes == b.attributes) ||
      a.entries.size() != b.entries.size())
    return false;
  for (const auto& [order, entry] : a.entries) {
    const Node* other = Child(b, entry->name);
    if (other == nullptr || !SameTree(*entry, *other)) return false;
  }
  return true;
}

DirEntry EntryOf(const Node& node) {
  DirEntry entry;
  entry.name = node.name;
  entry.shortName = node.shortName;
  entry.isDirectory = node.isDirectory;
  entry.size = node.bytes.size();
  entry.attributes = node.attributes;
  return entry;
}

DirEntry DotEntry(const char* name) {
  DirEntry entry;
  entry.name = name;
  entry.isDirectory = true;
  return entry;
}

}  // namespace tree

using namespace tree;

// ---- Construction and copies.

FileSystem::FileSystem() { drives_['C'] = NewNode("", true); }

FileSystem::FileSystem(const FileSystem& other) {
  for (const auto& [letter, root] : other.drives_) drives_[letter] = CopyTree(*root);
}

FileSystem& FileSystem::operator=(const FileSystem& other) {
  if (this != &other) {
    FileSystem copy(other);
    drives_ = std::move(copy.drives_);
  }
  return *this;
}

FileSystem::FileSystem(FileSystem&&) noexcept = default;
FileSystem& FileSystem::operator=(FileSystem&&) noexcept = default;
FileSystem::~FileSystem() = default;

bool FileSystem::operator==(const FileSystem& other) const {
  if (drives_.size() != other.drives_.size()) return false;
  for (const auto& [letter, root] : drives_) {
    const auto found = other.drives_.find(letter);
    if (found == other.drives_.end() || !SameTree(*root, *found->second)) return false;
  }
  return true;
}

std::vector<char> FileSystem::Drives() const {
  std::vector<char> letters;
  for (const auto& [letter, root] : drives_) letters.push_back(letter);
  return letters;
}

// ---- Building the tree (test and image set-up).

namespace {

Node* MakeFolders(std::map<char, std::unique_ptr<Node>>& drives, const ParsedPath& parsed, std::size_t count,
                  std::string_view path) {
  auto& root = drives[parsed.drive];
  if (!root) root = NewNode("", true);
  Node* folder = root.get();
  for (std::size_t i = 0; i < count; ++i) {
    Node* next = Child(*folder, parsed.parts[i]);
    if (next == nullptr) next = Insert(*folder, NewNode(parsed.parts[i], true));
    if (!next->isDirectory) throw Unmodelled("path \"" + std::string(path) + "\": \"" + next->name + "\" is a file");
    folder = next;
  }
  return folder;
}

}  // namespace

void FileSystem::MakeDirectory(std::string_view path) {
  const ParsedPath parsed = Parse(path);
  MakeFolders(drives_, parsed, parsed.parts.size(), path);
}

void FileSystem::WriteFile(std::string_view path, std::string_view bytes, FileAttributes attributes) {
  const ParsedPath parsed = Parse(path);
  if (parsed.parts.empty()) throw Unmodelled("WriteFile \"" + std::string(path) + "\": the root of a drive");
  Node* folder = MakeFolders(drives_, parsed, parsed.parts.size() - 1, path);
  Node* file = Child(*folder, parsed.parts.back());
  if (file == nullptr) file = Insert(*folder, NewNode(parsed.parts.back(), false));
  if (file->isDirectory) throw Unmodelled("WriteFile \"" + std::string(path) + "\": a folder of that name exists");
  file->bytes.assign(bytes);
  file->attributes = attributes;
}

void FileSystem::AddEntry(std::string_view folderPath, const DirEntry& entry, std::string_view bytes) {
  const std::string where = "AddEntry \"" + std::string(folderPath) + "\\" + entry.name + "\": ";
  Node* folder = const_cast<Node*>(Lookup(drives_, folderPath));
  if (folder == nullptr || !folder->isDirectory) throw Unmodelled(where + "no such folder");
  CheckComponent(entry.name, entry.name, false);
  const std::string alias = EqualNoCase(entry.shortName, entry.name) ? "" : UpperAscii(entry.shortName);
  if (Child(*folder, entry.name) != nullptr || (!alias.empty() && Child(*folder, alias) != nullptr))
    throw Unmodelled(where + "the folder holds that name already");
  auto node = NewNode(entry.name, entry.isDirectory);
  node->shortName = alias;
  node->attributes = entry.attributes;
  if (!entry.isDirectory) node->bytes.assign(bytes);
  Insert(*folder, std::move(node), false);
}

// ---- Queries.

namespace tree {

const Node* Lookup(const std::map<char, std::unique_ptr<Node>>& drives, std::string_view path) {
  ParsedPath parsed;
  if (Canonical(path, parsed) != 0) return nullptr;  // no name on these drives
  const auto drive = drives.find(parsed.drive);
  return Walk(drive == drives.end() ? nullptr : drive->second.get(), parsed).node;
}

}  // namespace tree

std::optional<std::string> FileSystem::ReadFile(std::string_view path) const {
  const Node* node = Lookup(drives_, path);
  if (node == nullptr || node->isDirectory) return std::nullopt;
  return node->bytes;
}

bool FileSystem::Exists(std::string_view path) const { return Lookup(drives_, path) != nullptr; }

bool FileSystem::IsDirectory(std::string_view path) const {
  const Node* node = Lookup(drives_, path);
  return node != nullptr && node->isDirectory;
}

bool FileSystem::IsFile(std::string_view path) const {
  const Node* node = Lookup(drives_, path);
  return node != nullptr && !node->isDirectory;
}

std::optional<FileAttributes> FileSystem::Attributes(std::string_view path) const {
  const Node* node = Lookup(drives_, path);
  if (node == nullptr) return std::nullopt;
  return node->attributes;
}

void FileSystem::SetAttributes(std::string_view path, FileAttributes attributes) {
  Node* node = const_cast<Node*>(Lookup(drives_, path));
  if (node == nullptr) throw Unmodelled("SetAttributes \"" + std::string(path) + "\": no such file or folder");
  node->attributes = attributes;
}

std::string FileSystem::LongPath(std::string_view path) const {
  ParsedPath parsed;
  if (Canonical(path, parsed) != 0)
    throw Unmodelled("path \"" + std::string(path) + "\": not a name on the simulated drives");
  std::string text = std::string(1, parsed.drive) + ":";
  const auto drive = drives_.find(parsed.drive);
  const Node* folder = drive == drives_.end() ? nullptr : drive->second.get();
  for (const std::string& part : parsed.parts) {
    const Node* next = folder == nullptr ? nullptr : Child(*folder, part);
    text += "\\" + (next == nullptr ? part : next->name);
    folder = next != nullptr && next->isDirectory ? next : nullptr;
  }
  if (parsed.parts.empty()) text += "\\";
  return text;
}

std::vector<DirEntry> FileSystem::List(std::string_view folderPath) const {
  std::vector<DirEntry> list;
  const Node* folder = Lookup(drives_, folderPath);
  if (folder == nullptr || !folder->isDirectory) return list;
  list.reserve(folder->entries.size());
  for (const auto& [order, entry] : folder->entries) list.push_back(EntryOf(*entry));
  return list;
}

// ---- Win32 meanings.

namespace {

Resolved ResolveFor(std::map<char, std::unique_ptr<Node>>& drives, std::string_view path, ParsedPath& parsed) {
  Resolved refused;
  if ((refused.error = Canonical(path, parsed)) != 0) return refused;
  const auto drive = drives.find(parsed.drive);
  return Walk(drive == drives.end() ? nullptr : drive->second.get(), parsed);
}

Resolved ResolveFor(std::map<char, std::unique_ptr<Node>>& drives, std::string_view path) {
  ParsedPath parsed;
  return ResolveFor(drives, path, parsed);
}

// The refusals that writing a file meets: a folder or a read-only file, a file in use.
std::uint32_t WriteRefusal(const Node& node) {
  if (node.isDirectory || node.attributes.readOnly) return ERROR_ACCESS_DENIED;
  if (node.attributes.inUse) return ERROR_SHARING_VIOLATION;
  return 0;
}

}  // namespace

std::uint32_t FileSystem::Delete(std::string_view path) {
  const Resolved found = ResolveFor(drives_, path);
  if (found.error != 0) return found.error;
  if (found.node == nullptr) return ERROR_FILE_NOT_FOUND;
  if (const std::uint32_t refusal = WriteRefusal(*found.node)) return refusal;
  Remove(*found.parent, found.node);
  return 0;
}

std::uint32_t FileSystem::RemoveDirectory(std::string_view path) {
  const Resolved found = ResolveFor(drives_, path);
  if (found.error != 0) return found.error;
  if (found.node == nullptr) return ERROR_FILE_NOT_FOUND;
  if (found.parent == nullptr) return ERROR_ACCESS_DENIED;  // the root of a drive
  if (!found.node->isDirectory) return ERROR_DIRECTORY;
  if (found.node->attributes.readOnly) return ERROR_ACCESS_DENIED;
  if (found.node->attributes.inUse) return ERROR_SHARING_VIOLATION;
  if (!found.node->entries.empty()) return ERROR_DIR_NOT_EMPTY;
  Remove(*found.parent, found.node);
  return 0;
}

std::uint32_t FileSystem::Append(std::string_view path, std::string_view bytes) {
  const Resolved found = ResolveFor(drives_, path);
  if (found.error != 0) return found.error;
  if (found.node == nullptr) return ERROR_FILE_NOT_FOUND;
  if (const std::uint32_t refusal = WriteRefusal(*found.node)) return refusal;
  found.node->bytes.append(bytes);
  return 0;
}

std::uint32_t FileSystem::Replace(std::string_view path, std::string_view bytes) {
  ParsedPath parsed;
  const Resolved found = ResolveFor(drives_, path, parsed);
  if (found.error != 0) return found.error;
  if (found.parent == nullptr) return ERROR_ACCESS_DENIED;  // the root of a drive
  Node* file = found.node;
  if (file == nullptr) {
    file = Insert(*found.parent, NewNode(parsed.parts.back(), false));
  } else if (const std::uint32_t refusal = WriteRefusal(*file)) {
    return refusal;
  }
  file->bytes.assign(bytes);
  return 0;
}

// ---- Files in place.

std::optional<std::uint64_t> FileSystem::FileSize(std::string_view path) const {
  const Node* node = Lookup(drives_, path);
  if (node == nullptr || node->isDirectory) return std::nullopt;
  return node->bytes.size();
}

std::size_t FileSystem::ReadAt(std::string_view path, std::uint64_t offset, char* into, std::size_t count) const {
  const Node* node = Lookup(drives_, path);
  if (node == nullptr || node->isDirectory || offset >= node->bytes.size()) return 0;
  return node->bytes.copy(into, count, static_cast<std::size_t>(offset));
}

bool FileSystem::WriteAt(std::string_view path, std::uint64_t offset, std::string_view bytes) {
  Node* node = ResolveFor(drives_, path).node;
  if (node == nullptr || node->isDirectory) return false;
  if (offset + bytes.size() > node->bytes.size()) node->bytes.resize(static_cast<std::size_t>(offset + bytes.size()));
  node->bytes.replace(static_cast<std::size_t>(offset), bytes.size(), bytes);
  return true;
}

bool FileSystem::Resize(std::string_view path, std::uint64_t size) {
  Node* node = ResolveFor(drives_, path).node;
  if (node == nullptr || node->isDirectory) return false;
  node->bytes.resize(static_cast<std::size_t>(size));
  return true;
}

// ---- Directory search.

std::uint32_t FileSystem::Search(std::string_view pattern, std::vector<DirEntry>& found) const {
  found.clear();
  const std::size_t slash = pattern.find_last_of("\\/:");
  const std::string_view name = slash == std::string_view::npos ? pattern : pattern.substr(slash + 1);
  ParsedPath folderPath;
  const std::string_view folderText = slash == std::string_view::npos ? "." : pattern.substr(0, slash + 1);
  if (const std::uint32_t error = Canonical(folderText, folderPath)) return error;
  if (!name.empty()) {
    if (name == "." || name == ".." || name.back() == '.' || name.back() == ' ')
      throw Unmodelled("search \"" + std::string(pattern) + "\": a pattern ending in a dot or a blank is not modelled");
    for (unsigned char c : name)
      if (c != '*' && c != '?' && !IsValidLongChar(c)) return ERROR_INVALID_NAME;
  }

  const auto drive = drives_.find(folderPath.drive);
  const Node* folder = Walk(drive == drives_.end() ? nullptr : drive->second.get(), folderPath).node;
  if (folder == nullptr || !folder->isDirectory) return ERROR_PATH_NOT_FOUND;
  if (name.empty()) return ERROR_FILE_NOT_FOUND;

  if (!HasWildcard(name)) {  // an exact name: one lookup, whatever the folder holds
    if (const Node* entry = Child(*folder, name)) found.push_back(EntryOf(*entry));
  } else {
    if (!folderPath.parts.empty()) {  // a FAT sub-folder holds "." and ".." first
      for (const char* dot : {".", ".."})
        if (WildcardMatch(name, dot)) found.push_back(DotEntry(dot));
    }
    for (const auto& [order, entry] : folder->entries) {
      if (WildcardMatch(name, entry->name) || (!entry->shortName.empty() && WildcardMatch(name, entry->shortName)))
        found.push_back(EntryOf(*entry));
    }
  }
  return found.empty() ? ERROR_FILE_NOT_FOUND : 0;
}

std::vector<DirEntry> FileSystem::Find(std::string_view pattern) const {
  std::vector<DirEntry> found;
  Search(pattern, found);
  return found;
}

// Windows wildcards, letter case ignored: * matches any run of characters, dots included; ?
// matches one character, but a ? that ends the pattern or stands before a dot (with any ? beside
// it) matches nothing where the name has a dot or has ended, as in MS-DOS ("oem?.inf" finds
// oem.inf); a dot followed only by wildcards matches the end of a name, so "*.*" matches every name.
bool FileSystem::WildcardMatch(std::string_view pattern, std::string_view name) {
  // Fixed rows: a search runs this for every entry of a folder, so it allocates nothing.
  constexpr std::size_t kLongest = 1023;
  if (pattern.size() > kLongest || name.size() > kLongest)
    throw Unmodelled("WildcardMatch: names over 1023 characters are not modelled");
  const std::size_t p = pattern.size(), n = name.size();
  // dosQuestion[i]: the ? at i is followed by ?s and then a dot or the end of the pattern.
  // onlyWildcardsAfter[i]: pattern[i..] holds nothing but * and ?.
  std::array<bool, kLongest + 1> dosQuestion{}, onlyWildcardsAfter{};
  onlyWildcardsAfter[p] = true;
  for (std::size_t i = p; i-- > 0;) {
    if (pattern[i] == '?')
      dosQuestion[i] = i + 1 == p || pattern[i + 1] == '.' || (pattern[i + 1] == '?' && dosQuestion[i + 1]);
    onlyWildcardsAfter[i] = (pattern[i] == '*' || pattern[i] == '?') && onlyWildcardsAfter[i + 1];
  }
  // next[j]: pattern[i+1..] matches name[j..]; row[j]: pattern[i..] matches name[j..].
  std::array<bool, kLongest + 1> next{}, row{};
  next[n] = true;
  for (std::size_t i = p; i-- > 0;) {
    const char c = pattern[i];
    for (std::size_t j = n + 1; j-- > 0;) {
      bool ok = false;
      if (c == '*') {
        ok = next[j] || (j < n && row[j + 1]);
      } else if (c == '?') {
        if (dosQuestion[i]) {
          ok = (j < n && name[j] != '.' && next[j + 1]) || ((j == n || name[j] == '.') && next[j]);
        } else {
          ok = j < n && next[j + 1];
        }
      } else if (c == '.') {
        ok = (j < n && name[j] == '.' && next[j + 1]) || (j == n && onlyWildcardsAfter[i + 1] && next[j]);
      } else {
        ok = j < n && UpperAscii(c) == UpperAscii(name[j]) && next[j + 1];
      }
      row[j] = ok;
    }
    std::copy(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(n + 1), next.begin());
  }
  return next[0];
}

}  // namespace sim
