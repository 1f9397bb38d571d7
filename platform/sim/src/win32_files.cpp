// KERNEL32's file, directory-search and string calls on the current simulated machine. Each call
// is traced; an injected fault makes a file or search call fail and change nothing.
#include <algorithm>

#include "internal.h"

namespace {

std::string SearchName(HANDLE search) {
  if (search == INVALID_HANDLE_VALUE) return "INVALID_HANDLE_VALUE";
  if (search == nullptr) return "NULL";
  return "search#" + std::to_string(reinterpret_cast<std::uintptr_t>(search));
}

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

BOOL WINAPI DeleteFileA(LPCSTR path) {
  sim::TracedCall call("DeleteFileA", {sim::Quote(path)});
  RequirePath(path, "DeleteFileA");
  if (call.Fails()) return Finish(call, ERROR_ACCESS_DENIED);
  return Finish(call, call.machine().files.Delete(path));
}

BOOL WINAPI RemoveDirectoryA(LPCSTR path) {
  sim::TracedCall call("RemoveDirectoryA", {sim::Quote(path)});
  RequirePath(path, "RemoveDirectoryA");
  if (call.Fails()) return Finish(call, ERROR_ACCESS_DENIED);
  return Finish(call, call.machine().files.RemoveDirectory(path));
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
  const std::uintptr_t value = handles.nextSearch++;
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
