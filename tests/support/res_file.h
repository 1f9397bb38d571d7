// A reader of compiled resource files (.res, as windres writes them): a list of entries, each a
// header (sizes, type and name as ordinal or UTF-16 text, language) and its data, every part
// aligned to four bytes; and the dialog templates in them (DLGTEMPLATE and DLGTEMPLATEEX with
// their items) as USER32 reads them, and a comparer of two templates for the tests. Bytes are held
// in std::string.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/ui.h"

namespace res_file {

// Little-endian reads from a resource's bytes; each throws std::runtime_error past the end.
struct Reader {
  const std::string& bytes;
  std::size_t at = 0;
  std::uint8_t Byte();
  std::uint16_t Word();
  std::uint32_t Dword();
  std::string Text();           // UTF-16, NUL-ended; ASCII here
  std::string NameOrOrdinal();  // "#N" for 0xFFFF N, else the text
  void Align() { at = (at + 3) & ~std::size_t{3}; }
};

struct Resource {
  std::string type, name;  // "#5" for RT_DIALOG
  std::uint16_t language = 0;
  std::string data;
};

// Every entry of a .res file but the empty one it starts with.
std::vector<Resource> ReadResFile(const std::string& bytes);

// A dialog template; menu and windowClass, when given, receive the template's menu and class
// names ("" for none). Predefined control classes are given their names ("button", ...).
sim::DialogTemplate DecodeDialog(const std::string& data, std::string* menu = nullptr,
                                 std::string* windowClass = nullptr);

// Every RT_DIALOG resource of a .res file, by name.
std::map<std::string, sim::DialogTemplate> DialogsOf(const std::string& resBytes);

// How control class names compare: windres writes a class given by name in capitals, and Windows
// finds window classes without regard to case.
enum class ClassNames { kExactCase, kAnyCase };

// Whether a dialog template is the expected one: every field but its name and language, and the
// controls in order. A failure names the dialog and lists each field that differs.
::testing::AssertionResult SameDialog(const sim::DialogTemplate& got, const sim::DialogTemplate& want,
                                      ClassNames classNames = ClassNames::kAnyCase);

// Whether two sets of dialogs hold the same names and, under each, the same template.
::testing::AssertionResult SameDialogs(const std::map<std::string, sim::DialogTemplate>& got,
                                       const std::map<std::string, sim::DialogTemplate>& want,
                                       ClassNames classNames = ClassNames::kAnyCase);

}  // namespace res_file
