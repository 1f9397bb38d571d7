// win.ini and wininit.ini as text: see winini.h.
#include "winini.h"
#include "sim/registry.h"

namespace sandbox {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

const IniKey* IniSection::Find(std::string_view key) const {
  for (const IniKey& k : keys) {
    if (sim::EqualNoCase(k.name, key)) return &k;
  }
  return nullptr;
}

const IniSection* IniFile::Find(std::string_view section) const {
  for (const IniSection& s : sections) {
    if (sim::EqualNoCase(s.name, section)) return &s;
  }
  return nullptr;
}

std::vector<std::string> TextLines(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\x1A'));
  std::vector<std::string> lines;
  while (!bytes.empty()) {
    std::size_t end = bytes.find('\n');
    std::string_view line = bytes.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
  }
  return lines;
}

IniFile ParseIni(std::string_view bytes) {
  IniFile ini;
  IniSection* current = nullptr;
  for (const std::string& raw : TextLines(bytes)) {
    std::string_view line = Trim(raw);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      std::size_t close = line.find(']');
      if (close == std::string_view::npos) continue;
      std::string name(Trim(line.substr(1, close - 1)));
      current = nullptr;
      for (IniSection& section : ini.sections) {
        if (sim::EqualNoCase(section.name, name)) current = &section;
      }
      if (current == nullptr) {
        ini.sections.push_back({name, {}});
        current = &ini.sections.back();
      }
      continue;
    }
    std::size_t equals = line.find('=');
    if (current == nullptr || equals == std::string_view::npos) continue;
    std::string name(Trim(line.substr(0, equals)));
    if (current->Find(name) == nullptr) current->keys.push_back({name, std::string(Trim(line.substr(equals + 1)))});
  }
  return ini;
}

}  // namespace sandbox
