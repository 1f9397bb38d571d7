// 8.3 names the way Windows 95 and 98 make them: which long names are valid short names as they
// stand, and the basis and extension from which a long name's ~N alias is built.
#include "shortnames.h"

#include "sim/text.h"

namespace sim {

// Characters that no Windows name may hold.
bool IsValidLongChar(unsigned char c) {
  switch (c) {
    case '\\':
    case '/':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|': return false;
    default: return c >= 0x20;
  }
}

namespace {

// Letters, digits, bytes above 127 and $ % ' - _ @ ~ ` ! ( ) ^ # & { }. A long name may also hold
// blanks, dots and + , ; = [ ], which a short name cannot.
bool IsShortChar(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c >= 0x80) return true;
  for (char special : std::string_view("$%'-_@~`!()^#&{}"))
    if (c == static_cast<unsigned char>(special)) return true;
  return false;
}

// The short-name characters of text, upper-cased; everything else is dropped.
std::string ShortChars(std::string_view text) {
  std::string kept;
  for (unsigned char c : text)
    if (IsShortChar(c)) kept += static_cast<char>(c);
  return UpperAscii(kept);
}

}  // namespace

// One to eight short-name characters, then optionally a dot and one to three more. Letter case
// does not matter: "Oem0.inf" needs no alias, its short name being OEM0.INF.
bool IsValidShortName(std::string_view name) {
  const std::size_t dot = name.find('.');
  const std::string_view base = name.substr(0, dot);
  const std::string_view extension = dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || extension.size() > 3) return false;
  if (dot != std::string_view::npos && extension.empty()) return false;
  for (unsigned char c : base)
    if (!IsShortChar(c)) return false;
  for (unsigned char c : extension)
    if (!IsShortChar(c)) return false;
  return true;
}

// The first six short-name characters of the part before the extension's dot, with blanks, dots
// and other refused characters dropped; the extension is the first three valid characters after
// the last dot that has any (so "a.b.txt" gives TXT and "name.789." gives 789). Leading dots
// do not start an extension.
std::string AliasBasis(std::string_view longName, std::string* extension) {
  std::string_view body = longName;
  while (!body.empty() && body.front() == '.') body.remove_prefix(1);
  extension->clear();
  std::string_view primary = body;
  std::size_t end = body.size();
  for (std::size_t dot = body.rfind('.'); dot != std::string_view::npos;
       dot = dot == 0 ? std::string_view::npos : body.rfind('.', dot - 1)) {
    const std::string kept = ShortChars(body.substr(dot + 1, end - dot - 1));
    if (!kept.empty()) {
      *extension = kept.substr(0, 3);
      primary = body.substr(0, dot);
      break;
    }
    end = dot;
  }
  return ShortChars(primary).substr(0, 6);
}

}  // namespace sim
