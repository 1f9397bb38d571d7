// See sim/text.h.
#include "sim/text.h"

namespace sim {

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = UpperAscii(c);
  return upper;
}

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

bool EqualNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && StartsWithNoCase(a, b); }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (UpperAscii(text[i]) != UpperAscii(prefix[i])) return false;
  }
  return true;
}

bool NoCaseLess::operator()(std::string_view a, std::string_view b) const {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(UpperAscii(a[i]));
    const auto cb = static_cast<unsigned char>(UpperAscii(b[i]));
    if (ca != cb) return ca < cb;
  }
  return a.size() < b.size();
}

std::vector<std::string_view> SplitLinesKeepingEnds(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::size_t length = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(0, length));
    text.remove_prefix(length);
  }
  return lines;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines = SplitLinesKeepingEnds(text);
  for (std::string_view& line : lines) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  }
  return lines;
}

}  // namespace sim
