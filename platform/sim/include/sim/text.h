// Text helpers shared by the simulated machine, the tools and the tests: letter case as Windows
// compares names (ASCII letters only, other bytes as they are), and the lines of a text file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Inline: a wildcard match or a name lookup runs it for every character it compares.
inline char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
std::string UpperAscii(std::string_view text);
std::string LowerAscii(std::string_view text);

bool EqualNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// Orders names as Windows compares them: ASCII letters without case, other bytes as they are.
struct NoCaseLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

// The lines of text without their ends ("\n", or "\r\n"); a last line without an end counts, an
// empty text has none. The views point into text.
std::vector<std::string_view> SplitLines(std::string_view text);
// The same lines with their ends kept, so that joining them gives text back byte for byte.
std::vector<std::string_view> SplitLinesKeepingEnds(std::string_view text);

}  // namespace sim
