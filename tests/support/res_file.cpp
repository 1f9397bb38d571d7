// Reading .res files and their dialog templates: see res_file.h.
#include "res_file.h"

#include <strings.h>

#include <sstream>
#include <stdexcept>

namespace res_file {

std::uint8_t Reader::Byte() {
  if (at >= bytes.size()) throw std::runtime_error("resource data ends early");
  return static_cast<std::uint8_t>(bytes[at++]);
}

std::uint16_t Reader::Word() {
  std::uint16_t low = Byte();
  return static_cast<std::uint16_t>(low | Byte() << 8);
}

std::uint32_t Reader::Dword() {
  std::uint32_t low = Word();
  return low | static_cast<std::uint32_t>(Word()) << 16;
}

std::string Reader::Text() {
  std::string text;
  for (std::uint16_t c = Word(); c != 0; c = Word()) text += static_cast<char>(c);
  return text;
}

std::string Reader::NameOrOrdinal() {
  const std::size_t start = at;
  if (Word() == 0xFFFF) return "#" + std::to_string(Word());
  at = start;
  return Text();
}

std::vector<Resource> ReadResFile(const std::string& bytes) {
  std::vector<Resource> resources;
  Reader r{bytes};
  while (r.at + 8 <= bytes.size()) {
    const std::size_t start = r.at;
    const std::uint32_t dataSize = r.Dword();
    const std::uint32_t headerSize = r.Dword();
    Resource res;
    res.type = r.NameOrOrdinal();
    res.name = r.NameOrOrdinal();
    r.Align();
    r.Dword();  // data version
    r.Word();   // memory flags
    res.language = r.Word();
    if (start + headerSize + dataSize > bytes.size()) throw std::runtime_error("resource data ends early");
    res.data = bytes.substr(start + headerSize, dataSize);
    r.at = start + headerSize + dataSize;
    r.Align();
    if (dataSize != 0) resources.push_back(std::move(res));  // the file starts with an empty entry
  }
  return resources;
}

namespace {
std::string PredefinedClass(const std::string& ordinal) {
  static const std::map<std::string, std::string> names = {{"#128", "button"},    {"#129", "edit"},
                                                           {"#130", "static"},    {"#131", "listbox"},
                                                           {"#132", "scrollbar"}, {"#133", "combobox"}};
  auto it = names.find(ordinal);
  return it == names.end() ? ordinal : it->second;
}
}  // namespace

sim::DialogTemplate DecodeDialog(const std::string& data, std::string* menu, std::string* windowClass) {
  sim::DialogTemplate t;
  Reader r{data};
  if (data.size() >= 4 && data.compare(0, 4, "\x01\x00\xFF\xFF", 4) == 0) {
    t.extended = true;
    r.Dword();  // version and signature
    r.Dword();  // help ID
    t.exStyle = r.Dword();
    t.style = r.Dword();
  } else {
    t.style = r.Dword();
    t.exStyle = r.Dword();
  }
  const int count = r.Word();
  t.x = static_cast<std::int16_t>(r.Word());
  t.y = static_cast<std::int16_t>(r.Word());
  t.cx = static_cast<std::int16_t>(r.Word());
  t.cy = static_cast<std::int16_t>(r.Word());
  const std::string menuName = r.NameOrOrdinal();
  const std::string className = r.NameOrOrdinal();
  if (menu != nullptr) *menu = menuName;
  if (windowClass != nullptr) *windowClass = className;
  t.caption = r.Text();
  if (t.style & 0x40) {  // DS_SETFONT
    t.fontSize = r.Word();
    if (t.extended) {
      t.fontWeight = r.Word();
      t.fontItalic = r.Byte();
      t.fontCharset = r.Byte();
    }
    t.fontName = r.Text();
  }
  for (int i = 0; i < count; ++i) {
    r.Align();
    sim::ControlTemplate c;
    if (t.extended) {
      r.Dword();  // help ID
      c.exStyle = r.Dword();
      c.style = r.Dword();
    } else {
      c.style = r.Dword();
      c.exStyle = r.Dword();
    }
    c.x = static_cast<std::int16_t>(r.Word());
    c.y = static_cast<std::int16_t>(r.Word());
    c.cx = static_cast<std::int16_t>(r.Word());
    c.cy = static_cast<std::int16_t>(r.Word());
    // A DLGITEMTEMPLATEEX holds a 32-bit ID, a DLGITEMTEMPLATE a 16-bit one (IDC_STATIC is -1).
    c.id = t.extended ? static_cast<int>(r.Dword()) : static_cast<std::int16_t>(r.Word());
    c.className = PredefinedClass(r.NameOrOrdinal());
    c.text = r.NameOrOrdinal();
    r.at += r.Word();  // creation data
    t.controls.push_back(c);
  }
  return t;
}

std::map<std::string, sim::DialogTemplate> DialogsOf(const std::string& resBytes) {
  std::map<std::string, sim::DialogTemplate> dialogs;
  for (const Resource& res : ReadResFile(resBytes)) {
    if (res.type != "#5") continue;  // RT_DIALOG
    dialogs[res.name] = DecodeDialog(res.data);
    dialogs[res.name].name = res.name;
  }
  return dialogs;
}

namespace {
std::string Hex(std::uint32_t value) {
  std::ostringstream text;
  text << "0x" << std::hex << std::uppercase << value;
  return text.str();
}
std::string Quoted(const std::string& text) { return '"' + text + '"'; }
std::string Place(int x, int y, int cx, int cy) {
  return std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(cx) + "x" + std::to_string(cy);
}

// The fields that differ, each as "what: got, expected want".
struct Differences {
  std::vector<std::string> lines;
  void Field(const std::string& what, const std::string& got, const std::string& want) {
    if (got != want) lines.push_back(what + ": " + got + ", expected " + want);
  }
  void Number(const std::string& what, long long got, long long want) {
    Field(what, std::to_string(got), std::to_string(want));
  }
};
}  // namespace

::testing::AssertionResult SameDialog(const sim::DialogTemplate& got, const sim::DialogTemplate& want,
                                      ClassNames classNames) {
  Differences d;
  d.Field("kind", got.extended ? "DIALOGEX" : "DIALOG", want.extended ? "DIALOGEX" : "DIALOG");
  d.Field("style", Hex(got.style), Hex(want.style));
  d.Field("extended style", Hex(got.exStyle), Hex(want.exStyle));
  d.Field("place", Place(got.x, got.y, got.cx, got.cy), Place(want.x, want.y, want.cx, want.cy));
  d.Field("caption", Quoted(got.caption), Quoted(want.caption));
  d.Number("font size", got.fontSize, want.fontSize);
  d.Field("font", Quoted(got.fontName), Quoted(want.fontName));
  d.Number("font weight", got.fontWeight, want.fontWeight);
  d.Number("font italic", got.fontItalic, want.fontItalic);
  d.Number("font charset", got.fontCharset, want.fontCharset);
  d.Number("controls", static_cast<long long>(got.controls.size()), static_cast<long long>(want.controls.size()));
  for (std::size_t i = 0; i < got.controls.size() && i < want.controls.size(); ++i) {
    const sim::ControlTemplate& c = got.controls[i];
    const sim::ControlTemplate& w = want.controls[i];
    const std::string control = "control " + std::to_string(i) + " " + Quoted(w.text) + " ";
    d.Number(control + "ID", c.id, w.id);
    const bool sameClass = classNames == ClassNames::kAnyCase
                               ? strcasecmp(c.className.c_str(), w.className.c_str()) == 0
                               : c.className == w.className;
    if (!sameClass) d.Field(control + "class", Quoted(c.className), Quoted(w.className));
    d.Field(control + "text", Quoted(c.text), Quoted(w.text));
    d.Field(control + "place", Place(c.x, c.y, c.cx, c.cy), Place(w.x, w.y, w.cx, w.cy));
    d.Field(control + "style", Hex(c.style), Hex(w.style));
    d.Field(control + "extended style", Hex(c.exStyle), Hex(w.exStyle));
  }
  if (d.lines.empty()) return ::testing::AssertionSuccess();
  ::testing::AssertionResult failure = ::testing::AssertionFailure() << "dialog " << want.name << " differs:";
  for (const std::string& line : d.lines) failure << "\n  " << line;
  return failure;
}

::testing::AssertionResult SameDialogs(const std::map<std::string, sim::DialogTemplate>& got,
                                       const std::map<std::string, sim::DialogTemplate>& want, ClassNames classNames) {
  std::string missing, extra;
  for (const auto& [name, dialog] : want)
    if (got.count(name) == 0) missing += " " + name;
  for (const auto& [name, dialog] : got)
    if (want.count(name) == 0) extra += " " + name;
  if (!missing.empty() || !extra.empty())
    return ::testing::AssertionFailure() << "dialogs missing:" << (missing.empty() ? " none" : missing)
                                         << "; dialogs not expected:" << (extra.empty() ? " none" : extra);
  std::string differences;
  for (const auto& [name, dialog] : want) {
    sim::DialogTemplate named = dialog;
    named.name = name;
    const ::testing::AssertionResult same = SameDialog(got.at(name), named, classNames);
    if (!same) differences += std::string(differences.empty() ? "" : "\n") + same.message();
  }
  if (differences.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << differences;
}

}  // namespace res_file
