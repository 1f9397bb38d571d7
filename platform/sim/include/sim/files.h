// The simulated drives: an in-memory tree of folders and files per drive letter, loaded from and
// saved to the folders of a machine image. Windows paths ("C:\WINDOWS\win.ini") resolve without
// letter case; a rooted path without a drive ("\ZANTEROVA RK514") is on the current drive, C:.
// Every long name that is not a valid 8.3 name gets a generated short alias (OEMX~1.INF), and
// wildcard searches match either name, as on Windows 95 and 98.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct FileAttributes {
  bool readOnly = false;
  bool hidden = false;
  bool system = false;
  bool inUse = false;  // held open by another program: cannot be deleted or opened
  bool operator==(const FileAttributes&) const = default;
};

struct DirEntry {
  std::string name;       // long name, as created
  std::string shortName;  // 8.3 alias ("" when the long name is itself a valid 8.3 name)
  bool isDirectory = false;
  std::uint64_t size = 0;
  FileAttributes attributes;
};

class FileSystem {
 public:
  FileSystem();  // drive C: with an empty root

  // Setting up a machine (MakeDirectory, WriteFile) takes "C:\A\B" or "\A\B" (current drive)
  // only: "c:/a/b", relative, drive-relative ("C:A") or UNC paths, "." or "..", and names ending
  // in a dot or a blank throw Unmodelled. The queries and the Win32 meanings read a path as
  // Windows reads one from a program: '/' as '\', "." and ".." resolved, trailing dots and blanks
  // of a name dropped, the current directory the root of C:; a UNC path names nothing here
  // (ERROR_BAD_NETPATH), nor does a name with a character Windows refuses (ERROR_INVALID_NAME).
  // Empty components (a trailing backslash, "A\\B") are skipped. Every call resolves
  // case-insensitively, by long name or alias. Writing to a drive letter not yet used adds it.
  void MakeDirectory(std::string_view path);  // with every missing parent
  void WriteFile(std::string_view path, std::string_view bytes, FileAttributes attributes = {});
  std::optional<std::string> ReadFile(std::string_view path) const;  // nullopt unless a file
  bool Exists(std::string_view path) const;
  bool IsDirectory(std::string_view path) const;
  bool IsFile(std::string_view path) const;
  std::optional<FileAttributes> Attributes(std::string_view path) const;
  void SetAttributes(std::string_view path, FileAttributes attributes);  // throws when missing
  // The names as created: "C:\WINDOWS\win.ini"; throws Unmodelled for a path that names nothing here.
  std::string LongPath(std::string_view path) const;
  // An entry as a FAT directory holds it, in a folder that exists: its long name, its own 8.3
  // name (shortName, "" when the long name is one), folder or file, attributes, and a file's
  // bytes; no alias is generated. Throws Unmodelled when the folder is missing or either name is
  // taken in it.
  void AddEntry(std::string_view folder, const DirEntry& entry, std::string_view bytes = {});

  // Win32 meanings, with the error code that Windows 98 gives (0 on success); besides those
  // below, a UNC path gives 53 and a name Windows refuses 123.
  std::uint32_t Delete(std::string_view path);  // missing: 2/3; folder or read-only: 5; in use: 32
  // missing: 2/3; a file: 267; not empty: 145; read-only or a drive's root: 5; in use: 32
  std::uint32_t RemoveDirectory(std::string_view path);
  std::uint32_t Append(std::string_view path, std::string_view bytes);   // existing file only
  std::uint32_t Replace(std::string_view path, std::string_view bytes);  // create or overwrite

  // A file's bytes in place, for the Win32 file handles, which checked the file when they opened
  // it: its size (nullopt unless a file); up to count bytes from offset into `into` (the number
  // copied, 0 at or past its end); bytes written at offset, a gap before them zero-filled; its
  // length set, cut or zero-filled. Each write is false unless path is a file.
  std::optional<std::uint64_t> FileSize(std::string_view path) const;
  std::size_t ReadAt(std::string_view path, std::uint64_t offset, char* into, std::size_t count) const;
  bool WriteAt(std::string_view path, std::uint64_t offset, std::string_view bytes);
  bool Resize(std::string_view path, std::uint64_t size);

  // Entries of a folder, in the order a FAT directory yields them (creation order).
  std::vector<DirEntry> List(std::string_view folder) const;
  // Directory search: pattern is "folder\name-with-wildcards"; * and ? match without letter case,
  // against the long name or the short alias. An exact name is an existence test. A missing
  // folder finds nothing.
  // Outside the root of a drive, "." and ".." come first, as a FAT folder holds them. A pattern
  // ending in a dot ("*.") is not modelled.
  std::vector<DirEntry> Find(std::string_view pattern) const;
  // The same search with the error that FindFirstFileA gives when nothing is found: 0 when
  // something matched, 2 when the folder holds no match, 3 when the folder is missing.
  std::uint32_t Search(std::string_view pattern, std::vector<DirEntry>& found) const;
  static bool WildcardMatch(std::string_view pattern, std::string_view name);

  // Machine image: <dir>/<letter>/... holds each drive's files; attributes are kept apart.
  // All or nothing; throws ImageError. writeProtected, when given, gets the Windows path of every
  // file and folder whose owner's Unix write bit is off.
  void LoadDrives(const std::filesystem::path& drivesDir, std::vector<std::string>* writeProtected = nullptr);
  // beforeEachFile runs before each file or folder is written; it may throw to stop the save.
  void SaveDrives(const std::filesystem::path& drivesDir, const std::function<void()>& beforeEachFile = {}) const;
  // One line per file or folder with attributes: "RHSU C:\PATH", four letters for read-only,
  // hidden, system, in use (a dash where unset), a space and the path. LoadDrives loads folders
  // in name order, which then is their creation order.
  void LoadAttributes(const std::filesystem::path& file);
  std::string AttributesText() const;

  std::vector<char> Drives() const;  // the drive letters, in order

  // Same drives, folders, names (letter case counted), bytes and attributes; the order of entries
  // and the generated aliases are not compared, since a saved image does not keep them.
  bool operator==(const FileSystem& other) const;
  FileSystem(const FileSystem& other);
  FileSystem& operator=(const FileSystem& other);
  FileSystem(FileSystem&&) noexcept;
  FileSystem& operator=(FileSystem&&) noexcept;
  ~FileSystem();

  struct Node;

 private:
  std::map<char, std::unique_ptr<Node>> drives_;  // upper-case letter -> root folder
};

}  // namespace sim
