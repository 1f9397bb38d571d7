// Reading .res files and dialog templates: see sim/res_dialog.h.
#include "sim/res_dialog.h"

#include <stdexcept>

namespace sim {

std::uint8_t ResReader::Byte() {
  if (at >= bytes.size()) throw std::runtime_error("resource data ends early");
  return static_cast<std::uint8_t>(bytes[at++]);
}

std::uint16_t ResReader::Word() {
  std::uint16_t low = Byte();
  return static_cast<std::uint16_t>(low | Byte() << 8);
}

std::uint32_t ResReader::Dword() {
  std::uint32_t low = Word();
  return low | static_cast<std::uint32_t>(Word()) << 16;
}

std::string ResReader::Text() {
  std::string text;
  for (std::uint16_t c = Word(); c != 0; c = Word()) text += static_cast<char>(c);
  return text;
}

std::string ResReader::NameOrOrdinal() {
  const std::size_t start = at;
  if (Word() == 0xFFFF) return "#" + std::to_string(Word());
  at = start;
  return Text();
}

std::vector<Resource> ReadResFile(const std::string& bytes) {
  std::vector<Resource> resources;
  ResReader r{bytes};
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

DialogTemplate DecodeDialog(const std::string& data, std::string* menu, std::string* windowClass) {
  DialogTemplate t;
  ResReader r{data};
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
    ControlTemplate c;
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

std::map<std::string, DialogTemplate> DialogsOf(const std::string& resBytes) {
  std::map<std::string, DialogTemplate> dialogs;
  for (const Resource& res : ReadResFile(resBytes)) {
    if (res.type != "#5") continue;  // RT_DIALOG
    dialogs[res.name] = DecodeDialog(res.data);
    dialogs[res.name].name = res.name;
  }
  return dialogs;
}

}  // namespace sim
