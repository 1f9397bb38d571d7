// The Windows profile: GetProfileStringA and WriteProfileStringA on win.ini, a text file in the
// simulated Windows directory. Windows 95 and 98 edit win.ini in place, so a write changes only
// the lines it must: every other line keeps its bytes, its line end and its place.
//
// Reading a line follows Wine's profile code (dlls/kernel32/profile.c), which was checked against
// Windows 95: white space around a line, around the '=' and around a value is not part of the
// name or the value; a header is '[' up to the line's last ']'; a line without '=' is a key that
// has no value. Where win.ini holds the same section twice, this models what Wine does:
//   - a read looks in the first of them only, even when only a later one holds the key;
//   - deleting the section removes the first of them only; the later ones stay;
//   - deleting a key removes its first line, searching the same-named sections in file order;
//   - setting a key changes it in, or adds it to, the first of them.
#include "sim/profile.h"

#include <algorithm>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "internal.h"
#include "sim/errors.h"
#include "sim/text.h"
#include "win32.h"

namespace {

bool IsBlank(char c) {
  // Wine's own set: C white space, with the CR of a line end and a stray Ctrl-Z (DOS EOF).
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0x1A;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// One line of win.ini, as it stands in the file (with its line end, if it has one), and what it
// means: views into the file's bytes, or into a line that a write made (Profile keeps those).
struct Line {
  enum Kind { Blank, Header, Entry };
  std::string_view raw;
  Kind kind = Blank;
  std::string_view name;   // the section of a header, the key of an entry
  std::string_view value;  // an entry's value
  bool hasValue = false;
};

Line ParseLine(std::string_view raw) {
  Line line;
  line.raw = raw;
  const std::string_view text = Trim(line.raw);
  if (text.empty()) return line;
  if (text.front() == '[') {
    const std::size_t close = text.rfind(']');
    if (close != std::string_view::npos) {
      line.kind = Line::Header;
      line.name = text.substr(1, close - 1);
      return line;
    }
    // A '[' without its ']' is not a header: the line reads as a key.
  }
  line.kind = Line::Entry;
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    line.name = text;
    return line;
  }
  line.name = Trim(text.substr(0, equals));
  line.value = Trim(text.substr(equals + 1));
  line.hasValue = true;
  return line;
}

// win.ini as lines, read once per call without copying a line: a file of 60,000 sections is
// read and written back by every profile call.
struct Profile {
  std::vector<Line> lines;
  std::deque<std::string> made;  // the lines a write made; a deque keeps them where they are

  Line Make(std::string text) {
    made.push_back(std::move(text));
    return ParseLine(made.back());
  }
};

std::vector<Line> ParseLines(std::string_view bytes) {
  const std::vector<std::string_view> raw = sim::SplitLinesKeepingEnds(bytes);
  std::vector<Line> lines;
  lines.reserve(raw.size());
  for (std::string_view line : raw) lines.push_back(ParseLine(line));
  return lines;
}

std::string JoinLines(const std::vector<Line>& lines) {
  std::size_t size = 0;
  for (const Line& line : lines) size += line.raw.size();
  std::string bytes;
  bytes.reserve(size);
  for (const Line& line : lines) bytes += line.raw;
  return bytes;
}

// The lines [begin, end) of each section named `section`, in file order; lines before the
// first header belong to no section.
struct Range {
  std::size_t header, begin, end;
};
std::vector<Range> SectionsNamed(const std::vector<Line>& lines, std::string_view section) {
  std::vector<Range> ranges;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind != Line::Header || lines[i].name.empty() || !sim::EqualNoCase(lines[i].name, section)) continue;
    std::size_t end = i + 1;
    while (end < lines.size() && lines[end].kind != Line::Header) ++end;
    ranges.push_back({i, i + 1, end});
  }
  return ranges;
}

// The entry of `key` in the lines [begin, end), or end when there is none.
std::size_t FindKey(const std::vector<Line>& lines, const Range& range, std::string_view key) {
  for (std::size_t i = range.begin; i < range.end; ++i) {
    if (lines[i].kind == Line::Entry && sim::EqualNoCase(lines[i].name, key)) return i;
  }
  return range.end;
}

// A value in matching quotes is read without them, as the documentation of
// GetPrivateProfileString says.
std::string_view Unquoted(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// A line written here ends with CR LF; a last line without a line end gets one before a line follows it.
void EndLastLine(Profile& profile, std::size_t before) {
  if (before == 0) return;
  const std::string_view raw = profile.lines[before - 1].raw;
  if (!raw.empty() && raw.back() != '\n') profile.lines[before - 1] = profile.Make(std::string(raw) + "\r\n");
}

bool DeleteSection(std::vector<Line>& lines, std::string_view section) {
  const std::vector<Range> ranges = SectionsNamed(lines, section);
  if (ranges.empty()) return false;
  lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(ranges[0].header),
              lines.begin() + static_cast<std::ptrdiff_t>(ranges[0].end));
  return true;
}

bool DeleteKey(std::vector<Line>& lines, std::string_view section, std::string_view key) {
  for (const Range& range : SectionsNamed(lines, section)) {
    const std::size_t at = FindKey(lines, range, key);
    if (at == range.end) continue;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
  }
  return false;
}

bool SetKey(Profile& profile, std::string_view section, std::string_view key, std::string_view value) {
  std::vector<Line>& lines = profile.lines;
  while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
  const std::vector<Range> ranges = SectionsNamed(lines, section);
  if (ranges.empty()) {
    EndLastLine(profile, lines.size());
    lines.push_back(profile.Make(std::string(1, '[').append(section).append("]\r\n")));
    lines.push_back(profile.Make(std::string(key) + "=" + std::string(value) + "\r\n"));
    return true;
  }
  const Range& range = ranges[0];
  const std::size_t at = FindKey(lines, range, key);
  if (at != range.end) {
    if (lines[at].hasValue && lines[at].value == value) return false;
    // The key keeps the spelling it has in the file.
    lines[at] = profile.Make(std::string(lines[at].name) + "=" + std::string(value) + "\r\n");
    return true;
  }
  // A new key goes after the section's last line that is not blank, before any blank lines
  // that set the section off from the next.
  std::size_t after = range.begin;
  for (std::size_t i = range.begin; i < range.end; ++i) {
    if (lines[i].kind != Line::Blank) after = i + 1;
  }
  EndLastLine(profile, after);
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(after),
               profile.Make(std::string(key) + "=" + std::string(value) + "\r\n"));
  return true;
}

}  // namespace

namespace sim {

std::string ReadProfileString(std::optional<std::string_view> iniBytes, std::string_view section, std::string_view key,
                              std::string_view defaultText) {
  // The default loses its trailing spaces, as documented.
  while (!defaultText.empty() && defaultText.back() == ' ') defaultText.remove_suffix(1);
  if (!iniBytes) return std::string(defaultText);
  const std::vector<Line> lines = ParseLines(*iniBytes);
  const std::vector<Range> ranges = SectionsNamed(lines, Trim(section));
  if (ranges.empty()) return std::string(defaultText);
  const std::size_t at = FindKey(lines, ranges[0], Trim(key));
  if (at == ranges[0].end || !lines[at].hasValue) return std::string(defaultText);
  return std::string(Unquoted(lines[at].value));
}

}  // namespace sim

DWORD WINAPI GetProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultText, LPSTR buffer, DWORD size) {
  if (section == nullptr || key == nullptr) {
    throw sim::Unmodelled("GetProfileStringA: the enumeration forms (a NULL section or key) are not modelled");
  }
  if (key[0] == '\0') throw sim::Unmodelled("GetProfileStringA: an empty key name is not modelled");
  if (buffer == nullptr) throw sim::Unmodelled("GetProfileStringA: a NULL buffer");
  // The trace shows section, key, default and size; the result is the count and the text copied.
  sim::TracedCall call("GetProfileStringA",
                       {sim::Quote(section), sim::Quote(key), sim::Quote(defaultText), std::to_string(size)});
  sim::Machine& machine = call.machine();
  auto finish = [&](std::string_view text) -> DWORD {
    DWORD copied = 0;
    if (size > 0) {
      copied = static_cast<DWORD>(std::min<std::size_t>(text.size(), size - 1));
      text.copy(buffer, copied);
      buffer[copied] = '\0';
    }
    call.Done(std::to_string(copied) + " " + sim::Quote(size > 0 ? buffer : ""));
    return copied;
  };
  if (call.Fails()) {
    machine.lastError = ERROR_FILE_NOT_FOUND;
    return finish("");
  }

  const std::optional<std::string> ini = machine.files.ReadFile(machine.WinIniPath());
  return finish(sim::ReadProfileString(ini ? std::optional<std::string_view>(*ini) : std::nullopt, section, key,
                                       defaultText != nullptr ? defaultText : ""));
}

BOOL WINAPI WriteProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value) {
  if (section == nullptr) {
    throw sim::Unmodelled("WriteProfileStringA: a NULL section (flushing the profile cache) is not modelled");
  }
  sim::TracedCall call("WriteProfileStringA", {sim::Quote(section), sim::Quote(key), sim::Quote(value)});
  sim::Machine& machine = call.machine();
  auto fail = [&](std::uint32_t error) -> BOOL {
    machine.lastError = error;
    return call.Return<BOOL>(FALSE);
  };
  if (call.Fails()) return fail(ERROR_ACCESS_DENIED);

  const std::string path = machine.WinIniPath();
  sim::FileSystem& files = machine.files;
  // Windows opens win.ini for writing before it looks at it: a read-only one refuses every write.
  if (files.IsFile(path) && files.Attributes(path).value_or(sim::FileAttributes{}).readOnly) {
    return fail(ERROR_ACCESS_DENIED);
  }
  const std::string ini = files.ReadFile(path).value_or("");
  Profile profile{ParseLines(ini), {}};
  const std::string_view sectionName = Trim(section);
  bool changed;
  if (key == nullptr) {
    changed = DeleteSection(profile.lines, sectionName);
  } else if (value == nullptr) {
    changed = DeleteKey(profile.lines, sectionName, Trim(key));
  } else {
    changed = SetKey(profile, sectionName, Trim(key), value);
  }
  // Nothing to change leaves the file as it was, and a missing win.ini missing.
  if (!changed) return call.Return<BOOL>(TRUE);
  const std::uint32_t error = files.Replace(path, JoinLines(profile.lines));
  if (error != 0) return fail(error);
  return call.Return<BOOL>(TRUE);
}

namespace sim {

std::vector<ProfileLine> ReadProfileLines(std::string_view bytes) {
  static_assert(int{Line::Blank} == ProfileLine::Blank && int{Line::Header} == ProfileLine::Header &&
                int{Line::Entry} == ProfileLine::Entry);
  std::vector<ProfileLine> lines;
  for (const Line& line : ParseLines(bytes)) {
    lines.push_back({std::string(line.raw), static_cast<ProfileLine::Kind>(line.kind), std::string(line.name),
                     std::string(line.value), line.hasValue});
  }
  return lines;
}

}  // namespace sim
