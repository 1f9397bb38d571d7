// win.ini as the simulated profile functions read it, for tools and tests that need the reading
// of GetProfileStringA and WriteProfileStringA without a machine to run the calls on (see
// profile.cpp for the rules).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// The lines of win.ini, with the same kinds, names and values that the profile functions see:
// for tools that show what a run changed in it.
struct ProfileLine {
  enum Kind { Blank, Header, Entry };
  std::string raw;  // as it stands in the file, with its line end if it has one
  Kind kind = Blank;
  std::string name;   // the section of a header, the key of an entry
  std::string value;  // an entry's value
  bool hasValue = false;
};

std::vector<ProfileLine> ReadProfileLines(std::string_view bytes);

// The value of key in the first section of that name in the bytes of a win.ini (none: no such
// file), as GetProfileStringA reads it: names without letter case and trimmed, the value
// trimmed and without matching quotes; defaultText, without its trailing spaces, when there is
// no such key with a value. The caller's buffer cuts the text to its size less one.
std::string ReadProfileString(std::optional<std::string_view> iniBytes, std::string_view section, std::string_view key,
                              std::string_view defaultText);

}  // namespace sim
