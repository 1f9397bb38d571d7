// Machine images on the Linux disk: machine.ini, the drives' folders (drives/<letter>/...) and
// attributes.txt are read and written here; registry.reg in regedit4.cpp. Loading is all or
// nothing, and every refusal is an ImageError that names the file (and the line, where it has
// lines): what an image cannot mean on a Windows 95/98 machine is refused here rather than met
// half way through a run.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>

#include "file_tree.h"
#include "internal.h"

namespace sim {

using namespace tree;

namespace {

namespace fs = std::filesystem;

constexpr int kDeepestFolder = 128;

constexpr const char* kMachineIni = "machine.ini";

std::string Trim(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string ReadWhole(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw ImageError(file.string() + ": cannot be read");
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw ImageError(file.string() + ": cannot be read");
  return bytes;
}

void WriteWholeFile(const std::filesystem::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw ImageError(file.string() + ": cannot be written");
}

// dwBuildNumber as machine.ini gives it: hexadecimal with 0x, or major.minor.build in decimal as
// Windows shows a version (4.00.950 is 0x040003B6). Digits alone could be either.
std::optional<std::uint32_t> ParseBuildNumber(const std::string& value) {
  auto digits = [](std::string_view text, const char* allowed, std::size_t most) {
    return !text.empty() && text.size() <= most && text.find_first_not_of(allowed) == std::string_view::npos;
  };
  if (value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
    const std::string hex = value.substr(2);
    if (!digits(hex, "0123456789abcdefABCDEF", 8)) return std::nullopt;
    return static_cast<std::uint32_t>(std::stoul(hex, nullptr, 16));
  }
  const std::size_t first = value.find('.'), second = value.find('.', first + 1);
  if (first == std::string::npos || second == std::string::npos) return std::nullopt;
  const std::string major = value.substr(0, first), minor = value.substr(first + 1, second - first - 1),
                    build = value.substr(second + 1);
  if (!digits(major, "0123456789", 3) || !digits(minor, "0123456789", 3) || !digits(build, "0123456789", 5))
    return std::nullopt;
  const unsigned long high = std::stoul(major), low = std::stoul(minor), number = std::stoul(build);
  if (high > 255 || low > 255 || number > 65535) return std::nullopt;
  return static_cast<std::uint32_t>(high << 24 | low << 16 | number);
}

std::string BuildNumberHint(const std::string& value) {
  const std::string written = "BuildNumber=" + value;
  if (!value.empty() && value.size() <= 5 && value.find_first_not_of("0123456789") == std::string::npos &&
      std::stoul(value) <= 65535) {
    const unsigned long number = std::stoul(value);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%lX", number);
    return written + " does not say whether it is hexadecimal or decimal: write " + hex + " (build " + value +
           ") or 4.00." + value + " (major.minor.build in decimal), or 0x" + value + " if build " +
           std::to_string(std::stoul(value, nullptr, 16) & 0xFFFF) + " is meant";
  }
  return written + ": write hexadecimal with 0x (0x040003B6) or major.minor.build in decimal (4.00.950)";
}

// A directory that machine.ini names, and its line, to be checked against the drives.
struct NamedDirectory {
  std::string key, value;
  int line;
};

// machine.ini: "key=value" lines, blank lines, ';' comments and an optional [machine] header.
// Every key is optional; a machine image without the file is a bare Windows 98 machine.
std::vector<NamedDirectory> LoadMachineIni(Machine& machine, const std::string& text) {
  std::vector<NamedDirectory> directories;
  std::istringstream lines(text);
  std::string line;
  std::set<std::string, NoCaseLess> seen;
  int number = 0;
  auto fail = [&](const std::string& what) {
    throw ImageError(std::string(kMachineIni) + ":" + std::to_string(number) + ": " + what);
  };
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == ';') continue;
    if (EqualNoCase(trimmed, "[machine]")) continue;
    std::size_t equals = trimmed.find('=');
    if (equals == std::string::npos) fail("expected key=value, found \"" + trimmed + "\"");
    std::string key = Trim(trimmed.substr(0, equals));
    std::string value = Trim(trimmed.substr(equals + 1));
    if (!seen.insert(key).second) fail("\"" + key + "\" is given twice");
    if (EqualNoCase(key, "BuildNumber")) {
      const std::optional<std::uint32_t> build = ParseBuildNumber(value);
      if (!build) fail(BuildNumberHint(value));
      machine.buildNumber = *build;
    } else if (EqualNoCase(key, "WindowsDirectory") || EqualNoCase(key, "SystemDirectory")) {
      bool rooted = value.size() >= 3 && value[1] == ':' && value[2] == '\\' &&
                    ((value[0] >= 'A' && value[0] <= 'Z') || (value[0] >= 'a' && value[0] <= 'z'));
      if (!rooted || value.back() == '\\')
        fail(key + " must be a full path without a trailing backslash, found \"" + value + "\"");
      try {
        for (const std::string& part : tree::Parse(value).parts) tree::CheckComponent(value, part, false);
      } catch (const Unmodelled&) {
        fail(
            key + " \"" + value +
            "\" holds a name that Windows refuses (\"..\", \".\", * or ?, a trailing dot or blank, or a character no name may hold)");
      }
      (EqualNoCase(key, "WindowsDirectory") ? machine.windowsDirectory : machine.systemDirectory) = value;
      directories.push_back({key, value, number});
    } else if (EqualNoCase(key, "CurrentConfig") || EqualNoCase(key, "CurrentUser")) {
      if (value.empty() || value.find('\\') != std::string::npos)
        fail(key + " must be one key name, found \"" + value + "\"");
      if (EqualNoCase(key, "CurrentConfig")) {
        machine.registry.SetCurrentConfig(value);
      } else {
        machine.registry.SetCurrentUser(value);
      }
    } else {
      fail("unknown key \"" + key + "\"");
    }
  }
  return directories;
}

std::string MachineIniText(const Machine& machine) {
  return "[machine]\r\nBuildNumber=" + Hex(machine.buildNumber) + "\r\nWindowsDirectory=" + machine.windowsDirectory +
         "\r\nSystemDirectory=" + machine.systemDirectory + "\r\nCurrentConfig=" + machine.registry.CurrentConfig() +
         "\r\nCurrentUser=" + machine.registry.CurrentUser() + "\r\n";
}

// A folder and what it holds, depth levels below its drive's root. No Windows path reaches
// deeper than kDeepestFolder levels (C:\a\a\... within 259 characters), and no folder of an
// image may: the tree is walked by recursion everywhere.
void LoadFolder(const fs::path& dir, Node& folder, int depth) {
  if (depth > kDeepestFolder)
    throw ImageError(dir.string() + ": folders nested deeper than the " + std::to_string(kDeepestFolder) +
                     " levels that a Windows path can reach");
  std::vector<fs::directory_entry> items{fs::directory_iterator(dir), fs::directory_iterator()};
  std::sort(items.begin(), items.end(),
            [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
  // Every long name goes in first, so that a generated alias cannot take a name that a later
  // file carries as its own.
  std::vector<Node*> loaded;
  for (const fs::directory_entry& item : items) {
    const std::string name = item.path().filename().string();
    try {
      CheckComponent(name, name, false);
    } catch (const Unmodelled&) {
      throw ImageError(item.path().string() + ": not a name that Windows accepts");
    }
    if (Child(folder, name) != nullptr)
      throw ImageError(item.path().string() + ": another name in this folder differs only in letter case");
    if (item.is_symlink())
      throw ImageError(item.path().string() + ": a link; a machine image holds plain files and folders");
    const bool isDirectory = item.is_directory();
    if (!isDirectory && !item.is_regular_file())
      throw ImageError(item.path().string() + ": neither a plain file nor a folder");
    Node* node = Insert(folder, NewNode(name, isDirectory), false);
    if (isDirectory) {
      LoadFolder(item.path(), *node, depth + 1);
    } else {
      node->bytes = ReadWhole(item.path());
    }
    loaded.push_back(node);
  }
  for (Node* node : loaded) {
    if (IsValidShortName(node->name)) continue;
    node->shortName = GenerateAlias(folder, node->name);
    folder.index[node->shortName] = node;
  }
}

void SaveFolder(const Node& folder, const fs::path& dir) {
  fs::create_directories(dir);
  for (const auto& [order, entry] : folder.entries) {
    const fs::path target = dir / entry->name;
    if (entry->isDirectory) {
      SaveFolder(*entry, target);
      continue;
    }
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(entry->bytes.data(), static_cast<std::streamsize>(entry->bytes.size()));
    out.close();
    if (!out) throw ImageError(target.string() + ": cannot be written");
  }
}

bool IsDriveFolderName(const std::string& name) {
  return name.size() == 1 && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

}  // namespace

void FileSystem::LoadDrives(const std::filesystem::path& drivesDir) {
  std::map<char, std::unique_ptr<Node>> loaded;
  try {
    if (fs::is_symlink(drivesDir)) throw ImageError(drivesDir.string() + ": a link, not the drives' own folder");
    if (!fs::is_directory(drivesDir)) throw ImageError(drivesDir.string() + ": not a folder");
    for (const fs::directory_entry& item : fs::directory_iterator(drivesDir)) {
      const std::string name = item.path().filename().string();
      if (item.is_symlink()) throw ImageError(item.path().string() + ": a link, not a drive folder of the image's own");
      if (!IsDriveFolderName(name) || !item.is_directory())
        throw ImageError(item.path().string() + ": not a drive folder (one letter A to Z)");
      const char letter = static_cast<char>(name[0] & ~0x20);
      if (loaded.count(letter) != 0)
        throw ImageError(item.path().string() + ": drive " + std::string(1, letter) + ": is given twice");
      auto root = NewNode("", true);
      LoadFolder(item.path(), *root, 0);
      loaded[letter] = std::move(root);
    }
  } catch (const fs::filesystem_error& error) {
    throw ImageError(error.path1().string() + ": " + error.code().message());
  }
  if (loaded.count('C') == 0) loaded['C'] = NewNode("", true);
  drives_ = std::move(loaded);
}

void FileSystem::SaveDrives(const std::filesystem::path& drivesDir) const {
  try {
    if (fs::exists(drivesDir)) {
      // Only drive folders are replaced: anything else here is not ours to remove.
      for (const fs::directory_entry& item : fs::directory_iterator(drivesDir)) {
        if (!IsDriveFolderName(item.path().filename().string()) || !item.is_directory())
          throw ImageError(item.path().string() + ": not a drive folder; the drives are not saved");
      }
      for (const fs::directory_entry& item : fs::directory_iterator(drivesDir)) fs::remove_all(item.path());
    }
    fs::create_directories(drivesDir);
    for (const auto& [letter, root] : drives_) SaveFolder(*root, drivesDir / std::string(1, letter));
  } catch (const fs::filesystem_error& error) {
    throw ImageError(error.path1().string() + ": " + error.code().message());
  }
}

void FileSystem::LoadAttributes(const std::filesystem::path& file) {
  const std::string text = ReadWhole(file);
  const std::string where = file.filename().string() + ":";
  std::vector<std::pair<Node*, FileAttributes>> changes;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::string at = where + std::to_string(number) + ": ";
    const char* letters = "RHSU";
    bool wellFormed = line.size() > 5 && line[4] == ' ';
    for (int i = 0; wellFormed && i < 4; ++i) wellFormed = line[i] == letters[i] || line[i] == '-';
    if (!wellFormed)
      throw ImageError(at + "expected four flags (R, H, S, U or '-'), a space and a path: \"" + line + "\"");
    const std::string path = line.substr(5);
    const Node* node = nullptr;
    try {
      node = Lookup(drives_, path);
    } catch (const Unmodelled&) {
      throw ImageError(at + "not a Windows path: \"" + path + "\"");
    }
    if (node == nullptr) throw ImageError(at + "no such file or folder: \"" + path + "\"");
    for (const auto& change : changes)
      if (change.first == node) throw ImageError(at + "\"" + path + "\" is listed twice");
    FileAttributes attributes;
    attributes.readOnly = line[0] == 'R';
    attributes.hidden = line[1] == 'H';
    attributes.system = line[2] == 'S';
    attributes.inUse = line[3] == 'U';
    changes.emplace_back(const_cast<Node*>(node), attributes);
  }
  for (const auto& [node, attributes] : changes) node->attributes = attributes;
}

namespace {

// Entries in name order, so that the text does not depend on the order of creation (a loaded
// image has its folders in name order).
void AttributeLines(const Node& folder, const std::string& path, std::string& text) {
  std::vector<const Node*> sorted;
  for (const auto& [order, entry] : folder.entries) sorted.push_back(entry.get());
  std::sort(sorted.begin(), sorted.end(), [](const Node* a, const Node* b) { return a->name < b->name; });
  for (const Node* entry : sorted) {
    const std::string entryPath = path + "\\" + entry->name;
    const FileAttributes& a = entry->attributes;
    if (a.readOnly || a.hidden || a.system || a.inUse) {
      text += a.readOnly ? 'R' : '-';
      text += a.hidden ? 'H' : '-';
      text += a.system ? 'S' : '-';
      text += a.inUse ? 'U' : '-';
      text += " " + entryPath + "\n";
    }
    if (entry->isDirectory) AttributeLines(*entry, entryPath, text);
  }
}

}  // namespace

std::string FileSystem::AttributesText() const {
  std::string text;
  for (const auto& [letter, root] : drives_) AttributeLines(*root, std::string(1, letter) + ":", text);
  return text;
}

// The bare machine first, then each file of the image that is present. Nothing reaches the
// caller unless every file loads.
Machine Machine::LoadImage(const std::filesystem::path& dir) {
  if (!std::filesystem::is_directory(dir)) throw ImageError(dir.string() + ": not a machine image folder");
  Machine machine;
  std::vector<NamedDirectory> directories;
  if (std::filesystem::exists(dir / kMachineIni)) directories = LoadMachineIni(machine, ReadWhole(dir / kMachineIni));
  // registry.reg holds the whole registry: a key that it does not list is not there.
  if (std::filesystem::exists(dir / "registry.reg")) {
    machine.registry.Clear();
    machine.registry.LoadRegFile(dir / "registry.reg");
  }
  if (std::filesystem::exists(dir / "drives")) machine.files.LoadDrives(dir / "drives");
  if (std::filesystem::exists(dir / "attributes.txt")) machine.files.LoadAttributes(dir / "attributes.txt");
  // A directory on a drive that the image does not have would make a machine without Windows.
  const std::vector<char> drives = machine.files.Drives();
  for (const NamedDirectory& named : directories) {
    const char letter = static_cast<char>(named.value[0] & ~0x20);
    if (std::find(drives.begin(), drives.end(), letter) == drives.end()) {
      throw ImageError(std::string(kMachineIni) + ":" + std::to_string(named.line) + ": " + named.key + " \"" +
                       named.value + "\" is on drive " + letter + ":, which the image does not have");
    }
  }
  return machine;
}

void Machine::SaveImage(const std::filesystem::path& dir) const {
  std::filesystem::create_directories(dir);
  WriteWholeFile(dir / "registry.reg", registry.ExportRegText());
  // The drives are written afresh, so that nothing of an older image in the folder survives.
  std::filesystem::remove_all(dir / "drives");
  files.SaveDrives(dir / "drives");
  WriteWholeFile(dir / "attributes.txt", files.AttributesText());
  WriteWholeFile(dir / kMachineIni, MachineIniText(*this));
}

}  // namespace sim
