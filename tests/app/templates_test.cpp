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

#include <unistd.h>

#include "embedded_resources.h"
#include "res_file.h"
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

// A dialog's own fields stand on its first line.
// clang-format off
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
// clang-format on

// The template a table's dialog stands for: both dialogs sit at 0,0 (DS_CENTER places them), have
// no extended style of their own and use 8 point MS Sans Serif.
sim::DialogTemplate Template(const ExpectedDialog& want) {
  sim::DialogTemplate t;
  t.name = want.name;
  t.extended = want.extended;
  t.style = want.style;
  t.cx = want.cx;
  t.cy = want.cy;
  t.caption = want.caption;
  t.fontSize = 8;
  t.fontName = "MS Sans Serif";
  t.fontWeight = want.weight;
  t.fontItalic = want.italic;
  t.fontCharset = want.charset;
  for (const ExpectedControl& c : want.controls)
    t.controls.push_back({c.id, c.className, c.text, c.x, c.y, c.cx, c.cy, c.style, c.exStyle});
  return t;
}

TEST(Templates, AsTheSimulatedWindowManagerReadsThem) {
  auto dialogs = sim::ParseResourceScript(rk514::kResourceScript, rk514::kResourceHeader);
  ASSERT_EQ(dialogs.size(), kDialogs.size());
  for (const ExpectedDialog& want : kDialogs) {
    ASSERT_TRUE(dialogs.count(want.name)) << want.name;
    EXPECT_EQ(dialogs[want.name].language, "LANG_ENGLISH, SUBLANG_ENGLISH_US");
    EXPECT_TRUE(res_file::SameDialog(dialogs[want.name], Template(want), res_file::ClassNames::kExactCase));
  }
}

// ---- The compiled resources (sim/res_dialog.h reads them).

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The resource script that the Windows build compiles, compiled here with the i686 windres.
class CompiledResources : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::filesystem::path appDir = RK514_APP_DIR;
    std::filesystem::path out =
        std::filesystem::temp_directory_path() / ("rk514_uninstall_" + std::to_string(::getpid()) + ".res");
    std::string command = "i686-w64-mingw32-windres -I '" + appDir.string() + "' -i '" +
                          (appDir / "uninstall.rc").string() + "' -O res -o '" + out.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    resources = sim::ReadResFile(ReadBytes(out));
    std::filesystem::remove(out);
    icon = ReadBytes(appDir / "uninicon.ico");
  }
  const sim::Resource* Find(const std::string& type, const std::string& name) const {
    for (const sim::Resource& r : resources)
      if (r.type == type && r.name == name) return &r;
    return nullptr;
  }
  std::vector<sim::Resource> resources;
  std::string icon;
};

TEST_F(CompiledResources, DialogsAreTheTemplatesOfTheTables) {
  for (const ExpectedDialog& want : kDialogs) {
    const sim::Resource* dialog = Find("#5", want.name);  // RT_DIALOG
    ASSERT_NE(dialog, nullptr) << want.name;
    EXPECT_EQ(dialog->language, 0x0409) << want.name << ": US English";
    std::string menu, windowClass;
    const sim::DialogTemplate got = sim::DecodeDialog(dialog->data, &menu, &windowClass);
    EXPECT_EQ(menu, "") << "a menu";
    EXPECT_EQ(windowClass, "") << "a window class of its own";
    EXPECT_TRUE(res_file::SameDialog(got, Template(want)));  // windres writes class names in capitals
  }
}

// One icon group, IDI_UNINICON, naming one 32 by 32 image in 16 colours: the .ico file's image.
TEST_F(CompiledResources, IconGroupHoldsTheOneImage) {
  const sim::Resource* group = Find("#14", "#" + std::to_string(IDI_UNINICON));  // RT_GROUP_ICON
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->language, 0x0409);
  sim::ResReader g{group->data};
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
  for (const sim::Resource& r : resources) icons += r.type == "#3";  // RT_ICON
  EXPECT_EQ(icons, 1);
  const sim::Resource* image = Find("#3", "#" + std::to_string(imageId));
  ASSERT_NE(image, nullptr);
  ASSERT_GE(icon.size(), 22u);
  const std::string fromFile = icon.substr(22);  // past the icon directory
  EXPECT_EQ(size, fromFile.size());
  EXPECT_TRUE(image->data == fromFile);
}

}  // namespace
