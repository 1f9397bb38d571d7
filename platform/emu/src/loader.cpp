// The loader: a PE file's headers checked, its image laid out as Windows maps it, every import
// matched to a binding, and the dialog templates read from its resources. Every offset and size
// comes from the file, so each is checked before use; whatever fails is refused with its reason.
#include <unicorn/unicorn.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>

#include "guest.h"
#include "sim/res_dialog.h"
#include "sim/text.h"

namespace emu {
namespace {

constexpr std::uint16_t kMachineI386 = 0x014C;
constexpr std::uint16_t kMagicPe32 = 0x010B;
constexpr std::uint16_t kSubsystemGui = 2;
constexpr std::uint32_t kScnExecute = 0x20000000, kScnRead = 0x40000000, kScnWrite = 0x80000000;
constexpr std::uint32_t kMostImageBytes = 16u << 20;
constexpr std::uint32_t kMostImports = 4096;
constexpr std::uint32_t kRtDialog = 5;
// Where an image may lie: above the first 64 KiB (a NULL pointer faults) and below the runner's
// own regions (stack, heap and import slots).
constexpr std::uint32_t kLowestImage = 0x00010000, kImageCeiling = 0x60000000;

// Little-endian reads of bytes whose bounds are checked; a read outside them is refused.
struct Bytes {
  std::span<const std::byte> data;
  const char* what;  // "the file", "the image"
  void Need(std::uint64_t at, std::uint64_t size) const {
    if (at > data.size() || size > data.size() - at)
      throw Refused("not a PE file the runner can load: " + std::string(what) + " ends before offset " +
                    std::to_string(at + size));
  }
  std::uint32_t U(std::uint64_t at, int size) const {
    Need(at, size);
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = value << 8 | std::to_integer<std::uint32_t>(data[at + i]);
    return value;
  }
  std::uint16_t U16(std::uint64_t at) const { return static_cast<std::uint16_t>(U(at, 2)); }
  std::uint32_t U32(std::uint64_t at) const { return U(at, 4); }
  // A NUL-ended ASCII name of at most `most` characters.
  std::string Name(std::uint64_t at, std::size_t most = 256) const {
    std::string name;
    for (;; ++at) {
      Need(at, 1);
      const char c = static_cast<char>(data[at]);
      if (c == '\0') return name;
      if (name.size() == most) throw Refused("not a PE file the runner can load: a name longer than " +
                                             std::to_string(most) + " characters at offset " + std::to_string(at));
      name += c;
    }
  }
};

std::uint32_t PageUp(std::uint64_t value) {
  return static_cast<std::uint32_t>((value + kPage - 1) & ~std::uint64_t{kPage - 1});
}

const Binding* FindBinding(const std::string& dll, const std::string& function, std::size_t* index) {
  std::span<const Binding> bindings = Bindings();
  for (std::size_t i = 0; i < bindings.size(); ++i) {
    if (sim::EqualNoCase(dll, bindings[i].dll) && function == bindings[i].function) {
      *index = i;
      return &bindings[i];
    }
  }
  return nullptr;
}

// "KERNEL32" from "kernel32.dll".
std::string DllName(std::string name) {
  name = sim::UpperAscii(name);
  if (name.size() > 4 && name.ends_with(".DLL")) name.resize(name.size() - 4);
  return name;
}

void ReadImports(const Bytes& image, std::uint32_t rva, std::uint32_t size, Program::Image& out) {
  if (rva == 0 || size == 0) return;
  for (std::uint32_t at = rva;; at += 20) {
    const std::uint32_t lookup = image.U32(at), nameRva = image.U32(at + 12), slots = image.U32(at + 16);
    if (nameRva == 0 && slots == 0) return;
    const std::string dll = DllName(image.Name(nameRva));
    // The lookup table names the functions; without one, the address table does (before binding).
    const std::uint32_t names = lookup != 0 ? lookup : slots;
    for (std::uint32_t i = 0;; ++i) {
      const std::uint32_t entry = image.U32(names + 4ull * i);
      if (entry == 0) break;
      if (out.imports.size() == kMostImports) throw Refused("imports more than " + std::to_string(kMostImports) + " functions");
      if (entry & 0x80000000u)
        throw Refused("imports " + dll + " #" + std::to_string(entry & 0xFFFF) +
                      " by ordinal, which the simulated machine does not provide");
      const std::string function = image.Name(entry + 2ull);
      std::size_t index = 0;
      if (FindBinding(dll, function, &index) == nullptr)
        throw Refused("imports " + dll + "!" + function + ", which the simulated machine does not provide");
      image.Need(slots + 4ull * i, 4);
      out.imports.push_back({dll + "!" + function, slots + 4 * i, index});
    }
  }
}

// The UTF-16 name of a resource directory entry, as ASCII (a wider character is kept as '?').
std::string ResourceName(const Bytes& image, std::uint32_t at) {
  const std::uint16_t length = image.U16(at);
  std::string name;
  for (std::uint32_t i = 0; i < length; ++i) {
    const std::uint16_t c = image.U16(at + 2 + 2ull * i);
    name += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return name;
}

// The RT_DIALOG templates of the resource tree (type, name, language), by name in capitals or
// "#N"; for a name given in several languages, the first.
void ReadDialogs(const Bytes& image, std::uint32_t root, std::uint32_t size, Program::Image& out) {
  if (root == 0 || size == 0) return;
  // The entries of the directory at offset dir (from the root): {name or id field, target}.
  auto entries = [&](std::uint32_t dir) {
    const std::uint64_t at = std::uint64_t{root} + dir;
    const std::uint32_t count = image.U16(at + 12) + std::uint32_t{image.U16(at + 14)};
    image.Need(at + 16, 8ull * count);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> list;
    for (std::uint32_t i = 0; i < count; ++i) list.emplace_back(image.U32(at + 16 + 8 * i), image.U32(at + 20 + 8 * i));
    return list;
  };
  for (const auto& [type, typeDir] : entries(0)) {
    if (type != kRtDialog || !(typeDir & 0x80000000u)) continue;
    for (const auto& [name, nameDir] : entries(typeDir & 0x7FFFFFFF)) {
      if (!(nameDir & 0x80000000u)) continue;
      const std::string key = (name & 0x80000000u) ? sim::UpperAscii(ResourceName(image, root + (name & 0x7FFFFFFF)))
                                                    : "#" + std::to_string(name & 0xFFFF);
      const auto languages = entries(nameDir & 0x7FFFFFFF);
      if (languages.empty() || (languages[0].second & 0x80000000u)) continue;
      const std::uint64_t entry = std::uint64_t{root} + languages[0].second;
      const std::uint32_t dataRva = image.U32(entry), dataSize = image.U32(entry + 4);
      image.Need(dataRva, dataSize);
      const auto* first = reinterpret_cast<const char*>(image.data.data() + dataRva);
      try {
        sim::DialogTemplate dialog = sim::DecodeDialog(std::string(first, dataSize));
        dialog.name = key;
        out.dialogs.emplace(key, std::move(dialog));
      } catch (const std::exception& error) {
        throw Refused("its dialog " + key + " cannot be read: " + error.what());
      }
    }
  }
}

}  // namespace

Program::Program(std::unique_ptr<Image> image) : image_(std::move(image)) {}
Program::Program(Program&&) noexcept = default;
Program& Program::operator=(Program&&) noexcept = default;
Program::~Program() = default;

Program Program::Load(std::span<const std::byte> bytes) {
  const Bytes file{bytes, "the file"};
  if (bytes.size() < 0x40 || file.U16(0) != 0x5A4D) throw Refused("not a PE file: no MZ header");
  const std::uint32_t pe = file.U32(0x3C);
  if (file.U32(pe) != 0x00004550) throw Refused("not a PE file: no PE signature");
  const std::uint16_t machine = file.U16(pe + 4);
  if (machine != kMachineI386) throw Refused("not an i386 program (machine " + Hex(machine) + ")");
  const std::uint32_t sections = file.U16(pe + 6), optionalSize = file.U16(pe + 20);
  const std::uint64_t opt = pe + 24ull;
  if (optionalSize < 96 || file.U16(opt) != kMagicPe32) throw Refused("not a 32-bit PE file (no PE32 optional header)");
  const std::uint16_t subsystem = file.U16(opt + 68);
  if (subsystem != kSubsystemGui) throw Refused("not a GUI program (subsystem " + std::to_string(subsystem) + ")");

  auto image = std::make_unique<Image>();
  static std::atomic<std::uint64_t> loaded{0};
  image->serial = ++loaded;
  image->base = file.U32(opt + 28);
  const std::uint32_t entry = file.U32(opt + 16), imageSize = file.U32(opt + 56), headerSize = file.U32(opt + 60);
  if (image->base % 0x10000 != 0 || image->base < kLowestImage || imageSize == 0 || imageSize > kMostImageBytes ||
      std::uint64_t{image->base} + imageSize > kImageCeiling)
    throw Refused("its image (" + Hex(image->base) + ", " + std::to_string(imageSize) +
                  " bytes) is not one the runner maps");
  image->size = PageUp(imageSize);
  image->bytes.assign(image->size, std::byte{0});
  image->pageProtection.assign(image->size / kPage, 0);
  // The headers, read-only, then each section at its address with its protection.
  const std::uint32_t headerBytes = std::min<std::uint32_t>({headerSize, image->size, static_cast<std::uint32_t>(bytes.size())});
  std::copy_n(bytes.begin(), headerBytes, image->bytes.begin());
  for (std::uint32_t page = 0; page < PageUp(headerBytes) / kPage; ++page) image->pageProtection[page] = UC_PROT_READ;
  const std::uint64_t table = opt + optionalSize;
  for (std::uint32_t i = 0; i < sections; ++i) {
    const std::uint64_t at = table + 40ull * i;
    const std::uint32_t virtualSize = file.U32(at + 8), rva = file.U32(at + 12), rawSize = file.U32(at + 16),
                        rawAt = file.U32(at + 20), flags = file.U32(at + 36);
    const std::uint32_t span = std::max(virtualSize, rawSize);
    if (rva < headerBytes || std::uint64_t{rva} + span > image->size)
      throw Refused("its section " + std::to_string(i + 1) + " lies outside the image");
    const std::uint32_t copied = std::min(rawSize, virtualSize == 0 ? rawSize : virtualSize);
    file.Need(rawAt, copied);
    std::copy_n(bytes.begin() + rawAt, copied, image->bytes.begin() + rva);
    std::uint32_t protection = 0;
    if (flags & kScnRead) protection |= UC_PROT_READ;
    if (flags & kScnWrite) protection |= UC_PROT_WRITE | UC_PROT_READ;
    if (flags & kScnExecute) protection |= UC_PROT_EXEC | UC_PROT_READ;
    for (std::uint32_t page = rva / kPage; page < PageUp(std::uint64_t{rva} + span) / kPage; ++page)
      image->pageProtection[page] |= protection;
  }
  if (entry == 0 || entry >= image->size || !(image->pageProtection[entry / kPage] & UC_PROT_EXEC))
    throw Refused("its entry point " + Hex(image->base + entry) + " is not in its code");
  image->entry = image->base + entry;

  const Bytes mapped{image->bytes, "the image"};
  const std::uint32_t directories = file.U32(opt + 92);
  auto directory = [&](std::uint32_t index, std::uint32_t field) {
    return index < directories && 96 + 8 * (index + 1) <= optionalSize ? file.U32(opt + 96 + 8ull * index + field) : 0;
  };
  if (directory(9, 4) != 0) throw Refused("it has thread-local storage, which the runner does not set up");
  ReadImports(mapped, directory(1, 0), directory(1, 4), *image);
  ReadDialogs(mapped, directory(2, 0), directory(2, 4), *image);
  return Program(std::move(image));
}

Program Program::LoadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw Refused(path.string() + ": cannot be read");
  if (in.tellg() > std::streamoff{kMostImageBytes})
    throw Refused(path.string() + ": larger than any program the runner loads (" + std::to_string(kMostImageBytes) +
                  " bytes)");
  in.seekg(0);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw Refused(path.string() + ": cannot be read");
  return Load(std::as_bytes(std::span(bytes)));
}

std::uint32_t Program::ImageBase() const { return image_->base; }
std::uint32_t Program::EntryPoint() const { return image_->entry; }
const std::map<std::string, sim::DialogTemplate>& Program::Dialogs() const { return image_->dialogs; }

std::vector<std::string> Program::Imports() const {
  std::vector<std::string> names;
  for (const Image::Import& import : image_->imports) names.push_back(import.name);
  return names;
}

std::vector<BoundImport> BoundImports() {
  std::vector<BoundImport> bound;
  for (const Binding& binding : Bindings())
    bound.push_back({std::string(binding.dll) + "!" + binding.function, binding.argBytes});
  return bound;
}

}  // namespace emu
