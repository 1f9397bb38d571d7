// Reading win.ini and wininit.ini for the report, as text mode reads them: CR LF is one line end,
// a 0x1A byte ends the file. Section and key names compare without letter case.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sandbox {

struct IniKey {
  std::string name, value;  // trimmed, as written
};
struct IniSection {
  std::string name;
  std::vector<IniKey> keys;  // the first of each name; lines without '=' are not keys
  const IniKey* Find(std::string_view key) const;
};
struct IniFile {
  std::vector<IniSection> sections;  // a name given twice is one section, keys in order
  const IniSection* Find(std::string_view section) const;
};

std::vector<std::string> TextLines(std::string_view bytes);  // without their line ends
IniFile ParseIni(std::string_view bytes);

}  // namespace sandbox
