// What a run did, read from its trace: for every registry key, win.ini section or key, file and
// folder that the program's calls named, which of those calls it made and what they returned.
// The report's reasons are built from these facts, so that each reason says what the run did.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/machine.h"

namespace sandbox {

class RunCalls {
 public:
  // The calls in machine's trace; paths are resolved as on names, the machine the run started
  // from (where what the run deleted still has its names).
  RunCalls(sim::Machine& machine, const sim::Machine& names);

  // The same key of every path that names one thing: registry keys by their resolved path, files
  // by their long path, both upper case.
  std::string KeyOfRegistryPath(const std::string& path) const;
  std::string KeyOfFilePath(const std::string& path) const;

  // ---- Registry.
  // The result of the last RegDeleteKeyA that named the key, if any named it.
  std::optional<long> KeyDeletion(const std::string& keyPath) const;
  // What the program did with the key the last time it opened it: nothing, or read a value (and
  // with what result), and whether it then compared the text read with the printer's name.
  struct KeyVisit {
    bool read = false;
    long readResult = 0;
    bool compared = false;
    std::string comparedText;
  };
  // nullopt when the key was never opened.
  std::optional<KeyVisit> Visit(const std::string& keyPath) const;
  // The result of the last RegOpenKeyExA that named the key; nullopt when none named it.
  std::optional<long> OpenResult(const std::string& keyPath) const;
  // The highest number n whose key "base\nnnn" the program tried to open; -1 when none.
  long HighestNumberTried(const std::string& baseKeyPath) const;

  // ---- win.ini: the result (TRUE or FALSE) of the last deletion of a section or of a key.
  std::optional<bool> SectionDeletion(const std::string& section) const;
  std::optional<bool> ProfileKeyDeletion(const std::string& section, const std::string& key) const;
  // The sections the program deleted, in the order first deleted, as it named them.
  const std::vector<std::string>& SectionsDeleted() const { return sectionOrder_; }
  // What the program did with a key it read (GetProfileStringA): the text it got, and whether it
  // then compared (a part of) that text with the printer's name, with what and with what result.
  struct ProfileRead {
    std::string text;
    bool compared = false;
    std::string compareCall;  // "lstrcmpA"
    std::string comparedText;
    long compareResult = 0;
  };
  std::optional<ProfileRead> ProfileReadOf(const std::string& section, const std::string& key) const;

  // ---- Files and folders.
  std::optional<bool> FileDeletion(const std::string& path) const;      // DeleteFileA
  std::optional<bool> FolderRemoval(const std::string& path) const;     // RemoveDirectoryA
  std::optional<bool> OpenedForReading(const std::string& path) const;  // fopen "r": opened or not
  // The wildcard patterns that the program searched ("C:\WINDOWS\INF\oem*.inf").
  const std::vector<std::string>& Searches() const { return searches_; }

  // A file the program opened for appending ("a+"): what it wrote and whether all of it went.
  struct Append {
    std::string path;
    bool opened = false;
    bool failed = false;             // a write or the close failed: what was written may be lost
    std::vector<std::string> lines;  // the texts written, each as the program passed it
  };
  const std::vector<Append>& Appends() const { return appends_; }

  // Every key, file and folder that the program tried to delete, in the order first tried.
  const std::vector<std::string>& KeysDeleted() const { return keyOrder_; }
  const std::vector<std::string>& FilesDeleted() const { return fileOrder_; }
  const std::vector<std::string>& FoldersRemoved() const { return folderOrder_; }

 private:
  void Read(sim::Machine& machine);
  std::optional<std::string> RegistryPathOf(const std::string& root, const std::string& quotedSub) const;

  const sim::Machine& names_;
  std::map<std::string, long> keyDeletions_, openResults_;
  std::map<std::string, ProfileRead> profileReads_;
  std::vector<std::string> sectionOrder_;
  std::map<std::string, KeyVisit> visits_;
  std::map<std::string, long> highestTried_;    // base key path (upper) -> n
  std::map<std::string, std::string> handles_;  // "hkey#N" -> resolved path
  std::map<std::string, bool> sectionDeletions_, profileKeyDeletions_;
  std::map<std::string, bool> fileDeletions_, folderRemovals_, reads_;
  std::vector<std::string> searches_;
  std::vector<Append> appends_;
  std::vector<std::string> keyOrder_, fileOrder_, folderOrder_;
};

}  // namespace sandbox
