// Writes the uninstaller's icon (one 32 by 32 image in the 16 standard Windows colours) from a
// pixel map kept as text, so that the picture can be read, edited and rebuilt byte for byte.
//
//   rk514_icongen MAP.txt OUT.ico          write the icon
//   rk514_icongen --check MAP.txt ICO      exit 1 unless ICO holds exactly what MAP.txt gives
//
// The map: '#' lines are comments; "key C N" makes character C stand for palette index N;
// '.' is transparent; then 32 rows of 32 characters, top row first.
#include <array>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 32;

// The 16 colours of the standard VGA palette that a 4-bit icon carries, as red, green, blue.
constexpr std::array<std::array<std::uint8_t, 3>, 16> kPalette = {{
    {0x00, 0x00, 0x00},
    {0x80, 0x00, 0x00},
    {0x00, 0x80, 0x00},
    {0x80, 0x80, 0x00},
    {0x00, 0x00, 0x80},
    {0x80, 0x00, 0x80},
    {0x00, 0x80, 0x80},
    {0xC0, 0xC0, 0xC0},
    {0x80, 0x80, 0x80},
    {0xFF, 0x00, 0x00},
    {0x00, 0xFF, 0x00},
    {0xFF, 0xFF, 0x00},
    {0x00, 0x00, 0xFF},
    {0xFF, 0x00, 0xFF},
    {0x00, 0xFF, 0xFF},
    {0xFF, 0xFF, 0xFF},
}};

struct PixelMap {
  // Palette index per pixel, -1 for transparent; rows top first.
  std::array<std::array<int, kSize>, kSize> pixels{};
};

PixelMap ParseMap(const std::string& text, const std::string& name) {
  std::map<char, int> keys{{'.', -1}};
  PixelMap map;
  int rows = 0;
  int lineNumber = 0;
  std::istringstream in(text);
  std::string line;
  auto fail = [&](const std::string& why) {
    throw std::runtime_error(name + ":" + std::to_string(lineNumber) + ": " + why);
  };
  while (std::getline(in, line)) {
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("key ", 0) == 0) {
      std::istringstream fields(line.substr(4));
      std::string character;
      int index = -1;
      if (!(fields >> character >> index) || character.size() != 1 || index < 0 || index > 15)
        fail("expected \"key C N\" with one character C and a palette index N from 0 to 15");
      if (keys.count(character[0])) fail(std::string("character '") + character + "' given twice");
      keys[character[0]] = index;
      continue;
    }
    if (rows == kSize) fail("more than 32 rows");
    if (line.size() != kSize) fail("a row must have 32 characters, this one has " + std::to_string(line.size()));
    for (int x = 0; x < kSize; ++x) {
      auto key = keys.find(line[x]);
      if (key == keys.end()) fail(std::string("character '") + line[x] + "' has no key");
      map.pixels[rows][x] = key->second;
    }
    ++rows;
  }
  if (rows != kSize) fail("the map has " + std::to_string(rows) + " rows, not 32");
  return map;
}

void Put16(std::vector<std::uint8_t>& out, unsigned value) {
  out.push_back(value & 0xFF);
  out.push_back((value >> 8) & 0xFF);
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

// An .ico file: the icon directory with its one entry, then the image as a device-independent
// bitmap of double height (the colour rows, then the transparency mask), both bottom row first.
std::vector<std::uint8_t> BuildIcon(const PixelMap& map) {
  constexpr std::uint32_t kColourBytes = kSize * kSize / 2;  // 4 bits a pixel, rows of 16 bytes
  constexpr std::uint32_t kMaskBytes = kSize * kSize / 8;    // 1 bit a pixel, rows of 4 bytes
  constexpr std::uint32_t kImageBytes = 40 + 16 * 4 + kColourBytes + kMaskBytes;
  std::vector<std::uint8_t> out;
  Put16(out, 0);  // reserved
  Put16(out, 1);  // type: icon
  Put16(out, 1);  // one image
  out.push_back(kSize);
  out.push_back(kSize);
  out.push_back(16);  // colours
  out.push_back(0);   // reserved
  Put16(out, 1);      // planes
  Put16(out, 4);      // bits per pixel
  Put32(out, kImageBytes);
  Put32(out, 6 + 16);  // where the image starts

  Put32(out, 40);  // BITMAPINFOHEADER
  Put32(out, kSize);
  Put32(out, kSize * 2);
  Put16(out, 1);
  Put16(out, 4);
  Put32(out, 0);  // BI_RGB
  Put32(out, kColourBytes + kMaskBytes);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  for (const auto& rgb : kPalette) {  // RGBQUAD: blue, green, red, 0
    out.push_back(rgb[2]);
    out.push_back(rgb[1]);
    out.push_back(rgb[0]);
    out.push_back(0);
  }
  for (int y = kSize - 1; y >= 0; --y)
    for (int x = 0; x < kSize; x += 2) {
      // A transparent pixel is black in the colour rows, so the mask alone decides it.
      int left = map.pixels[y][x] < 0 ? 0 : map.pixels[y][x];
      int right = map.pixels[y][x + 1] < 0 ? 0 : map.pixels[y][x + 1];
      out.push_back(static_cast<std::uint8_t>(left << 4 | right));
    }
  for (int y = kSize - 1; y >= 0; --y)
    for (int x = 0; x < kSize; x += 8) {
      std::uint8_t bits = 0;
      for (int bit = 0; bit < 8; ++bit)
        if (map.pixels[y][x + bit] < 0) bits |= 0x80 >> bit;
      out.push_back(bits);
    }
  return out;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + ": cannot be read");
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bool check = !args.empty() && args[0] == "--check";
  if (check) args.erase(args.begin());
  if (args.size() != 2) {
    std::cerr << "usage: rk514_icongen [--check] MAP.txt ICON.ico\n";
    return 2;
  }
  try {
    std::vector<std::uint8_t> icon = BuildIcon(ParseMap(ReadAll(args[0]), args[0]));
    if (check) {
      std::string existing = ReadAll(args[1]);
      if (existing.size() != icon.size()) {
        std::cerr << args[1] << ": " << existing.size() << " bytes, the map gives " << icon.size()
                  << ": rebuild it with the target uninicon\n";
        return 1;
      }
      for (std::size_t i = 0; i < icon.size(); ++i)
        if (static_cast<std::uint8_t>(existing[i]) != icon[i]) {
          std::cerr << args[1] << ": differs from the map at byte " << i << ": rebuild it with the target uninicon\n";
          return 1;
        }
      std::cout << args[1] << ": matches " << args[0] << " (" << icon.size() << " bytes)\n";
      return 0;
    }
    std::ofstream out(args[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(icon.data()), static_cast<std::streamsize>(icon.size()));
    if (!out) throw std::runtime_error(args[1] + ": cannot be written");
    return 0;
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
}
