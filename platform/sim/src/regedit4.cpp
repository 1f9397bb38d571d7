// REGEDIT4 files, as Windows 98's regedit reads and writes them: a "REGEDIT4" first line, [key]
// sections, and "name"="text", @="text", dword:, hex: and hex(N): values with \ continuations.
#include <cstdio>
#include <utility>

#include "image_files.h"
#include "sim/errors.h"
#include "sim/registry.h"
#include "sim/text.h"

namespace sim {
namespace {

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::size_t kLineWidth = 77;  // regedit breaks hex lists before this column

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Up to eight hex digits, the whole of the text.
bool ParseHexNumber(std::string_view text, std::uint32_t& number) {
  if (text.empty() || text.size() > 8) return false;
  number = 0;
  for (char c : text) {
    int digit = HexDigit(c);
    if (digit < 0) return false;
    number = number * 16 + static_cast<std::uint32_t>(digit);
  }
  return true;
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Reads one REGEDIT4 file into a registry. Every error names the file and the line.
class RegParser {
 public:
  // The text whole, or (file given) read from the file a block at a time.
  RegParser(Registry& registry, std::string_view text, std::string fileName, ImageFile* file = nullptr)
      : registry_(registry), fileName_(std::move(fileName)), file_(file), rest_(text) {}

  void Run() {
    std::string_view first, firstWithEnd;
    const bool any = NextLine(first, &firstWithEnd);
    // The first line, with its end, shows a mark at the start, and a file of CR-only line ends
    // is one line.
    if (const std::string problem = TextShapeProblem(firstWithEnd); !problem.empty()) Fail(1, problem);
    if (any && TrimBlanks(first).substr(0, 35) == "Windows Registry Editor Version 5.0")
      Fail(1,
           "a \"Windows Registry Editor Version 5.00\" export, the format of regedit on Windows 2000 and later; the "
           "image needs the Windows 95/98 format, REGEDIT4: export with the regedit of Windows 95 or 98, or choose "
           "\"Win9x/NT4 Registration Files (*.reg)\" as the type in regedit's export dialog");
    if (!any || TrimBlanks(first) != "REGEDIT4")
      Fail(1, "the first line must be REGEDIT4, found \"" + Visible(first.substr(0, 40)) + "\"");
    for (std::string_view read; NextLine(read);) {
      const std::size_t number = lineNumber_;
      std::string_view line = TrimBlanks(read);
      if (line.empty() || line.front() == ';') continue;
      if (line.front() == '[') {
        KeyLine(number, line);
      } else if (line.front() == '"' || line.front() == '@') {
        ValueLine(number, line);
      } else {
        Fail(number, "neither a [key] nor a value: \"" + std::string(line) + "\"");
      }
    }
  }

 private:
  // The next line of the text, without its line end (withEnd: with it); false past the last.
  // The lines are read one by one, so that a file of millions of lines needs no list of them; a
  // line is valid until the next is read.
  bool NextLine(std::string_view& line, std::string_view* withEnd = nullptr) {
    std::size_t end = rest_.find('\n');
    while (end == std::string_view::npos && file_ != nullptr) {
      // What is left of the block goes to the front of the buffer, and the next block after it.
      const std::size_t scanned = rest_.size();
      buffer_.erase(0, buffer_.size() - rest_.size());
      if (!file_->ReadMore(buffer_)) file_ = nullptr;
      rest_ = buffer_;
      end = rest_.find('\n', scanned);
    }
    if (rest_.empty()) return false;
    const std::size_t length = end == std::string_view::npos ? rest_.size() : end + 1;
    if (withEnd != nullptr) *withEnd = rest_.substr(0, length);
    line = rest_.substr(0, end == std::string_view::npos ? rest_.size() : end);
    rest_.remove_prefix(length);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++lineNumber_;
    return true;
  }

  [[noreturn]] void Fail(std::size_t line, const std::string& what) const {
    throw ImageError(fileName_ + ":" + std::to_string(line) + ": " + what);
  }

  void KeyLine(std::size_t number, std::string_view line) {
    std::size_t close = line.rfind(']');
    if (close == std::string_view::npos) Fail(number, "a [key] line without its closing ]");
    if (!TrimBlanks(line.substr(close + 1)).empty()) Fail(number, "text after the closing ] of a [key] line");
    std::string_view path = line.substr(1, close - 1);
    if (!path.empty() && path.front() == '-') Fail(number, "deleting a key ([-...]) is not part of REGEDIT4");
    if (path.empty() || path.front() == '\\' || path.find("\\\\") != std::string_view::npos) {
      Fail(number, "not a key path: [" + std::string(path) + "]");
    }
    if (HasLineBreak(path))
      Fail(number, "a key name holding a carriage return or a line feed, which no regedit file can give back");
    try {
      key_ = registry_.Resolve(path);
    } catch (const Unmodelled&) {
      Fail(number, "unknown root key in [" + std::string(path) + "]");
    }
    if (Registry::Depth(key_) > Registry::kDeepestKey) {
      Fail(number, "a key " + std::to_string(Registry::Depth(key_)) + " levels deep; the Windows registry allows " +
                       std::to_string(Registry::kDeepestKey));
    }
    registry_.CreateKey(key_);
    current_ = registry_.Find(key_);
  }

  // A quoted name or string, with \\ and \" as its only escapes. `pos` is left after the quote.
  std::string Quoted(std::size_t number, std::string_view line, std::size_t& pos) const {
    std::string text;
    for (++pos; pos < line.size(); ++pos) {
      char c = line[pos];
      if (c == '"') {
        ++pos;
        return text;
      }
      if (c == '\\') {
        if (pos + 1 >= line.size() || (line[pos + 1] != '\\' && line[pos + 1] != '"')) {
          Fail(number, "a backslash that escapes neither \\ nor \" in a quoted text");
        }
        c = line[++pos];
      }
      text += c;
    }
    Fail(number, "a quoted text without its closing quote");
  }

  void ValueLine(std::size_t number, std::string_view line) {
    if (key_.empty()) Fail(number, "a value before the first [key] line");
    std::size_t pos = 0;
    std::string name;
    if (line[0] == '@') {
      pos = 1;
    } else {
      name = Quoted(number, line, pos);
      if (HasLineBreak(name))
        Fail(number, "a value name holding a carriage return or a line feed, which no regedit file can give back");
    }
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != '=') Fail(number, "a value name without = after it");
    std::string_view data = TrimBlanks(line.substr(pos + 1));
    RegValue value;
    if (!data.empty() && data.front() == '"') {
      std::size_t end = 0;
      std::string text = Quoted(number, data, end);
      if (end != data.size()) Fail(number, "text after the closing quote of a string");
      value.type = kRegSz;
      value.data.assign(text.begin(), text.end());
      value.data.push_back(0);
    } else if (data.substr(0, 6) == "dword:") {
      std::uint32_t number32 = 0;
      if (!ParseHexNumber(data.substr(6), number32)) Fail(number, "dword: needs one to eight hex digits");
      value.type = kRegDword;
      for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<std::uint8_t>(number32 >> (8 * i)));
    } else if (data.substr(0, 4) == "hex:" || data.substr(0, 4) == "hex(") {
      std::size_t colon = data.find(':');
      value.type = kRegBinary;
      if (data[3] == '(') {
        std::size_t close = data.find(')');
        if (close == std::string_view::npos || close + 1 != colon ||
            !ParseHexNumber(data.substr(4, close - 4), value.type)) {
          Fail(number, "hex(N): needs a type number of one to eight hex digits");
        }
      }
      value.data = HexBytes(number, data.substr(colon + 1));
    } else if (data == "-") {
      Fail(number, "deleting a value (=-) is not part of REGEDIT4");
    } else {
      Fail(number, "value data that is neither \"text\", dword: nor hex:");
    }
    // Registry::SetValue on the key of the [key] line, found once for all its values: a key of a
    // million values is not looked up a million times.
    auto& values = current_->values.Edit();
    auto it = values.find(name);
    if (it == values.end()) {
      values.emplace(std::move(name), std::move(value));
    } else {
      it->second = std::move(value);  // an existing value keeps the name it was created with
    }
  }

  // A comma-separated list of two-digit hex bytes; a line ending in \ goes on on the next line.
  std::vector<std::uint8_t> HexBytes(std::size_t number, std::string_view list) {
    std::vector<std::uint8_t> bytes;
    bool expectMore = false;  // a comma was read, so a byte must follow
    while (true) {
      list = TrimBlanks(list);
      bool continued = !list.empty() && list.back() == '\\';
      if (continued) list = TrimBlanks(list.substr(0, list.size() - 1));
      while (!list.empty()) {
        std::size_t comma = list.find(',');
        std::string_view token = TrimBlanks(list.substr(0, comma));
        if (token.size() != 2 || HexDigit(token[0]) < 0 || HexDigit(token[1]) < 0) {
          Fail(number, std::string(1, '"').append(token).append("\" is not a two-digit hex byte"));
        }
        bytes.push_back(static_cast<std::uint8_t>(HexDigit(token[0]) * 16 + HexDigit(token[1])));
        expectMore = comma != std::string_view::npos;
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
      }
      if (!continued) break;
      if (!expectMore && !bytes.empty()) Fail(number, "a continued hex list must end its line with a comma");
      if (!NextLine(list)) Fail(number, "a hex list continued past the end of the file");
      number = lineNumber_;
      if (TrimBlanks(list).empty()) Fail(number, "a hex list continued on an empty line");
    }
    if (expectMore) Fail(number, "a hex list that ends with a comma");
    return bytes;
  }

  Registry& registry_;
  std::string fileName_;
  ImageFile* file_;     // nullptr once read to its end, or for a text given whole
  std::string buffer_;  // the block of the file being read
  std::string_view rest_;        // what is still to be read
  std::size_t lineNumber_ = 0;  // of the line read last, from 1
  std::string key_;       // the key of the last [key] line, canonical
  RegKey* current_ = nullptr;  // that key in registry_
};

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

// A REG_SZ is written as "text" only when that gives back its exact bytes: one final NUL, no NUL
// before it, and nothing that would break the line.
bool WritableAsString(const RegValue& value) {
  const auto& data = value.data;
  if (value.type != kRegSz || data.empty() || data.back() != 0) return false;
  for (std::size_t i = 0; i + 1 < data.size(); ++i) {
    if (data[i] == 0 || data[i] == '\r' || data[i] == '\n') return false;
  }
  return true;
}

std::string ValueLines(const std::string& name, const RegValue& value) {
  if (HasLineBreak(name)) throw Unmodelled("REGEDIT4 cannot hold a value name with a line break: \"" + name + "\"");
  std::string line = name.empty() ? "@=" : std::string(1, '"').append(Escaped(name)).append("\"=");
  if (WritableAsString(value)) {
    return line + "\"" + Escaped(std::string(value.data.begin(), value.data.end() - 1)) + "\"\r\n";
  }
  char text[32];
  if (value.type == kRegDword && value.data.size() == 4) {
    std::uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = number << 8 | value.data[i];
    std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(number));
    return line + text + "\r\n";
  }
  if (value.type == kRegBinary) {
    line += "hex:";
  } else {
    std::snprintf(text, sizeof text, "hex(%x):", static_cast<unsigned>(value.type));
    line += text;
  }
  std::string out;
  for (std::size_t i = 0; i < value.data.size(); ++i) {
    if (i > 0 && line.size() + 3 > kLineWidth) {
      out += line + "\\\r\n";
      line = "  ";
    }
    std::snprintf(text, sizeof text, "%02x", value.data[i]);
    line += text;
    if (i + 1 < value.data.size()) line += ",";
  }
  return out + line + "\r\n";
}

void ExportKey(const RegKey& key, const std::string& path, bool isRoot, std::string& out) {
  if (HasLineBreak(key.name))
    throw Unmodelled("REGEDIT4 cannot hold a key name with a line break: \"" + key.name + "\"");
  if (!isRoot || !key.values.empty()) {
    out += "[" + path + "]\r\n";
    for (const auto& [name, value] : key.values) out += ValueLines(name, value);
    out += "\r\n";
  }
  for (const auto& [lookup, subkey] : key.subkeys) ExportKey(subkey, path + "\\" + subkey.name, false, out);
}

}  // namespace

void Registry::LoadRegFile(const std::filesystem::path& file) {
  ImageFile open(file);
  // All or nothing, as LoadRegText.
  Registry loaded = *this;
  RegParser(loaded, {}, file.filename().string(), &open).Run();
  *this = std::move(loaded);
}

void Registry::LoadRegText(std::string_view text, const std::string& fileName) {
  // All or nothing: the file is read into a copy that replaces this registry only at the end.
  Registry loaded = *this;
  RegParser(loaded, text, fileName).Run();
  *this = std::move(loaded);
}

std::string Registry::ExportRegText() const {
  std::string out = "REGEDIT4\r\n\r\n";
  ExportKey(roots_[0], roots_[0].name, true, out);
  ExportKey(roots_[1], roots_[1].name, true, out);
  return out;
}

}  // namespace sim
