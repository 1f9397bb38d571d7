// Compiled resources: the entries of a .res file (as windres writes it) and the dialog templates
// in them or in an executable's RT_DIALOG resources (DLGTEMPLATE and DLGTEMPLATEEX with their
// items), read as USER32 reads them. Bytes are held in std::string.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/ui.h"

namespace sim {

// Little-endian reads from a resource's bytes; each throws std::runtime_error past the end.
struct ResReader {
  const std::string& bytes;
  std::size_t at = 0;
  std::uint8_t Byte();
  std::uint16_t Word();
  std::uint32_t Dword();
  std::string Text();           // UTF-16, NUL-ended; each character's low byte (the templates are ASCII)
  std::string NameOrOrdinal();  // "#N" for 0xFFFF N, else the text
  void Align() { at = (at + 3) & ~std::size_t{3}; }
};

struct Resource {
  std::string type, name;  // "#5" for RT_DIALOG
  std::uint16_t language = 0;
  std::string data;
};

// Every entry of a .res file but the empty one it starts with; throws std::runtime_error when
// an entry runs past the end.
std::vector<Resource> ReadResFile(const std::string& bytes);

// A dialog template; menu and windowClass, when given, receive the template's menu and class
// names ("" for none). Predefined control classes are given their names ("button", ...); a class
// given by name keeps it as stored (windres and the linker store MSCTLS_PROGRESS32 in capitals,
// and the window manager finds classes without letter case). Throws std::runtime_error when the
// template runs past the end of data.
DialogTemplate DecodeDialog(const std::string& data, std::string* menu = nullptr, std::string* windowClass = nullptr);

// Every RT_DIALOG resource of a .res file, by name.
std::map<std::string, DialogTemplate> DialogsOf(const std::string& resBytes);

}  // namespace sim
