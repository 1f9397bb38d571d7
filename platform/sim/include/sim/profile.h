// win.ini as the simulated profile functions read it, for tools that show what a run changed in
// it: the same lines, with the same kinds, names and values that GetProfileStringA and
// WriteProfileStringA see (see profile.cpp for the rules).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct ProfileLine {
  enum Kind { Blank, Header, Entry };
  std::string raw;  // as it stands in the file, with its line end if it has one
  Kind kind = Blank;
  std::string name;   // the section of a header, the key of an entry
  std::string value;  // an entry's value
  bool hasValue = false;
};

std::vector<ProfileLine> ReadProfileLines(std::string_view bytes);

}  // namespace sim
