// A run's calls, per thing they named: see run_calls.h.
#include "run_calls.h"

#include "items.h"
#include "product.h"
#include "sim/errors.h"
#include "sim/text.h"

namespace sandbox {
namespace {

// "\"text\"" -> text; NULL (or anything unquoted) -> nothing.
std::optional<std::string> Unquote(const std::string& arg) {
  if (arg.size() >= 2 && arg.front() == '"' && arg.back() == '"') return arg.substr(1, arg.size() - 2);
  return std::nullopt;
}

std::string TrimBlanks(std::string text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.erase(0, 1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  return text;
}

std::string ProfileKey(const std::string& section, const std::string& key) {
  return sim::UpperAscii(TrimBlanks(section)) + "\n" + sim::UpperAscii(TrimBlanks(key));
}

long Number(const std::string& text) {
  try {
    return std::stol(text);
  } catch (const std::exception&) {
    return -1;
  }
}

template <typename Map>
auto Lookup(const Map& map, const std::string& key) -> std::optional<typename Map::mapped_type> {
  auto it = map.find(key);
  if (it == map.end()) return std::nullopt;
  return it->second;
}

}  // namespace

RunCalls::RunCalls(sim::Machine& machine, const sim::Machine& names) : names_(names) { Read(machine); }

std::string RunCalls::KeyOfRegistryPath(const std::string& path) const {
  try {
    return sim::UpperAscii(names_.registry.Resolve(path));
  } catch (const sim::Unmodelled&) {
    return sim::UpperAscii(path);
  }
}

std::string RunCalls::KeyOfFilePath(const std::string& path) const {
  try {
    return sim::UpperAscii(names_.files.LongPath(path));
  } catch (const sim::Unmodelled&) {
    return sim::UpperAscii(path);
  }
}

std::optional<std::string> RunCalls::RegistryPathOf(const std::string& root, const std::string& quotedSub) const {
  std::string base;
  if (root.rfind("HKEY_", 0) == 0) {
    base = root;
  } else if (auto handle = handles_.find(root); handle != handles_.end()) {
    base = handle->second;
  } else {
    return std::nullopt;
  }
  std::optional<std::string> sub = Unquote(quotedSub);
  std::string path = sub && !sub->empty() ? base + "\\" + *sub : base;
  try {
    return names_.registry.Resolve(path);
  } catch (const sim::Unmodelled&) {
    return std::nullopt;
  }
}

void RunCalls::Read(sim::Machine& machine) {
  const std::string printerName = "\"" + TheProduct().printerName + "\"";
  std::optional<std::string> opened;             // the key the last successful open gave, until a call uses its handle
  std::optional<std::string> lastRead;           // the key whose value was read last, until the next open
  std::optional<std::string> lastProfileRead;    // the win.ini key read last, until the next read of any kind
  std::map<std::string, std::size_t> appending;  // open "a+" files: "file#N" -> index in appends_
  // The built executable's own runtime makes its text files of KERNEL32 file handles: a file
  // opened for writing is one it appends to, and what it writes out is CR LF lines.
  std::map<std::string, std::pair<std::size_t, std::string>> writing;  // "hfile#N" -> index, bytes written
  auto linesOf = [this](std::size_t index, const std::string& bytes) {
    for (std::string_view line : sim::SplitLines(bytes)) appends_[index].lines.emplace_back(line);
  };
  // The trace is looked at as views of its texts: of the millions of calls of a long file's scan
  // (a byte read, a word compared with the marker) none is copied.
  machine.trace().Visit([&](const sim::Trace::RecordView& record) {
    const std::string_view name = record.op;
    if (name == "fgetc" || name == "feof" || name == "lstrcpyA" || name == "lstrcatA") return;  // most of a trace
    if (name.rfind("lstrcmp", 0) == 0 && (record.args.size() < 2 || record.args[1] != printerName)) return;
    const sim::Call call{std::string(record.op), {record.args.begin(), record.args.end()}, std::string(record.result),
                         record.count};
    const std::string& op = call.op;
    const std::vector<std::string>& args = call.args;
    if (op == "RegOpenKeyExA" && args.size() >= 2) {
      lastRead.reset();
      std::optional<std::string> path = RegistryPathOf(args[0], args[1]);
      if (!path) return;
      const std::string key = sim::UpperAscii(*path);
      openResults_[key] = Number(call.result);
      // Numbered names below a base key: how far a walk got.
      const std::size_t slash = key.rfind('\\');
      const std::string last = key.substr(slash + 1);
      if (!last.empty() && last.find_first_not_of("0123456789") == std::string::npos) {
        long& highest = highestTried_.try_emplace(key.substr(0, slash), -1).first->second;
        highest = std::max(highest, Number(last));
      }
      if (call.result == "0") {
        opened = *path;
        visits_[key] = KeyVisit{};
      }
    } else if ((op == "RegQueryValueExA" || op == "RegCloseKey") && !args.empty() && args[0].rfind("hkey#", 0) == 0) {
      // The program's first use of a new handle tells which open gave it.
      if (handles_.count(args[0]) == 0 && opened) handles_[args[0]] = *opened;
      opened.reset();
      auto handle = handles_.find(args[0]);
      if (op == "RegCloseKey" || handle == handles_.end()) return;
      KeyVisit& visit = visits_[sim::UpperAscii(handle->second)];
      visit.read = true;
      visit.readResult = Number(call.result);
      if (visit.readResult == 0) lastRead = sim::UpperAscii(handle->second);
      lastProfileRead.reset();
    } else if (op == "GetProfileStringA" && args.size() >= 2) {
      std::optional<std::string> section = Unquote(args[0]);
      std::optional<std::string> key = Unquote(args[1]);
      if (!section || !key) return;
      // The result is the count copied and the text: 24 "ZANTEROVA Karsenby RK514".
      const std::size_t blank = call.result.find(' ');
      ProfileRead read;
      read.text = Unquote(blank == std::string::npos ? "" : call.result.substr(blank + 1)).value_or("");
      lastProfileRead = ProfileKey(*section, *key);
      profileReads_[*lastProfileRead] = read;
      lastRead.reset();
    } else if (op.rfind("lstrcmp", 0) == 0 && args.size() >= 2 && args[1] == printerName && lastProfileRead) {
      ProfileRead& read = profileReads_[*lastProfileRead];
      read.compared = true;
      read.compareCall = op;
      read.comparedText = Unquote(args[0]).value_or("");
      read.compareResult = Number(call.result);
      lastProfileRead.reset();
    } else if (op.rfind("lstrcmp", 0) == 0 && args.size() >= 2 && args[1] == printerName && lastRead) {
      KeyVisit& visit = visits_[*lastRead];
      visit.compared = true;
      visit.comparedText = Unquote(args[0]).value_or("");
      lastRead.reset();
    } else if (op == "RegDeleteKeyA" && args.size() >= 2) {
      std::optional<std::string> path = RegistryPathOf(args[0], args[1]);
      if (!path) return;
      if (keyDeletions_.count(sim::UpperAscii(*path)) == 0) keyOrder_.push_back(*path);
      keyDeletions_[sim::UpperAscii(*path)] = Number(call.result);
    } else if (op == "WriteProfileStringA" && args.size() >= 3) {
      std::optional<std::string> section = Unquote(args[0]);
      std::optional<std::string> key = Unquote(args[1]);
      if (!section || Unquote(args[2])) return;  // deletions only
      const bool done = call.result != "0";
      if (key) {
        profileKeyDeletions_[ProfileKey(*section, *key)] = done;
      } else {
        if (sectionDeletions_.count(ProfileKey(*section, "")) == 0) sectionOrder_.push_back(*section);
        sectionDeletions_[ProfileKey(*section, "")] = done;
      }
    } else if ((op == "DeleteFileA" || op == "RemoveDirectoryA") && !args.empty()) {
      std::optional<std::string> path = Unquote(args[0]);
      if (!path) return;
      const bool isFile = op == "DeleteFileA";
      std::map<std::string, bool>& results = isFile ? fileDeletions_ : folderRemovals_;
      const std::string key = KeyOfFilePath(*path);
      if (results.count(key) == 0) (isFile ? fileOrder_ : folderOrder_).push_back(*path);
      results[key] = call.result != "0";
    } else if (op == "FindFirstFileA" && !args.empty()) {
      std::optional<std::string> pattern = Unquote(args[0]);
      if (pattern && pattern->find_first_of("*?") != std::string::npos) searches_.push_back(*pattern);
    } else if (op == "fopen" && args.size() >= 2) {
      std::optional<std::string> path = Unquote(args[0]);
      std::optional<std::string> mode = Unquote(args[1]);
      if (!path || !mode) return;
      const bool ok = call.result != "NULL";
      if (mode->front() == 'r') {
        reads_[KeyOfFilePath(*path)] = ok;
      } else {
        appends_.push_back(Append{*path, ok, false, {}});
        if (ok) appending[call.result] = appends_.size() - 1;
      }
    } else if (op == "CreateFileA" && args.size() >= 2) {
      std::optional<std::string> path = Unquote(args[0]);
      if (!path) return;
      const bool ok = call.result != "INVALID_HANDLE_VALUE";
      if ((std::stoul(args[1], nullptr, 16) & GENERIC_WRITE) == 0) {
        reads_[KeyOfFilePath(*path)] = ok;
      } else {
        appends_.push_back(Append{*path, ok, false, {}});
        if (ok) writing[call.result] = {appends_.size() - 1, ""};
      }
    } else if ((op == "WriteFile" || op == "CloseHandle") && !args.empty()) {
      auto open = writing.find(args[0]);
      if (open == writing.end()) return;
      auto& [index, bytes] = open->second;
      if (call.result == "0") appends_[index].failed = true;
      if (op == "WriteFile") {
        bytes += Unquote(args[1]).value_or("");
      } else {
        linesOf(index, bytes);
        writing.erase(open);
      }
    } else if ((op == "fprintf" || op == "fputs" || op == "fclose") && !args.empty()) {
      // fprintf(file, format, text), fputs(text, file), fclose(file).
      const std::string& file = op == "fputs" ? args.back() : args.front();
      auto open = appending.find(file);
      if (open == appending.end()) return;
      Append& append = appends_[open->second];
      if (call.result == "-1") append.failed = true;
      if (op == "fclose") {
        appending.erase(open);
      } else if (std::optional<std::string> text = Unquote(op == "fputs" ? args.front() : args.back())) {
        if (op == "fputs" || args.size() >= 3) append.lines.push_back(*text);
      }
    }
  });
  for (const auto& [handle, open] : writing) linesOf(open.first, open.second);
}

std::optional<long> RunCalls::KeyDeletion(const std::string& keyPath) const {
  return Lookup(keyDeletions_, KeyOfRegistryPath(keyPath));
}

std::optional<RunCalls::KeyVisit> RunCalls::Visit(const std::string& keyPath) const {
  return Lookup(visits_, KeyOfRegistryPath(keyPath));
}

std::optional<long> RunCalls::OpenResult(const std::string& keyPath) const {
  return Lookup(openResults_, KeyOfRegistryPath(keyPath));
}

std::optional<RunCalls::ProfileRead> RunCalls::ProfileReadOf(const std::string& section, const std::string& key) const {
  return Lookup(profileReads_, ProfileKey(section, key));
}

long RunCalls::HighestNumberTried(const std::string& baseKeyPath) const {
  return Lookup(highestTried_, KeyOfRegistryPath(baseKeyPath)).value_or(-1);
}

std::optional<bool> RunCalls::SectionDeletion(const std::string& section) const {
  return Lookup(sectionDeletions_, ProfileKey(section, ""));
}

std::optional<bool> RunCalls::ProfileKeyDeletion(const std::string& section, const std::string& key) const {
  return Lookup(profileKeyDeletions_, ProfileKey(section, key));
}

std::optional<bool> RunCalls::FileDeletion(const std::string& path) const {
  return Lookup(fileDeletions_, KeyOfFilePath(path));
}
std::optional<bool> RunCalls::FolderRemoval(const std::string& path) const {
  return Lookup(folderRemovals_, KeyOfFilePath(path));
}
std::optional<bool> RunCalls::OpenedForReading(const std::string& path) const {
  return Lookup(reads_, KeyOfFilePath(path));
}

}  // namespace sandbox
