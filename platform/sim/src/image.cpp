// Machine images on the Linux disk: machine.ini, the drives' folders (drives/<letter>/...) and
// attributes.txt are read and written here; registry.reg in regedit4.cpp. Loading is all or
// nothing, and every refusal is an ImageError that names the file (and the line, where it has
// lines): what an image cannot mean on a Windows 95/98 machine is refused here rather than met
// half way through a run.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <sstream>

#include "file_tree.h"
#include "image_files.h"
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

std::string SystemError(int error) { return std::strerror(error); }

// What a name of the image is when it is not a plain file.
std::string NotAPlainFile(const fs::path& file, mode_t mode) {
  struct stat link {};
  const bool isLink = ::lstat(file.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  std::string what = S_ISDIR(mode)    ? "a folder"
                     : S_ISFIFO(mode) ? "a fifo (named pipe)"
                     : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                     : S_ISSOCK(mode) ? "a socket"
                                      : "not a plain file";
  if (isLink) what = "a link to " + what;
  return file.string() + ": " + what + "; the machine image needs a plain file here";
}

// Every write, and the close, checked: a full disk shows in one or the other.
void WriteWholeFile(const std::filesystem::path& file, std::string_view text) {
  auto fail = [&](int error) { throw ImageError(file.string() + ": cannot be written: " + SystemError(error)); };
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) fail(errno);
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      fail(error);
    }
    done += static_cast<std::size_t>(put);
  }
  if (::close(fd) != 0) fail(errno);
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
  if (const std::string problem = TextShapeProblem(text); !problem.empty()) {
    number = 1;
    fail(problem);
  }
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == ';') continue;
    if (EqualNoCase(trimmed, "[machine]")) continue;
    std::size_t equals = trimmed.find('=');
    if (equals == std::string::npos) fail("expected key=value, found \"" + Visible(trimmed) + "\"");
    std::string key = Trim(trimmed.substr(0, equals));
    std::string value = Trim(trimmed.substr(equals + 1));
    if (!seen.insert(key).second) fail("\"" + Visible(key) + "\" is given twice");
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
      fail("unknown key \"" + Visible(key) + "\"");
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
// writeProtected gets the Windows path of every file and folder whose owner's write bit is off.
void LoadFolder(const fs::path& dir, const std::string& windowsPath, Node& folder, int depth,
                std::vector<std::string>& writeProtected) {
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
    const std::string path = windowsPath + "\\" + name;
    if ((item.status().permissions() & fs::perms::owner_write) == fs::perms::none) writeProtected.push_back(path);
    if (isDirectory) {
      LoadFolder(item.path(), path, *node, depth + 1, writeProtected);
    } else {
      node->bytes = ReadImageFile(item.path());
    }
    loaded.push_back(node);
  }
  for (Node* node : loaded) {
    if (IsValidShortName(node->name)) continue;
    node->shortName = GenerateAlias(folder, node->name);
    folder.index[node->shortName] = node;
  }
}

void SaveFolder(const Node& folder, const fs::path& dir, const std::function<void()>& beforeEachFile) {
  fs::create_directories(dir);
  for (const auto& [order, entry] : folder.entries) {
    if (beforeEachFile) beforeEachFile();
    const fs::path target = dir / entry->name;
    if (entry->isDirectory) {
      SaveFolder(*entry, target, beforeEachFile);
      continue;
    }
    WriteWholeFile(target, entry->bytes);
  }
}

bool IsDriveFolderName(const std::string& name) {
  return name.size() == 1 && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

ImageError TooLarge(const fs::path& file) {
  return ImageError(file.string() + ": larger than the " + std::to_string(kLargestImageFile >> 20) +
                    " MB that a file of a machine image may have");
}

}  // namespace

ImageFile::ImageFile(const std::filesystem::path& file) : file_(file) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) throw ImageError(file.string() + ": cannot be read: " + SystemError(errno));
  if (!S_ISREG(info.st_mode)) throw ImageError(NotAPlainFile(file, info.st_mode));
  // Not blocking: the name may have become a fifo since.
  fd_ = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) throw ImageError(file.string() + ": cannot be read: " + SystemError(errno));
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd_);
    throw ImageError(NotAPlainFile(file, info.st_mode));
  }
  size_ = static_cast<std::uintmax_t>(info.st_size);
  if (size_ > kLargestImageFile) {
    ::close(fd_);
    throw TooLarge(file);
  }
}

ImageFile::~ImageFile() { ::close(fd_); }

// At most kLargestImageFile bytes in all.
bool ImageFile::ReadMore(std::string& into) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got == 0) return false;
    if (got < 0) {
      if (errno == EINTR) continue;
      throw ImageError(file_.string() + ": cannot be read: " + SystemError(errno));
    }
    read_ += static_cast<std::uintmax_t>(got);
    if (read_ > kLargestImageFile) throw TooLarge(file_);
    into.append(buffer, static_cast<std::size_t>(got));
    return true;
  }
}

std::string ReadImageFile(const std::filesystem::path& file) {
  ImageFile open(file);
  std::string bytes;
  // Room for the size the file had, so that a file of 50 MB does not need twice that while it grows.
  bytes.reserve(static_cast<std::size_t>(std::min(open.Size(), kLargestImageFile)));
  while (open.ReadMore(bytes)) {
  }
  return bytes;
}

std::string TextShapeProblem(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF")
    return "the file starts with a UTF-8 byte order mark (the bytes EF BB BF, which most editors do not show); "
           "Windows 95/98 text files are single-byte ANSI text: save it without the mark (as \"ANSI\" or \"UTF-8 "
           "without BOM\")";
  if (text.find('\r') != std::string_view::npos && text.find('\n') == std::string_view::npos)
    return "its lines end in a carriage return alone (the line ends of the classic Mac OS), so the whole file is one "
           "line; write the lines with CR LF ends, as Windows does";
  return "";
}

std::string Visible(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void FileSystem::LoadDrives(const std::filesystem::path& drivesDir, std::vector<std::string>* writeProtected) {
  std::map<char, std::unique_ptr<Node>> loaded;
  std::vector<std::string> protectedPaths;
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
      LoadFolder(item.path(), std::string(1, letter) + ":", *root, 0, protectedPaths);
      loaded[letter] = std::move(root);
    }
  } catch (const fs::filesystem_error& error) {
    throw ImageError(error.path1().string() + ": " + error.code().message());
  }
  if (loaded.count('C') == 0) loaded['C'] = NewNode("", true);
  drives_ = std::move(loaded);
  if (writeProtected != nullptr) *writeProtected = std::move(protectedPaths);
}

void FileSystem::SaveDrives(const std::filesystem::path& drivesDir, const std::function<void()>& beforeEachFile) const {
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
    for (const auto& [letter, root] : drives_) SaveFolder(*root, drivesDir / std::string(1, letter), beforeEachFile);
  } catch (const fs::filesystem_error& error) {
    throw ImageError(error.path1().string() + ": " + error.code().message());
  }
}

void FileSystem::LoadAttributes(const std::filesystem::path& file) {
  const std::string text = ReadImageFile(file);
  const std::string where = file.filename().string() + ":";
  if (const std::string problem = TextShapeProblem(text); !problem.empty()) throw ImageError(where + "1: " + problem);
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
      throw ImageError(at + "expected four flags (R, H, S, U or '-'), a space and a path: \"" + Visible(line) + "\"");
    const std::string path = line.substr(5);
    const Node* node = nullptr;
    try {
      Parse(path);  // a full path, as a person writes one: no "..", no relative or UNC path
      node = Lookup(drives_, path);
    } catch (const Unmodelled&) {
      throw ImageError(at + "not a Windows path (a full one, C:\\...): \"" + Visible(path) + "\"");
    }
    if (node == nullptr) throw ImageError(at + "no such file or folder: \"" + Visible(path) + "\"");
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
Machine Machine::LoadImage(const std::filesystem::path& dir, std::vector<std::string>* notes) {
  if (!std::filesystem::is_directory(dir)) throw ImageError(dir.string() + ": not a machine image folder");
  Machine machine;
  std::vector<NamedDirectory> directories;
  auto present = [&](const char* name) {
    std::error_code error;
    return std::filesystem::symlink_status(dir / name, error).type() != std::filesystem::file_type::not_found;
  };
  if (present(kMachineIni)) directories = LoadMachineIni(machine, ReadImageFile(dir / kMachineIni));
  // registry.reg holds the whole registry: a key that it does not list is not there.
  if (present("registry.reg")) {
    machine.registry.Clear();
    machine.registry.LoadRegFile(dir / "registry.reg");
  }
  std::vector<std::string> writeProtected;
  if (present("drives")) machine.files.LoadDrives(dir / "drives", &writeProtected);
  if (present("attributes.txt")) machine.files.LoadAttributes(dir / "attributes.txt");
  // A directory on a drive that the image does not have would make a machine without Windows.
  const std::vector<char> drives = machine.files.Drives();
  for (const NamedDirectory& named : directories) {
    const char letter = static_cast<char>(named.value[0] & ~0x20);
    if (std::find(drives.begin(), drives.end(), letter) == drives.end()) {
      throw ImageError(std::string(kMachineIni) + ":" + std::to_string(named.line) + ": " + named.key + " \"" +
                       named.value + "\" is on drive " + letter + ":, which the image does not have");
    }
  }
  // Unix modes mean nothing to the machine: a file whose write bit is off is not read-only on it
  // unless attributes.txt says so.
  if (notes != nullptr) {
    std::string listed;
    std::size_t count = 0;
    for (const std::string& path : writeProtected) {
      if (machine.files.Attributes(path).value_or(FileAttributes{}).readOnly) continue;
      if (++count <= 5) listed += (listed.empty() ? "" : ", ") + Visible(path);
    }
    if (count > 5) listed += " and " + std::to_string(count - 5) + " more";
    if (count > 0)
      notes->push_back("drives/ holds " + std::to_string(count) + (count == 1 ? " name" : " names") +
                       " whose Unix write permission is off (" + listed +
                       "); Unix modes are ignored: attributes.txt decides what is read-only on the machine (an "
                       "\"R---\" line)");
  }
  return machine;
}

void Machine::SaveImage(const std::filesystem::path& dir, const std::function<void()>& beforeEachFile) const {
  try {
    std::filesystem::create_directories(dir);
    // The drives are written afresh, so that nothing of an older image in the folder survives.
    std::filesystem::remove_all(dir / "drives");
  } catch (const fs::filesystem_error& error) {
    throw ImageError(error.path1().string() + ": " + error.code().message());
  }
  WriteWholeFile(dir / "registry.reg", registry.ExportRegText());
  files.SaveDrives(dir / "drives", beforeEachFile);
  WriteWholeFile(dir / "attributes.txt", files.AttributesText());
  WriteWholeFile(dir / kMachineIni, MachineIniText(*this));
}

}  // namespace sim
