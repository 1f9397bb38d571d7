// A machine from its disk: see disk.h. The Sleuth Kit reads the partition table and the FAT
// volume (names, short names, clusters), libcreg the registry files (hive.cpp); this file finds
// the Windows directory, maps what it holds into the simulated machine and refuses, in one line,
// what a Windows 95/98 disk cannot be: a damaged cluster chain, two files sharing a cluster, a
// folder that holds its own ancestor. The image is opened read-only.
#include "disk.h"

#include <tsk/libtsk.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "hive.h"
#include "sim/errors.h"
#include "sim/text.h"

namespace sandbox {
namespace {

namespace fs = std::filesystem;

constexpr int kDeepestFolder = 128;  // as deep as a Windows path of 259 characters reaches
constexpr const char* kVersionKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr const char* kConfigKey = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\IDConfigDB";
constexpr const char* kShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

[[noreturn]] void Fail(const std::string& why) { throw sim::ImageError(why); }

std::string TskReason() {
  const char* text = tsk_error_get();
  std::string reason = text != nullptr ? text : "unknown error";
  tsk_error_reset();
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
  return reason;
}

std::string Thousands(std::uint64_t number) {
  std::string digits = std::to_string(number);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<std::size_t>(at), ",");
  return digits;
}

// "C:\" and "WINDOWS" -> "C:\WINDOWS"; "C:\WINDOWS" and "INF" -> "C:\WINDOWS\INF".
std::string Inside(const std::string& folder, const std::string& name) {
  return (folder.back() == '\\' ? folder : folder + "\\") + name;
}

// ---- The volume: a FAT file system through libtsk, or a folder of the host.

struct Entry {
  std::string name, shortName;  // shortName "" when the name is itself the 8.3 name
  bool isDirectory = false;
  std::uint64_t size = 0;
  sim::FileAttributes attributes;
  TSK_INUM_T inum = 0;  // libtsk's address of the entry
  fs::path host;        // a folder's entry
};

class Volume {
 public:
  virtual ~Volume() = default;
  virtual Entry Root() = 0;
  virtual std::vector<Entry> List(const Entry& folder, const std::string& path) = 0;
  virtual std::string Read(const Entry& file, const std::string& path) = 0;
};

struct ImageCloser {
  void operator()(TSK_IMG_INFO* image) const { tsk_img_close(image); }
};
struct VolumeSystemCloser {
  void operator()(TSK_VS_INFO* vs) const { tsk_vs_close(vs); }
};
struct FsCloser {
  void operator()(TSK_FS_INFO* fs) const { tsk_fs_close(fs); }
};
struct DirCloser {
  void operator()(TSK_FS_DIR* dir) const { tsk_fs_dir_close(dir); }
};
struct FileCloser {
  void operator()(TSK_FS_FILE* file) const { tsk_fs_file_close(file); }
};
using FilePtr = std::unique_ptr<TSK_FS_FILE, FileCloser>;

std::uint32_t Little(const unsigned char* bytes, int count) {
  std::uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

// A FAT volume. libtsk gives every entry's long and short name and its clusters; the attribute
// byte it does not give is read from the entry itself, which libtsk's address locates (entries
// are numbered from 3 on, 32 bytes each, from the first sector after the FATs), and which is
// taken only where its 8.3 name is the one libtsk gave.
class FatVolume : public Volume {
 public:
  explicit FatVolume(TSK_FS_INFO* fs) : fs_(fs) {
    unsigned char boot[512] = {};
    if (tsk_fs_read(fs_.get(), 0, reinterpret_cast<char*>(boot), sizeof boot) != static_cast<ssize_t>(sizeof boot))
      Fail("the FAT volume's boot sector cannot be read: " + TskReason());
    sectorSize_ = Little(boot + 11, 2);
    std::uint32_t fatSectors = Little(boot + 22, 2);
    if (fatSectors == 0) fatSectors = Little(boot + 36, 4);
    firstAfterFats_ = static_cast<std::uint64_t>(Little(boot + 14, 2)) + std::uint64_t{boot[16]} * fatSectors;
    if (sectorSize_ < 512 || sectorSize_ % 32 != 0) Fail("the FAT volume's boot sector gives no sector size");
  }
  std::string Name() const { return sim::UpperAscii(tsk_fs_type_toname(fs_->ftype)); }

  Entry Root() override {
    Entry root;
    root.isDirectory = true;
    root.inum = fs_->root_inum;
    Claim(root, "C:\\");
    return root;
  }

  std::vector<Entry> List(const Entry& folder, const std::string& path) override {
    std::unique_ptr<TSK_FS_DIR, DirCloser> dir(tsk_fs_dir_open_meta(fs_.get(), folder.inum));
    if (!dir) Fail(path + ": the folder cannot be read: " + TskReason());
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < tsk_fs_dir_getsize(dir.get()); ++i) {
      const FilePtr file(tsk_fs_dir_get(dir.get(), i));
      if (!file || file->name == nullptr) Fail(path + ": the folder cannot be read: " + TskReason());
      const TSK_FS_NAME& name = *file->name;
      if ((name.flags & TSK_FS_NAME_FLAG_ALLOC) == 0) continue;  // deleted
      if (std::strcmp(name.name, ".") == 0 || std::strcmp(name.name, "..") == 0) continue;
      // libtsk's own entries of the root ($MBR, $FAT1, $FAT2, $OrphanFiles) are not on the disk.
      if (name.type == TSK_FS_NAME_TYPE_VIRT || name.type == TSK_FS_NAME_TYPE_VIRT_DIR) continue;
      Entry entry;
      entry.name = name.name;
      entry.shortName = name.shrt_name != nullptr ? name.shrt_name : "";
      entry.isDirectory = name.type == TSK_FS_NAME_TYPE_DIR;
      entry.inum = name.meta_addr;
      entry.size = file->meta != nullptr ? static_cast<std::uint64_t>(file->meta->size) : 0;
      ReadAttributes(entry, Inside(path, entry.name));
      if (entry.isDirectory) Claim(entry, Inside(path, entry.name));
      entries.push_back(std::move(entry));
    }
    return entries;
  }

  std::string Read(const Entry& entry, const std::string& path) override {
    Claim(entry, path);
    const FilePtr file(tsk_fs_file_open_meta(fs_.get(), nullptr, entry.inum));
    if (!file) Fail(path + ": cannot be read: " + TskReason());
    std::string bytes(entry.size, '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t got = tsk_fs_file_read(file.get(), static_cast<TSK_OFF_T>(done), bytes.data() + done,
                                           bytes.size() - done, TSK_FS_FILE_READ_FLAG_NONE);
      if (got <= 0) Fail(path + ": cannot be read (a damaged FAT?): " + TskReason());
      done += static_cast<std::size_t>(got);
    }
    return bytes;
  }

 private:
  // The sectors that an entry's cluster chain takes: a chain that libtsk cannot follow to the
  // entry's size is a damaged FAT; a sector that another entry took already is a cross-linked
  // chain, or a folder that holds one of its own ancestors.
  void Claim(const Entry& entry, const std::string& path) {
    const FilePtr file(tsk_fs_file_open_meta(fs_.get(), nullptr, entry.inum));
    if (!file) Fail(path + ": cannot be read (a damaged FAT?): " + TskReason());
    const TSK_FS_ATTR* attr = tsk_fs_file_attr_get(file.get());
    if (attr == nullptr) {
      tsk_error_reset();
      if (entry.isDirectory || entry.size == 0) return;  // the FAT16 root, an empty file
      Fail(path + ": its cluster chain cannot be followed (a damaged FAT)");
    }
    if ((attr->flags & TSK_FS_ATTR_NONRES) == 0) return;
    std::uint64_t sectors = 0;
    for (const TSK_FS_ATTR_RUN* run = attr->nrd.run; run != nullptr; run = run->next) {
      if ((run->flags & (TSK_FS_ATTR_RUN_FLAG_FILLER | TSK_FS_ATTR_RUN_FLAG_SPARSE)) != 0 && run->len > 0)
        Fail(path + ": its cluster chain is broken (a damaged FAT)");
      if (run->len == 0) continue;
      sectors += run->len;
      const std::uint64_t begin = run->addr, end = run->addr + run->len;
      auto next = claimed_.lower_bound(begin);
      const bool overlaps = (next != claimed_.end() && next->first < end) ||
                            (next != claimed_.begin() && std::prev(next)->second.first > begin);
      if (overlaps) {
        const std::string other =
            next != claimed_.end() && next->first < end ? next->second.second : std::prev(next)->second.second;
        if (other == path) continue;
        Fail(entry.isDirectory && other.size() < path.size() && path.compare(0, other.size(), other) == 0
                 ? path + ": a folder that holds its own ancestor " + other + " (a directory loop)"
                 : path + ": its clusters are also " + other + "'s (a cross-linked cluster chain)");
      }
      claimed_.emplace(begin, std::make_pair(end, path));
    }
    if (!entry.isDirectory && sectors * fs_->block_size < entry.size)
      Fail(path + ": its cluster chain ends before its " + Thousands(entry.size) + " bytes (a damaged FAT)");
  }

  void ReadAttributes(Entry& entry, const std::string& path) {
    const std::uint64_t perSector = sectorSize_ / 32;
    if (entry.inum < 3) Fail(path + ": no directory entry of its own");
    const std::uint64_t index = entry.inum - 3;
    const std::uint64_t offset = (firstAfterFats_ + index / perSector) * sectorSize_ + index % perSector * 32;
    unsigned char raw[32] = {};
    if (tsk_fs_read(fs_.get(), static_cast<TSK_OFF_T>(offset), reinterpret_cast<char*>(raw), sizeof raw) != 32)
      Fail(path + ": its directory entry cannot be read: " + TskReason());
    // The 8.3 name as the entry holds it: eight characters and three, blank-padded.
    const std::string shortName = sim::UpperAscii(entry.shortName.empty() ? entry.name : entry.shortName);
    const std::size_t dot = shortName.rfind('.');
    std::string expected = shortName.substr(0, dot);
    expected.resize(8, ' ');
    std::string extension = dot == std::string::npos ? "" : shortName.substr(dot + 1);
    extension.resize(3, ' ');
    expected += extension;
    std::string held(reinterpret_cast<const char*>(raw), 11);
    if (held[0] == '\x05') held[0] = '\xE5';
    if (sim::UpperAscii(held) != expected) Fail(path + ": its directory entry is not where libtsk places it");
    entry.attributes.readOnly = (raw[11] & 0x01) != 0;
    entry.attributes.hidden = (raw[11] & 0x02) != 0;
    entry.attributes.system = (raw[11] & 0x04) != 0;
  }

  std::unique_ptr<TSK_FS_INFO, FsCloser> fs_;
  std::uint32_t sectorSize_ = 512;
  std::uint64_t firstAfterFats_ = 0;
  std::map<std::uint64_t, std::pair<std::uint64_t, std::string>> claimed_;  // first sector -> end, owner
};

// A copy of a drive's files in a folder of the host: plain files and folders, no attributes; the
// simulator gives the long names their aliases.
class FolderVolume : public Volume {
 public:
  explicit FolderVolume(fs::path root) : root_(std::move(root)) {}
  Entry Root() override {
    Entry root;
    root.isDirectory = true;
    root.host = root_;
    return root;
  }
  std::vector<Entry> List(const Entry& folder, const std::string& path) override {
    std::vector<Entry> entries;
    std::error_code error;
    std::vector<fs::directory_entry> items;
    for (fs::directory_iterator it(folder.host, error), end; !error && it != end; it.increment(error))
      items.push_back(*it);
    if (error) Fail(path + ": the folder cannot be read: " + error.message());
    std::sort(items.begin(), items.end(),
              [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
    for (const fs::directory_entry& item : items) {
      if (item.is_symlink()) Fail(item.path().string() + ": a link; a drive's copy holds plain files and folders");
      Entry entry;
      entry.name = item.path().filename().string();
      entry.isDirectory = item.is_directory();
      if (!entry.isDirectory && !item.is_regular_file()) Fail(item.path().string() + ": neither a file nor a folder");
      entry.size = entry.isDirectory ? 0 : item.file_size();
      entry.host = item.path();
      entries.push_back(std::move(entry));
    }
    return entries;
  }
  std::string Read(const Entry& file, const std::string& path) override {
    std::ifstream in(file.host, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in) Fail(path + ": cannot be read");
    return bytes.str();
  }

 private:
  fs::path root_;
};

// ---- Paths on the volume, as Windows gives them ("C:\\WINDOWS\\INF").

std::vector<std::string> Parts(std::string_view path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path.substr(path.size() >= 2 && path[1] == ':' ? 2 : 0)) {
    if (c == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

const Entry* Named(const std::vector<Entry>& entries, std::string_view name) {
  for (const Entry& entry : entries)
    if (sim::EqualNoCase(entry.name, name) || (!entry.shortName.empty() && sim::EqualNoCase(entry.shortName, name)))
      return &entry;
  return nullptr;
}

std::string TrimBlanks(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.pop_back();
  std::size_t start = text.find_first_not_of(" \t");
  return start == std::string::npos ? "" : text.substr(start);
}

// WinDir= of MSDOS.SYS's [Paths] section (a text file on Windows 95 and 98), or "".
std::string WinDirOf(const std::string& msdosSys) {
  std::istringstream lines(msdosSys);
  std::string line, section;
  while (std::getline(lines, line)) {
    line = TrimBlanks(line);
    if (!line.empty() && line.front() == '[') {
      section = line;
      continue;
    }
    const std::size_t equals = line.find('=');
    if (sim::EqualNoCase(section, "[Paths]") && equals != std::string::npos &&
        sim::EqualNoCase(TrimBlanks(line.substr(0, equals)), "WinDir"))
      return TrimBlanks(line.substr(equals + 1));
  }
  return "";
}

// ---- Reading the machine from a volume.

using NameSet = std::set<std::string, sim::NoCaseLess>;

// An entry of the volume and its path by long names.
struct Found {
  Entry entry;
  std::string path;
};

class Reader {
 public:
  explicit Reader(Volume& volume) : volume_(volume) {}

  // The entries along a Windows path from the root, with their paths by long names; fewer than
  // the path's names when one is missing.
  std::vector<Found> Walk(const std::string& path) {
    std::vector<Found> chain;
    Found at{volume_.Root(), "C:\\"};
    for (const std::string& part : Parts(path)) {
      if (!at.entry.isDirectory) return {};
      const std::vector<Entry> entries = volume_.List(at.entry, at.path);
      const Entry* next = Named(entries, part);
      if (next == nullptr) break;
      at = {*next, Inside(at.path, next->name)};
      chain.push_back(at);
    }
    return chain;
  }

  std::optional<Found> FindFile(const std::string& path) {
    const std::vector<Found> chain = Walk(path);
    if (chain.empty() || chain.size() != Parts(path).size() || chain.back().entry.isDirectory) return std::nullopt;
    return chain.back();
  }

  std::string Read(const Found& file) { return volume_.Read(file.entry, file.path); }

  // Where Windows is: MSDOS.SYS [Paths] WinDir=, else the folder of the root holding SYSTEM.DAT.
  // "" when neither says.
  std::string FindWindows(std::string& from) {
    const std::vector<Entry> root = volume_.List(volume_.Root(), "C:\\");
    if (const Entry* msdos = Named(root, "MSDOS.SYS"); msdos != nullptr && !msdos->isDirectory && msdos->size < 65536) {
      const std::string winDir = WinDirOf(volume_.Read(*msdos, Inside("C:\\", msdos->name)));
      if (!winDir.empty()) {
        from = "MSDOS.SYS [Paths] WinDir=" + winDir;
        const std::vector<Found> chain = Walk(winDir);
        if (Parts(winDir).empty() || chain.size() != Parts(winDir).size() || !chain.back().entry.isDirectory)
          Fail("C:\\MSDOS.SYS: [Paths] WinDir=" + winDir + " names a folder that the volume does not hold");
        return chain.back().path;
      }
    }
    for (const Entry& folder : root) {
      if (!folder.isDirectory) continue;
      const std::string path = Inside("C:\\", folder.name);
      const std::vector<Entry> entries = volume_.List(folder, path);
      const Entry* system = Named(entries, "SYSTEM.DAT");
      if (system != nullptr && !system->isDirectory) {
        from = "the folder holding SYSTEM.DAT";
        return path;
      }
    }
    return "";
  }

  // The folder at path and everything in it, into machine, with the folders on the way to it;
  // what was taken already is not taken again, and the files in skip (the registry's own) are not
  // files of the machine.
  void TakeFolder(const std::string& path, const NameSet& skip, sim::Machine& machine) {
    const std::vector<Found> chain = Walk(path);
    if (chain.size() != Parts(path).size() || (!chain.empty() && !chain.back().entry.isDirectory)) return;
    std::string at = "C:\\";
    for (const Found& folder : chain) {
      if (taken_.count(folder.path) != 0) return;  // inside a folder taken whole
      if (!machine.files.Exists(folder.path)) Add(machine, at, folder.entry, "");
      at = folder.path;
    }
    TakeTree(machine, chain.empty() ? volume_.Root() : chain.back().entry, at, static_cast<int>(chain.size()), skip);
  }

 private:
  static void Add(sim::Machine& machine, const std::string& folder, const Entry& entry, const std::string& bytes) {
    try {
      if (!entry.host.empty()) {
        // A folder of the host has no 8.3 names of its own: the simulator makes them.
        if (entry.isDirectory) machine.files.MakeDirectory(Inside(folder, entry.name));
        else machine.files.WriteFile(Inside(folder, entry.name), bytes);
        return;
      }
      sim::DirEntry added;
      added.name = entry.name;
      added.shortName = entry.shortName;
      added.isDirectory = entry.isDirectory;
      added.attributes = entry.attributes;
      machine.files.AddEntry(folder, added, bytes);
    } catch (const sim::Unmodelled& e) {
      Fail(Inside(folder, entry.name) + ": not a name that Windows accepts, or one the folder holds twice (" +
           e.what() + ")");
    }
  }

  void TakeTree(sim::Machine& machine, const Entry& folder, const std::string& path, int depth, const NameSet& skip) {
    if (depth > kDeepestFolder)
      Fail(path + ": folders nested deeper than the " + std::to_string(kDeepestFolder) +
           " levels that a Windows path can reach");
    taken_.insert(path);
    for (const Entry& entry : volume_.List(folder, path)) {
      const std::string inside = Inside(path, entry.name);
      if (skip.count(inside) != 0) continue;
      if (entry.isDirectory) {
        if (!machine.files.Exists(inside)) Add(machine, path, entry, "");
        TakeTree(machine, entry, inside, depth + 1, skip);
      } else if (!machine.files.Exists(inside)) {
        Add(machine, path, entry, volume_.Read(entry, inside));
      }
    }
  }

  Volume& volume_;
  NameSet taken_;
};

std::string Text(const std::optional<sim::RegValue>& value) {
  if (!value || (value->type != 1 && value->type != 2)) return "";
  std::string text(value->data.begin(), value->data.end());
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

// "4.10.1998" as dwBuildNumber (0x040A07CE); nullopt when it is not major.minor.build.
std::optional<std::uint32_t> BuildOf(const std::string& version) {
  std::vector<unsigned long> numbers;
  std::string digits;
  for (char c : version + ".") {
    if (c == '.') {
      if (digits.empty() || digits.size() > 5) return std::nullopt;
      numbers.push_back(std::stoul(digits));
      digits.clear();
    } else if (c >= '0' && c <= '9') {
      digits += c;
    } else {
      return std::nullopt;
    }
  }
  if (numbers.size() != 3 || numbers[0] > 255 || numbers[1] > 255 || numbers[2] > 65535) return std::nullopt;
  return static_cast<std::uint32_t>(numbers[0] << 24 | numbers[1] << 16 | numbers[2]);
}

// The machine from a volume whose Windows directory is known.
sim::Machine ReadMachine(Reader& reader, const std::string& windows, const DiskRequest& request, DiskSource& source) {
  sim::Machine machine;
  machine.files = sim::FileSystem();
  machine.registry.Clear();
  machine.windowsDirectory = windows;
  machine.systemDirectory = windows + "\\SYSTEM";
  source.windowsDirectory = windows;

  // The registry: SYSTEM.DAT is HKEY_LOCAL_MACHINE, USER.DAT HKEY_USERS, each profile's USER.DAT
  // HKEY_USERS\<name>.
  NameSet registryFiles;
  auto load = [&](const std::string& path, const std::string& key) {
    const std::optional<Found> file = reader.FindFile(path);
    if (!file)
      Fail(path + ": missing; it holds the registry's " + key + " (the Windows directory " + windows +
           " was found from " + source.windowsFrom + ")");
    LoadHive(reader.Read(*file), file->path, key, machine.registry);
    registryFiles.insert(file->path);
    source.hives.push_back(file->path + " as " + key);
  };
  load(windows + "\\SYSTEM.DAT", "HKEY_LOCAL_MACHINE");
  load(windows + "\\USER.DAT", "HKEY_USERS");
  // ProfileList names the profiles, each with its folder (ProfileImagePath); one whose USER.DAT
  // is not there has not been used yet.
  std::vector<std::string> profiles;
  const std::string profileList = std::string(kVersionKey) + "\\ProfileList";
  for (const std::string& name : machine.registry.SubkeyNames(profileList)) {
    const std::string folder = Text(machine.registry.GetValue(profileList + "\\" + name, "ProfileImagePath"));
    const std::string userDat = (folder.empty() ? windows + "\\Profiles\\" + name : folder) + "\\USER.DAT";
    if (!reader.FindFile(userDat)) continue;
    load(userDat, "HKEY_USERS\\" + name);
    profiles.push_back(name);
  }

  // The release: VersionNumber (and SubVersionNumber, which tells the editions apart).
  const std::string version = Text(machine.registry.GetValue(kVersionKey, "VersionNumber"));
  const std::optional<std::uint32_t> build = BuildOf(version);
  if (!build)
    Fail(source.hives.front().substr(0, source.hives.front().find(" as ")) + ": " +
         (version.empty() ? std::string("no") : "no major.minor.build in the") + " " + kVersionKey + " VersionNumber" +
         (version.empty() ? "" : " \"" + version + "\"") +
         ", which gives the Windows release (--release cannot stand in for it)");
  machine.buildNumber = *build;
  source.release = version;
  source.releaseFrom = std::string(kVersionKey) + " VersionNumber";
  const std::string subVersion = Text(machine.registry.GetValue(kVersionKey, "SubVersionNumber"));
  if (!subVersion.empty()) source.releaseFrom += ", SubVersionNumber \"" + subVersion + "\"";

  // HKEY_CURRENT_CONFIG: IDConfigDB's CurrentConfig, else the one configuration under HKLM\Config.
  std::string config = Text(machine.registry.GetValue(kConfigKey, "CurrentConfig"));
  const std::vector<std::string> configs = machine.registry.SubkeyNames("HKEY_LOCAL_MACHINE\\Config");
  if (!config.empty()) {
    source.configurationFrom = std::string(kConfigKey) + " CurrentConfig";
  } else if (configs.size() == 1) {
    config = configs.front();
    source.configurationFrom = "the only one under HKEY_LOCAL_MACHINE\\Config";
  } else {
    config = "0001";
    source.configurationFrom = "the first one; HKEY_LOCAL_MACHINE\\Config holds " + std::to_string(configs.size()) +
                               " and IDConfigDB names none";
  }
  machine.registry.SetCurrentConfig(config);
  source.configuration = config;

  // HKEY_CURRENT_USER: --user NAME, a profile; else .DEFAULT.
  if (!request.user.empty()) {
    const auto named = std::find_if(profiles.begin(), profiles.end(),
                                    [&](const std::string& name) { return sim::EqualNoCase(name, request.user); });
    if (named == profiles.end()) {
      std::string known;
      for (const std::string& name : profiles) known += (known.empty() ? "" : ", ") + name;
      Fail("--user " + request.user + ": no such user profile on the disk (" +
           (known.empty() ? std::string("it has none") : "it has " + known) + ")");
    }
    source.user = *named;
    source.userFrom = "--user, its profile's USER.DAT";
  } else {
    source.user = ".DEFAULT";
    source.userFrom = profiles.empty() ? "no user profiles" : "the default user; --user picks a profile";
  }
  machine.registry.SetCurrentUser(source.user);

  // The files: the Windows directory, the Start-menu folders and the INF folders wherever the
  // registry puts them; nothing else of the disk.
  reader.TakeFolder(windows, registryFiles, machine);
  std::vector<std::string> folders;
  for (const char* name : {"Start Menu", "Programs"})
    folders.push_back(Text(machine.registry.GetValue("HKEY_CURRENT_USER\\" + std::string(kShellFolders), name)));
  std::istringstream devicePath(Text(machine.registry.GetValue(kVersionKey, "DevicePath")));
  for (std::string folder; std::getline(devicePath, folder, ';');) folders.push_back(TrimBlanks(folder));
  for (const std::string& folder : folders) {
    if (folder.size() >= 3 && (folder[0] == 'C' || folder[0] == 'c') && folder[1] == ':' && folder[2] == '\\')
      reader.TakeFolder(folder, registryFiles, machine);
  }
  return machine;
}

}  // namespace

sim::Machine LoadDisk(const DiskRequest& request, DiskSource& source) {
  source.path = fs::absolute(request.path).lexically_normal().string();
  std::error_code error;
  if (fs::is_directory(request.path, error)) {
    if (request.partition) Fail("--partition: " + request.path + " is a folder, not a partitioned disk");
    source.kind = "folder";
    FolderVolume volume(request.path);
    Reader reader(volume);
    const std::string windows = reader.FindWindows(source.windowsFrom);
    if (windows.empty())
      Fail("no Windows directory in the folder: neither MSDOS.SYS [Paths] WinDir= nor a folder holding SYSTEM.DAT");
    return ReadMachine(reader, windows, request, source);
  }
  if (!fs::is_regular_file(request.path, error)) Fail("no such disk image");

  // Read-only: libtsk opens the file for reading and never writes to it.
  std::unique_ptr<TSK_IMG_INFO, ImageCloser> image(tsk_img_open_utf8_sing(request.path.c_str(), TSK_IMG_TYPE_RAW, 0));
  if (!image) Fail("cannot be opened: " + TskReason());

  // The volumes to look in: the image itself when it is a FAT volume; else each FAT partition.
  struct Candidate {
    TSK_FS_INFO* fs;
    std::string partition;
  };
  std::vector<Candidate> candidates;
  std::unique_ptr<TSK_VS_INFO, VolumeSystemCloser> partitions;
  if (TSK_FS_INFO* bare = tsk_fs_open_img(image.get(), 0, TSK_FS_TYPE_FAT_DETECT)) {
    if (request.partition) {
      tsk_fs_close(bare);
      Fail("--partition: the image is one FAT volume, without a partition table");
    }
    source.kind = "FAT volume image";
    candidates.push_back({bare, ""});
  } else {
    tsk_error_reset();
    partitions.reset(tsk_vs_open(image.get(), 0, TSK_VS_TYPE_DOS));
    if (!partitions)
      Fail("not a disk image: it has neither an MBR partition table nor a FAT file system (" + TskReason() + ")");
    source.kind = "raw disk image";
    std::vector<const TSK_VS_PART_INFO*> listed;
    for (TSK_PNUM_T i = 0; i < partitions->part_count; ++i) {
      const TSK_VS_PART_INFO* part = tsk_vs_part_get(partitions.get(), i);
      if (part != nullptr && (part->flags & TSK_VS_PART_FLAG_ALLOC) != 0) listed.push_back(part);
    }
    if (request.partition && (*request.partition < 1 || *request.partition > static_cast<int>(listed.size())))
      Fail("--partition " + std::to_string(*request.partition) + ": the partition table lists " +
           std::to_string(listed.size()) + " partition" + (listed.size() == 1 ? "" : "s"));
    std::string others;
    for (std::size_t i = 0; i < listed.size(); ++i) {
      if (request.partition && static_cast<int>(i) + 1 != *request.partition) continue;
      const TSK_VS_PART_INFO* part = listed[i];
      const std::string what = std::to_string(i + 1) + " of " + std::to_string(listed.size()) + " (" + part->desc +
                               ", " + Thousands(part->len) + " sectors from sector " + Thousands(part->start) + ")";
      TSK_FS_INFO* fat = tsk_fs_open_vol(part, TSK_FS_TYPE_FAT_DETECT);
      if (fat == nullptr) {
        tsk_error_reset();
        others += (others.empty() ? "" : "; ") + what;
        continue;
      }
      candidates.push_back({fat, what});
    }
    if (candidates.empty())
      Fail(request.partition
               ? "partition " + others + " holds no FAT file system"
               : "no FAT partition: the partition table lists " + (others.empty() ? std::string("none") : others));
  }
  // The first volume that holds a Windows directory; the others are closed unread.
  std::vector<std::unique_ptr<FatVolume>> volumes;
  for (const Candidate& candidate : candidates) volumes.push_back(std::make_unique<FatVolume>(candidate.fs));
  for (std::size_t i = 0; i < volumes.size(); ++i) {
    Reader reader(*volumes[i]);
    const std::string windows = reader.FindWindows(source.windowsFrom);
    if (windows.empty()) continue;
    source.partition = candidates[i].partition;
    source.fileSystem = volumes[i]->Name();
    return ReadMachine(reader, windows, request, source);
  }
  Fail(std::string(candidates.size() == 1 && candidates.front().partition.empty() ? "the FAT volume"
                   : candidates.size() == 1 ? "partition " + candidates.front().partition
                                            : "no FAT partition") +
       " holds no Windows directory: neither MSDOS.SYS [Paths] WinDir= nor a folder of the root holding SYSTEM.DAT");
}

}  // namespace sandbox
