// The two dialog templates against the tables they are built from, read twice: by the simulated
// window manager from the embedded script, and from the bytes that windres compiles for Windows.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <strings.h>
#include <unistd.h>

#include "embedded_resources.h"
#include "resource.h"
#include "sim/ui.h"

namespace {

struct ExpectedControl {
  int id;
  const char* className;
  const char* text;
  int x, y, cx, cy;
  std::uint32_t style, exStyle;
};
struct ExpectedDialog {
  const char* name;
  bool extended;
  std::uint32_t style;
  int cx, cy;
  const char* caption;
  int weight, italic, charset;  // DIALOGEX only
  std::vector<ExpectedControl> controls;
};

const std::vector<ExpectedDialog> kDialogs = {
    {"WELCOME", false, 0x80C808C0, 273, 95, "Welcoming", 0, 0, 0,
     {
         {1, "button", "OK", 42, 68, 50, 14, 0x50010001, 0},
         {2, "button", "Cancel", 165, 68, 53, 14, 0x50010000, 0},
         {1000, "static", "???", 23, 17, 226, 37, 0x50020000, 0},
     }},
    {"UNINSTALL", true, 0x90C808C0, 186, 92, "Uninstalling", 0, 0, 1,
     {
         {1007, "static", "!!!", 19, 13, 143, 39, 0x50020000, 0},
         {1008, "msctls_progress32", "Progress1", 29, 63, 126, 9, 0x50800000, 0x00002000},
     }},
};

// Both dialogs sit at 0,0 (DS_CENTER places them), have no extended style of their own and use
// 8 point MS Sans Serif.
void ExpectDialog(const ExpectedDialog& want, const sim::DialogTemplate& got,
                  bool classNamesInCapitals = false) {
  SCOPED_TRACE(want.name);
  EXPECT_EQ(got.extended, want.extended);
  EXPECT_EQ(got.style, want.style) << std::hex << got.style;
  EXPECT_EQ(got.exStyle, 0u);
  EXPECT_EQ(got.x, 0);
  EXPECT_EQ(got.y, 0);
  EXPECT_EQ(got.cx, want.cx);
  EXPECT_EQ(got.cy, want.cy);
  EXPECT_EQ(got.caption, want.caption);
  EXPECT_EQ(got.fontSize, 8);
  EXPECT_EQ(got.fontName, "MS Sans Serif");
  if (want.extended) {
    EXPECT_EQ(got.fontWeight, want.weight);
    EXPECT_EQ(got.fontItalic, want.italic);
    EXPECT_EQ(got.fontCharset, want.charset);
  }
  ASSERT_EQ(got.controls.size(), want.controls.size());
  for (std::size_t i = 0; i < want.controls.size(); ++i) {
    const ExpectedControl& w = want.controls[i];
    const sim::ControlTemplate& g = got.controls[i];
    SCOPED_TRACE("control " + std::to_string(w.id));
    EXPECT_EQ(g.id, w.id);
    if (classNamesInCapitals)  // windres's way; Windows finds window classes without case
      EXPECT_TRUE(strcasecmp(g.className.c_str(), w.className) == 0) << g.className;
    else
      EXPECT_EQ(g.className, w.className);
    EXPECT_EQ(g.text, w.text);
    EXPECT_EQ(g.x, w.x);
    EXPECT_EQ(g.y, w.y);
    EXPECT_EQ(g.cx, w.cx);
    EXPECT_EQ(g.cy, w.cy);
    EXPECT_EQ(g.style, w.style) << std::hex << g.style;
    EXPECT_EQ(g.exStyle, w.exStyle) << std::hex << g.exStyle;
  }
}

TEST(Templates, AsTheSimulatedWindowManagerReadsThem) {
  auto dialogs = sim::ParseResourceScript(rk514::kResourceScript, rk514::kResourceHeader);
  ASSERT_EQ(dialogs.size(), kDialogs.size());
  for (const ExpectedDialog& want : kDialogs) {
    ASSERT_TRUE(dialogs.count(want.name)) << want.name;
    EXPECT_EQ(dialogs[want.name].language, "LANG_ENGLISH, SUBLANG_ENGLISH_US");
    ExpectDialog(want, dialogs[want.name]);
  }
}

// ---- The compiled resources: a .res file is a list of entries, each a header (sizes, type and
// name as ordinal or UTF-16 text, language) and its data, every part aligned to four bytes.

struct Reader {
  const std::vector<std::uint8_t>& bytes;
  std::size_t at;
  std::uint16_t Word() {
    if (at + 2 > bytes.size()) throw std::runtime_error("resource data ends early");
    std::uint16_t w = static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
    at += 2;
    return w;
  }
  std::uint32_t Dword() {
    std::uint32_t low = Word();
    return low | static_cast<std::uint32_t>(Word()) << 16;
  }
  std::uint8_t Byte() {
    if (at >= bytes.size()) throw std::runtime_error("resource data ends early");
    return bytes[at++];
  }
  std::string Text() {  // UTF-16, NUL-ended; the script's texts are all ASCII
    std::string text;
    for (std::uint16_t c = Word(); c != 0; c = Word()) text += static_cast<char>(c);
    return text;
  }
  // A name or ordinal: 0xFFFF then the number, or text.
  std::string NameOrOrdinal() {
    if (bytes.at(at) == 0xFF && bytes.at(at + 1) == 0xFF) {
      Word();
      return "#" + std::to_string(Word());
    }
    return Text();
  }
  void Align() { at = (at + 3) & ~std::size_t{3}; }
};

struct Resource {
  std::string type, name;  // "#5" for RT_DIALOG
  std::uint16_t language;
  std::vector<std::uint8_t> data;
};

std::vector<Resource> ReadResFile(const std::vector<std::uint8_t>& bytes) {
  std::vector<Resource> resources;
  Reader r{bytes, 0};
  while (r.at < bytes.size()) {
    std::size_t start = r.at;
    std::uint32_t dataSize = r.Dword();
    std::uint32_t headerSize = r.Dword();
    Resource res;
    res.type = r.NameOrOrdinal();
    res.name = r.NameOrOrdinal();
    r.Align();
    r.Dword();  // data version
    r.Word();   // memory flags
    res.language = r.Word();
    res.data.assign(bytes.begin() + start + headerSize, bytes.begin() + start + headerSize + dataSize);
    r.at = start + headerSize + dataSize;
    r.Align();
    if (dataSize != 0) resources.push_back(std::move(res));  // the file starts with an empty entry
  }
  return resources;
}

std::string PredefinedClass(const std::string& ordinal) {
  static const std::map<std::string, std::string> names = {
      {"#128", "button"}, {"#129", "edit"}, {"#130", "static"},
      {"#131", "listbox"}, {"#132", "scrollbar"}, {"#133", "combobox"}};
  auto it = names.find(ordinal);
  return it == names.end() ? ordinal : it->second;
}

// DLGTEMPLATE and DLGTEMPLATEEX with their items, as USER32 reads them.
sim::DialogTemplate DecodeDialog(const std::vector<std::uint8_t>& data) {
  sim::DialogTemplate t;
  Reader r{data, 0};
  int count;
  if (data.size() >= 4 && data[0] == 1 && data[1] == 0 && data[2] == 0xFF && data[3] == 0xFF) {
    t.extended = true;
    r.Dword();  // version and signature
    r.Dword();  // help ID
    t.exStyle = r.Dword();
    t.style = r.Dword();
  } else {
    t.style = r.Dword();
    t.exStyle = r.Dword();
  }
  count = r.Word();
  t.x = static_cast<std::int16_t>(r.Word());
  t.y = static_cast<std::int16_t>(r.Word());
  t.cx = static_cast<std::int16_t>(r.Word());
  t.cy = static_cast<std::int16_t>(r.Word());
  EXPECT_EQ(r.NameOrOrdinal(), "") << "a menu";
  EXPECT_EQ(r.NameOrOrdinal(), "") << "a window class of its own";
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
    c.id = static_cast<std::int16_t>(t.extended ? r.Dword() : r.Word());
    c.className = PredefinedClass(r.NameOrOrdinal());
    c.text = r.NameOrOrdinal();
    std::uint16_t extra = r.Word();
    r.at += extra;
    t.controls.push_back(c);
  }
  return t;
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The resource script that the Windows build compiles, compiled here with the i686 windres.
class CompiledResources : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::path appDir =
        std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "app";
    std::filesystem::path out = std::filesystem::temp_directory_path() /
                                ("rk514_uninstall_" + std::to_string(::getpid()) + ".res");
    std::string command = "i686-w64-mingw32-windres -I '" + appDir.string() + "' -i '" +
                          (appDir / "uninstall.rc").string() + "' -O res -o '" + out.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    resources = ReadResFile(ReadBytes(out));
    std::filesystem::remove(out);
    icon = ReadBytes(appDir / "uninicon.ico");
  }
  const Resource* Find(const std::string& type, const std::string& name) const {
    for (const Resource& r : resources)
      if (r.type == type && r.name == name) return &r;
    return nullptr;
  }
  std::vector<Resource> resources;
  std::vector<std::uint8_t> icon;
};

TEST_F(CompiledResources, DialogsAreTheTemplatesOfTheTables) {
  for (const ExpectedDialog& want : kDialogs) {
    const Resource* dialog = Find("#5", want.name);  // RT_DIALOG
    ASSERT_NE(dialog, nullptr) << want.name;
    EXPECT_EQ(dialog->language, 0x0409) << want.name << ": US English";
    ExpectDialog(want, DecodeDialog(dialog->data), true);
  }
}

// One icon group, IDI_UNINICON, naming one 32 by 32 image in 16 colours: the .ico file's image.
TEST_F(CompiledResources, IconGroupHoldsTheOneImage) {
  const Resource* group = Find("#14", "#" + std::to_string(IDI_UNINICON));  // RT_GROUP_ICON
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->language, 0x0409);
  Reader g{group->data, 0};
  EXPECT_EQ(g.Word(), 0);
  EXPECT_EQ(g.Word(), 1);  // icons
  ASSERT_EQ(g.Word(), 1);  // one image
  EXPECT_EQ(g.Byte(), 32);
  EXPECT_EQ(g.Byte(), 32);
  EXPECT_EQ(g.Byte(), 16);
  g.Byte();
  EXPECT_EQ(g.Word(), 1);  // planes
  EXPECT_EQ(g.Word(), 4);  // bits per pixel
  std::uint32_t size = g.Dword();
  std::uint16_t imageId = g.Word();

  int icons = 0;
  for (const Resource& r : resources) icons += r.type == "#3";  // RT_ICON
  EXPECT_EQ(icons, 1);
  const Resource* image = Find("#3", "#" + std::to_string(imageId));
  ASSERT_NE(image, nullptr);
  ASSERT_GE(icon.size(), 22u);
  std::vector<std::uint8_t> fromFile(icon.begin() + 22, icon.end());  // past the icon directory
  EXPECT_EQ(size, fromFile.size());
  EXPECT_TRUE(image->data == fromFile);
}

}  // namespace
