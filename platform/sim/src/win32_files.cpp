// KERNEL32's file, file-handle, directory-search and string calls on the current simulated
// machine. Each call is traced; an injected fault makes a file or search call fail and change
// nothing.
#include <algorithm>

#include "internal.h"

namespace {

std::string SearchName(HANDLE search) { return sim::HandleName(search); }

void RequirePath(LPCSTR path, const char* op) {
  if (path == nullptr) throw sim::Unmodelled(std::string(op) + ": a NULL path is not modelled");
}

BOOL Finish(sim::TracedCall& call, DWORD error) {
  if (error != 0) {
    call.machine().lastError = error;
    return call.Return<BOOL>(FALSE);
  }
  return call.Return<BOOL>(TRUE);
}

// Files get the archive bit that Windows sets on every file written; folders get only theirs.
void Fill(const sim::DirEntry& entry, LPWIN32_FIND_DATAA data) {
  std::memset(data, 0, sizeof *data);
  DWORD attributes = entry.isDirectory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (entry.attributes.readOnly) attributes |= FILE_ATTRIBUTE_READONLY;
  if (entry.attributes.hidden) attributes |= FILE_ATTRIBUTE_HIDDEN;
  if (entry.attributes.system) attributes |= FILE_ATTRIBUTE_SYSTEM;
  data->dwFileAttributes = attributes;
  data->nFileSizeLow = static_cast<DWORD>(entry.size & 0xFFFFFFFFu);
  data->nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
  const std::size_t nameLength = std::min(entry.name.size(), sizeof data->cFileName - 1);
  std::memcpy(data->cFileName, entry.name.data(), nameLength);
  const std::size_t aliasLength = std::min(entry.shortName.size(), sizeof data->cAlternateFileName - 1);
  std::memcpy(data->cAlternateFileName, entry.shortName.data(), aliasLength);
}

}  // namespace

// ---- Files and folders.

namespace {

// Whether a CreateFileA handle holds the file at path open.
bool HeldOpen(sim::Machine& machine, std::string_view path) {
  const auto& open = machine.handles().fileHandles;
  if (open.empty() || !machine.files.IsFile(path)) return false;
  const std::string longPath = machine.files.LongPath(path);
  return std::any_of(open.begin(), open.end(), [&](const auto& handle) { return handle.second.path == longPath; });
}

}  // namespace

BOOL WINAPI DeleteFileA(LPCSTR path) {
  sim::TracedCall call("DeleteFileA", {sim::Quote(path)});
  RequirePath(path, "DeleteFileA");
  if (call.Fails()) return Finish(call, ERROR_ACCESS_DENIED);
  // A file the program holds open is in use, as one that another program holds.
  if (HeldOpen(call.machine(), path)) return Finish(call, ERROR_SHARING_VIOLATION);
  return Finish(call, call.machine().files.Delete(path));
}

BOOL WINAPI RemoveDirectoryA(LPCSTR path) {
  sim::TracedCall call("RemoveDirectoryA", {sim::Quote(path)});
  RequirePath(path, "RemoveDirectoryA");
  if (call.Fails()) return Finish(call, ERROR_ACCESS_DENIED);
  return Finish(call, call.machine().files.RemoveDirectory(path));
}

// ---- Files by handle (CreateFileA and the calls on its handle), as Windows 95 and 98 give them:
// GENERIC_READ and GENERIC_WRITE, the two sharing modes between the program's own handles, the
// five dispositions; a read-only file refuses writing, a file in use (held by another program)
// and a folder refuse opening. Writes go to the file at once; a handle keeps its position.

namespace {

using FileHandle = sim::Machine::Handles::File;

// The open file of a handle, or nullptr (ERROR_INVALID_HANDLE): a handle of another kind, or
// closed, or on a file removed behind its back (by a test).
FileHandle* OpenFile(sim::Machine& machine, HANDLE handle) {
  auto& open = machine.handles().fileHandles;
  const auto found = open.find(reinterpret_cast<std::uintptr_t>(handle));
  if (found == open.end() || !machine.files.IsFile(found->second.path)) return nullptr;
  return &found->second;
}

// The open file that a read or a write of handle goes through, or nullptr with the error it fails
// with: a handle that is no open file, an overlapped transfer (Windows 95 has none on files), a
// handle opened without the access the transfer needs.
FileHandle* TransferFile(sim::Machine& machine, HANDLE handle, LPOVERLAPPED overlapped, DWORD access, DWORD& error) {
  FileHandle* open = OpenFile(machine, handle);
  error = open == nullptr           ? ERROR_INVALID_HANDLE
          : overlapped != nullptr   ? ERROR_INVALID_PARAMETER
          : !(open->access & access) ? ERROR_ACCESS_DENIED
                                     : ERROR_SUCCESS;
  return error == ERROR_SUCCESS ? open : nullptr;
}

// Whether a new handle with access and share may open a file alongside those open on it. A
// handle without access (one that only asks about the file) shares with every other.
bool SharesWith(sim::Machine& machine, const std::string& longPath, DWORD access, DWORD share) {
  for (const auto& [value, file] : machine.handles().fileHandles) {
    if (file.path != longPath || access == 0 || file.access == 0) continue;
    if ((access & GENERIC_READ) && !(file.share & FILE_SHARE_READ)) return false;
    if ((access & GENERIC_WRITE) && !(file.share & FILE_SHARE_WRITE)) return false;
    if ((file.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return false;
    if ((file.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return false;
  }
  return true;
}

// The attributes a new file gets from CreateFileA's flags.
sim::FileAttributes AttributesOf(DWORD flags) {
  sim::FileAttributes attributes;
  attributes.readOnly = (flags & FILE_ATTRIBUTE_READONLY) != 0;
  attributes.hidden = (flags & FILE_ATTRIBUTE_HIDDEN) != 0;
  attributes.system = (flags & FILE_ATTRIBUTE_SYSTEM) != 0;
  return attributes;
}

// What the file calls add to the drives comes out of the machine's free space.
bool TakeRoom(sim::Machine& machine, std::uint64_t oldSize, std::uint64_t newSize) {
  if (newSize <= oldSize) {
    machine.freeDiskBytes += oldSize - newSize;
    return true;
  }
  if (newSize - oldSize > machine.freeDiskBytes) return false;
  machine.freeDiskBytes -= newSize - oldSize;
  return true;
}

// FILE_FLAG_WRITE_THROUGH, _NO_BUFFERING, _RANDOM_ACCESS and _SEQUENTIAL_SCAN change nothing
// that can be seen here; the attributes are those a file can be given.
constexpr DWORD kFlagsWithoutEffect = 0x80000000u | 0x20000000u | 0x10000000u | 0x08000000u;
constexpr DWORD kAttributeFlags = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL;
constexpr DWORD kFileFlagOverlapped = 0x40000000u;

// Exactly the bytes, quoted, for the trace.
std::string QuotedBytes(const void* bytes, DWORD size) {
  std::string text;
  text.reserve(size + 2u);
  text += '"';
  if (size != 0) text.append(static_cast<const char*>(bytes), size);
  text += '"';
  return text;
}

}  // namespace

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                          DWORD flags, HANDLE templateFile) {
  sim::TracedCall call("CreateFileA",
                       {sim::Quote(path), sim::Hex(access), sim::Hex(share), security == nullptr ? "NULL" : "security",
                        std::to_string(disposition), sim::Hex(flags), sim::HandleName(templateFile)});
  RequirePath(path, "CreateFileA");
  if (access & ~static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE))
    throw sim::Unmodelled("CreateFileA: access rights other than GENERIC_READ and GENERIC_WRITE are not modelled");
  if (flags & ~(kFlagsWithoutEffect | kAttributeFlags | kFileFlagOverlapped))
    throw sim::Unmodelled("CreateFileA: the flags " + sim::Hex(flags) + " are not modelled");
  sim::Machine& machine = call.machine();
  auto refuse = [&](DWORD error) {
    machine.lastError = error;
    call.Done("INVALID_HANDLE_VALUE");
    return INVALID_HANDLE_VALUE;
  };
  if (call.Fails()) return refuse(ERROR_ACCESS_DENIED);
  // Windows 95 and 98 know no FILE_SHARE_DELETE, no template file and no overlapped disk files.
  if (share & ~static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE)) return refuse(ERROR_INVALID_PARAMETER);
  if (templateFile != nullptr) return refuse(ERROR_NOT_SUPPORTED);
  if (flags & kFileFlagOverlapped) return refuse(ERROR_INVALID_PARAMETER);
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) return refuse(ERROR_INVALID_PARAMETER);
  if (disposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE)) return refuse(ERROR_INVALID_PARAMETER);

  sim::FileSystem& files = machine.files;
  const bool exists = files.Exists(path);
  if (exists) {
    if (files.IsDirectory(path)) return refuse(ERROR_ACCESS_DENIED);
    if (disposition == CREATE_NEW) return refuse(ERROR_FILE_EXISTS);
    const sim::FileAttributes attributes = files.Attributes(path).value_or(sim::FileAttributes{});
    if (attributes.inUse) return refuse(ERROR_SHARING_VIOLATION);
    const bool truncates = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    if (attributes.readOnly && ((access & GENERIC_WRITE) || truncates)) return refuse(ERROR_ACCESS_DENIED);
    if (!SharesWith(machine, files.LongPath(path), access, share)) return refuse(ERROR_SHARING_VIOLATION);
    if (truncates) {
      const std::uint64_t oldSize = files.FileSize(path).value_or(0);
      if (const DWORD error = files.Replace(path, "")) return refuse(error);
      TakeRoom(machine, oldSize, 0);
      if (disposition == CREATE_ALWAYS) files.SetAttributes(path, AttributesOf(flags));
    }
  } else {
    if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) {
      const std::string_view text = path;
      const std::size_t slash = text.rfind('\\');
      const bool folderThere = slash != std::string_view::npos && files.IsDirectory(text.substr(0, slash + 1));
      return refuse(folderThere ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    }
    if (const DWORD error = files.Replace(path, "")) return refuse(error);
    files.SetAttributes(path, AttributesOf(flags));
  }
  // Opening or creating anew says whether the file was there.
  if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) machine.lastError = exists ? ERROR_ALREADY_EXISTS : 0;
  auto& handles = machine.handles();
  const std::uintptr_t value = handles.Take(handles.nextFile, handles.kEnd, "files");
  handles.fileHandles[value] = {files.LongPath(path), access, share, 0};
  HANDLE handle = reinterpret_cast<HANDLE>(value);
  call.Done(sim::HandleName(handle));
  return handle;
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
  sim::TracedCall call("ReadFile",
                       {sim::HandleName(file), buffer == nullptr ? "NULL" : "buffer", std::to_string(toRead),
                        read == nullptr ? "NULL" : "read", overlapped == nullptr ? "NULL" : "overlapped"});
  if (read == nullptr && overlapped == nullptr) throw sim::Unmodelled("ReadFile: no count of bytes read to fill");
  if (buffer == nullptr && toRead != 0) throw sim::Unmodelled("ReadFile: a NULL buffer");
  if (read != nullptr) *read = 0;
  sim::Machine& machine = call.machine();
  // A region locked by another program: how a read of a sound disk fails.
  if (call.Fails()) return Finish(call, ERROR_LOCK_VIOLATION);
  DWORD error = ERROR_SUCCESS;
  FileHandle* open = TransferFile(machine, file, overlapped, GENERIC_READ, error);
  if (open == nullptr) return Finish(call, error);
  // At or past the end a read succeeds with nothing read.
  const std::size_t count = machine.files.ReadAt(open->path, open->position, static_cast<char*>(buffer), toRead);
  open->position += count;
  *read = static_cast<DWORD>(count);
  call.Done("1 (" + std::to_string(count) + " bytes)");
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) {
  if (buffer == nullptr && toWrite != 0) throw sim::Unmodelled("WriteFile: a NULL buffer");
  sim::TracedCall call("WriteFile",
                       {sim::HandleName(file), QuotedBytes(buffer, toWrite), std::to_string(toWrite),
                        written == nullptr ? "NULL" : "written", overlapped == nullptr ? "NULL" : "overlapped"});
  if (written == nullptr && overlapped == nullptr)
    throw sim::Unmodelled("WriteFile: no count of bytes written to fill");
  if (written != nullptr) *written = 0;
  sim::Machine& machine = call.machine();
  if (call.Fails()) return Finish(call, ERROR_DISK_FULL);
  DWORD error = ERROR_SUCCESS;
  FileHandle* open = TransferFile(machine, file, overlapped, GENERIC_WRITE, error);
  if (open == nullptr) return Finish(call, error);
  if (toWrite != 0) {
    const std::uint64_t oldSize = machine.files.FileSize(open->path).value_or(0);
    const std::uint64_t end = open->position + toWrite;
    if (end > 0xFFFFFFFFu || !TakeRoom(machine, oldSize, std::max(oldSize, end))) return Finish(call, ERROR_DISK_FULL);
    machine.files.WriteAt(open->path, open->position, std::string_view(static_cast<const char*>(buffer), toWrite));
    open->position = end;
  }
  *written = toWrite;
  return Finish(call, 0);
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  sim::TracedCall call("SetFilePointer",
                       {sim::HandleName(file), std::to_string(distance),
                        distanceHigh == nullptr ? "NULL" : std::to_string(*distanceHigh), std::to_string(method)});
  sim::Machine& machine = call.machine();
  auto refuse = [&](DWORD error) {
    machine.lastError = error;
    return call.Return<DWORD>(INVALID_SET_FILE_POINTER);
  };
  if (call.Fails()) return refuse(ERROR_ACCESS_DENIED);
  FileHandle* open = OpenFile(machine, file);
  if (open == nullptr) return refuse(ERROR_INVALID_HANDLE);
  std::int64_t base = 0;
  switch (method) {
    case FILE_BEGIN: break;
    case FILE_CURRENT: base = static_cast<std::int64_t>(open->position); break;
    case FILE_END: base = static_cast<std::int64_t>(machine.files.FileSize(open->path).value_or(0)); break;
    default: return refuse(ERROR_INVALID_PARAMETER);
  }
  // Without a high part the distance is a signed 32-bit number; with one, the two make 64 bits.
  const std::int64_t move = distanceHigh == nullptr
                                ? distance
                                : static_cast<std::int64_t>((static_cast<std::uint64_t>(*distanceHigh) << 32) |
                                                            static_cast<std::uint32_t>(distance));
  const std::int64_t position = base + move;
  if (position < 0) return refuse(ERROR_NEGATIVE_SEEK);
  // A FAT file holds less than 4 GiB: a position past that is not one it can have.
  if (position > 0xFFFFFFFFll) return refuse(ERROR_INVALID_PARAMETER);
  open->position = static_cast<std::uint64_t>(position);
  if (distanceHigh != nullptr) *distanceHigh = 0;
  // INVALID_SET_FILE_POINTER can also be a position: the last error then tells success.
  if (open->position == INVALID_SET_FILE_POINTER) machine.lastError = 0;
  return call.Return<DWORD>(static_cast<DWORD>(open->position));
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  sim::TracedCall call("GetFileSize", {sim::HandleName(file), sizeHigh == nullptr ? "NULL" : "high"});
  sim::Machine& machine = call.machine();
  auto refuse = [&](DWORD error) {
    machine.lastError = error;
    return call.Return<DWORD>(INVALID_FILE_SIZE);
  };
  if (call.Fails()) return refuse(ERROR_ACCESS_DENIED);
  FileHandle* open = OpenFile(machine, file);
  if (open == nullptr) return refuse(ERROR_INVALID_HANDLE);
  const std::uint64_t size = machine.files.FileSize(open->path).value_or(0);
  if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
  if (size == INVALID_FILE_SIZE) machine.lastError = 0;
  return call.Return<DWORD>(static_cast<DWORD>(size));
}

BOOL WINAPI SetEndOfFile(HANDLE file) {
  sim::TracedCall call("SetEndOfFile", {sim::HandleName(file)});
  sim::Machine& machine = call.machine();
  if (call.Fails()) return Finish(call, ERROR_DISK_FULL);
  FileHandle* open = OpenFile(machine, file);
  if (open == nullptr) return Finish(call, ERROR_INVALID_HANDLE);
  if (!(open->access & GENERIC_WRITE)) return Finish(call, ERROR_ACCESS_DENIED);
  if (!TakeRoom(machine, machine.files.FileSize(open->path).value_or(0), open->position))
    return Finish(call, ERROR_DISK_FULL);
  machine.files.Resize(open->path, open->position);
  return Finish(call, 0);
}

BOOL WINAPI CloseHandle(HANDLE object) {
  sim::TracedCall call("CloseHandle", {sim::HandleName(object)});
  if (call.Fails()) return Finish(call, ERROR_INVALID_HANDLE);  // the file stays open
  // Of the handles the machine gives, CloseHandle closes files; a search (FindClose) or a key
  // (RegCloseKey) is not its kind.
  if (call.machine().handles().fileHandles.erase(reinterpret_cast<std::uintptr_t>(object)) == 0)
    return Finish(call, ERROR_INVALID_HANDLE);
  return Finish(call, 0);
}

// ---- Directory search. A search takes the folder's matches when it starts; the handle then
// hands them out one by one.

HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  sim::TracedCall call("FindFirstFileA", {sim::Quote(pattern), "data"});
  RequirePath(pattern, "FindFirstFileA");
  if (data == nullptr) throw sim::Unmodelled("FindFirstFileA: a NULL find data pointer is not modelled");
  sim::Machine& machine = call.machine();
  auto refuse = [&](DWORD error) {
    machine.lastError = error;
    call.Done("INVALID_HANDLE_VALUE");
    return INVALID_HANDLE_VALUE;
  };
  if (call.Fails()) return refuse(ERROR_ACCESS_DENIED);
  sim::Machine::Handles::Search search;
  if (const DWORD error = machine.files.Search(pattern, search.entries)) return refuse(error);
  Fill(search.entries[0], data);
  search.next = 1;
  auto& handles = machine.handles();
  const std::uintptr_t value = handles.Take(handles.nextSearch, handles.kFiles, "directory searches");
  handles.searches[value] = std::move(search);
  HANDLE handle = reinterpret_cast<HANDLE>(value);
  call.Done(SearchName(handle));
  return handle;
}

BOOL WINAPI FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data) {
  sim::TracedCall call("FindNextFileA", {SearchName(search), "data"});
  if (data == nullptr) throw sim::Unmodelled("FindNextFileA: a NULL find data pointer is not modelled");
  if (call.Fails()) return Finish(call, ERROR_READ_FAULT);  // what a failed directory read gives
  auto& searches = call.machine().handles().searches;
  const auto open = searches.find(reinterpret_cast<std::uintptr_t>(search));
  if (open == searches.end()) return Finish(call, ERROR_INVALID_HANDLE);
  auto& found = open->second;
  if (found.next >= found.entries.size()) return Finish(call, ERROR_NO_MORE_FILES);
  Fill(found.entries[found.next++], data);
  return Finish(call, 0);
}

BOOL WINAPI FindClose(HANDLE search) {
  sim::TracedCall call("FindClose", {SearchName(search)});
  if (call.Fails()) return Finish(call, ERROR_INVALID_HANDLE);  // the search stays open
  auto& searches = call.machine().handles().searches;
  if (searches.erase(reinterpret_cast<std::uintptr_t>(search)) == 0) return Finish(call, ERROR_INVALID_HANDLE);
  return Finish(call, 0);
}

// ---- Strings. These are traced like every call, but an injected fault never makes them fail:
// Windows gives them no failure that a caller could see. NULL arguments behave as in Windows,
// which guards these calls: a copy or an append returns NULL, a NULL string has length 0 and sorts
// before every other string. A program calls them for every name it builds and every word it
// compares: their texts are written into buffers that keep their room, and no call record is built.

namespace {

// A text as the trace shows it, written into a buffer that keeps its room from call to call.
std::string_view QuotedInto(std::string& buffer, const char* text) {
  if (text == nullptr) return "NULL";
  buffer.assign(1, '"');
  buffer += text;
  buffer += '"';
  return buffer;
}

struct StringCallTexts {
  std::string first, second, result;
};

// Counts the call with the faults (a string helper never fails) and gives the buffers for its texts.
StringCallTexts& StringCall(const char* op) {
  static StringCallTexts texts;
  sim::Machine& machine = sim::Current();
  machine.faults().ShouldFail(op, machine.trace().Size());
  return texts;
}

}  // namespace

LPSTR WINAPI lstrcpyA(LPSTR dest, LPCSTR source) {
  StringCallTexts& texts = StringCall("lstrcpyA");
  const std::string_view quotedSource = QuotedInto(texts.second, source);
  std::string_view result = "NULL";
  if (dest != nullptr && source != nullptr) {
    std::memmove(dest, source, std::strlen(source) + 1);
    result = QuotedInto(texts.result, dest);
  }
  sim::Current().trace().Record("lstrcpyA", {"dest", quotedSource}, result);
  return result == "NULL" ? nullptr : dest;
}

LPSTR WINAPI lstrcatA(LPSTR dest, LPCSTR source) {
  StringCallTexts& texts = StringCall("lstrcatA");
  const std::string_view quotedDest = QuotedInto(texts.first, dest);
  const std::string_view quotedSource = QuotedInto(texts.second, source);
  std::string_view result = "NULL";
  if (dest != nullptr && source != nullptr) {
    std::memmove(dest + std::strlen(dest), source, std::strlen(source) + 1);
    result = QuotedInto(texts.result, dest);
  }
  sim::Current().trace().Record("lstrcatA", {quotedDest, quotedSource}, result);
  return result == "NULL" ? nullptr : dest;
}

int WINAPI lstrlenA(LPCSTR text) {
  StringCallTexts& texts = StringCall("lstrlenA");
  const int length = text == nullptr ? 0 : static_cast<int>(std::strlen(text));
  char number[16];
  const int written = std::snprintf(number, sizeof number, "%d", length);
  sim::Current().trace().Record("lstrlenA", {QuotedInto(texts.first, text)}, std::string_view(number, written));
  return length;
}

namespace {

// The word sort of the Windows (U.S. English) locale for single-byte text, as lstrcmpA applies
// it: symbols sort before digits and digits before letters; letters compare without case first,
// and only then does case count, a lower-case letter before its capital; a hyphen and an
// apostrophe weigh nothing at first, so "co-op" sorts next to "coop". Strings that still tie
// but differ are ordered by their bytes, so that only equal strings compare equal. Bytes above
// 127 are not given their code page's letter weights: they sort after the letters, in code order.
int PrimaryWeight(unsigned char c) {
  static constexpr std::string_view kSymbols = " !\"#$%&()*,./:;?@[\\]^_`{|}~+<=>";
  if (c < 0x20) return 1 + c;
  if (const std::size_t at = kSymbols.find(static_cast<char>(c)); at != std::string_view::npos)
    return 0x40 + static_cast<int>(at);
  if (c >= '0' && c <= '9') return 0x80 + (c - '0');
  if (c >= 'a' && c <= 'z') return 0x100 + (c - 'a');
  if (c >= 'A' && c <= 'Z') return 0x100 + (c - 'A');
  return 0x200 + c;  // other bytes: after the letters, in code order
}

bool WeighsNothing(unsigned char c) { return c == '-' || c == '\''; }

int Sign(int value) { return (value > 0) - (value < 0); }

// The weighed bytes of a string one by one: every byte but those that weigh nothing.
class Weighed {
 public:
  explicit Weighed(const char* text) : p_(text) { Skip(); }
  bool AtEnd() const { return *p_ == '\0'; }
  unsigned char Next() {
    const auto c = static_cast<unsigned char>(*p_++);
    Skip();
    return c;
  }

 private:
  void Skip() {
    while (*p_ != '\0' && WeighsNothing(static_cast<unsigned char>(*p_))) ++p_;
  }
  const char* p_;
};

int WordSortCompare(const char* a, const char* b, bool caseCounts) {
  if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
  // The primary weights first, then which string has weighed bytes left.
  Weighed first(a), second(b);
  while (!first.AtEnd() && !second.AtEnd()) {
    const int difference = PrimaryWeight(first.Next()) - PrimaryWeight(second.Next());
    if (difference != 0) return Sign(difference);
  }
  if (first.AtEnd() != second.AtEnd()) return first.AtEnd() ? -1 : 1;
  if (caseCounts) {
    Weighed upperA(a), upperB(b);
    while (!upperA.AtEnd()) {
      const unsigned char x = upperA.Next(), y = upperB.Next();
      const bool upperFirst = x >= 'A' && x <= 'Z';
      const bool upperSecond = y >= 'A' && y <= 'Z';
      if (upperFirst != upperSecond) return upperFirst ? 1 : -1;
    }
  }
  // Then the hyphens and apostrophes: without them first ("coop" before "co-op").
  const std::size_t lengthA = std::strlen(a), lengthB = std::strlen(b);
  if (lengthA != lengthB) return lengthA < lengthB ? -1 : 1;
  auto fold = [caseCounts](char c) {
    return static_cast<unsigned char>(!caseCounts && c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  };
  for (std::size_t i = 0; i < lengthA; ++i)
    if (fold(a[i]) != fold(b[i])) return fold(a[i]) < fold(b[i]) ? -1 : 1;
  return 0;
}

int TracedCompare(const char* op, LPCSTR a, LPCSTR b, bool caseCounts) {
  StringCallTexts& texts = StringCall(op);
  const int result = WordSortCompare(a, b, caseCounts);
  sim::Current().trace().Record(op, {QuotedInto(texts.first, a), QuotedInto(texts.second, b)},
                                result < 0   ? "-1"
                                : result > 0 ? "1"
                                             : "0");
  return result;
}

}  // namespace

int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) { return TracedCompare("lstrcmpA", a, b, true); }

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) { return TracedCompare("lstrcmpiA", a, b, false); }
