// SYSTEM.DAT and USER.DAT through libcreg: see hive.h. libcreg does the format; this maps its keys
// and values into the simulated registry, bounded as the registry is (keys at most 512 levels
// deep), so that a file whose key tree loops or goes deeper than Windows allows is refused.
#include "hive.h"

#include <libcreg.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "sim/errors.h"

namespace sandbox {
namespace {

// libcreg's message: the first line of its backtrace, which says what was found wrong, and the
// last, which says what it was doing.
std::string Reason(libcreg_error_t* error) {
  if (error == nullptr) return "unknown error";
  char text[4096] = {};
  libcreg_error_backtrace_sprint(error, text, sizeof text);
  libcreg_error_free(&error);
  std::string all(text);
  while (!all.empty() && (all.back() == '\n' || all.back() == '.')) all.pop_back();
  const std::size_t firstEnd = all.find('\n');
  std::string reason = "libcreg: " + all.substr(0, firstEnd);
  while (!reason.empty() && reason.back() == '.') reason.pop_back();
  if (firstEnd != std::string::npos) reason += ", in " + all.substr(all.rfind('\n') + 1);
  while (!reason.empty() && reason.back() == '.') reason.pop_back();
  std::erase(reason, '\r');
  std::replace(reason.begin(), reason.end(), '\n', ' ');
  return reason;
}

struct KeyCloser {
  void operator()(libcreg_key_t* key) const { libcreg_key_free(&key, nullptr); }
};
using Key = std::unique_ptr<libcreg_key_t, KeyCloser>;

class Walker {
 public:
  Walker(const std::string& name, sim::Registry& registry) : name_(name), registry_(registry) {}

  void Key(libcreg_key_t* key, const std::string& path, std::size_t depth) {
    if (depth > sim::Registry::kDeepestKey)
      Fail("keys nested deeper than the " + std::to_string(sim::Registry::kDeepestKey) +
           " levels of a Windows registry (or a key tree that loops)");
    // Each key has an entry of its own in the file: a key met twice is a tree that loops (or two
    // keys that share one), which a damaged file makes.
    off64_t offset = 0;
    libcreg_error_t* offsetError = nullptr;
    if (libcreg_key_get_offset(key, &offset, &offsetError) != 1) Fail(Reason(offsetError));
    if (!seen_.insert(offset).second)
      Fail("its key tree comes back to the key at offset " + std::to_string(offset) +
           ", which it holds already (a damaged file)");
    registry_.CreateKey(path);
    int values = 0;
    libcreg_error_t* error = nullptr;
    if (libcreg_key_get_number_of_values(key, &values, &error) != 1) Fail(Reason(error));
    for (int i = 0; i < values; ++i) Value(key, i, path);
    int subkeys = 0;
    if (libcreg_key_get_number_of_sub_keys(key, &subkeys, &error) != 1) Fail(Reason(error));
    for (int i = 0; i < subkeys; ++i) {
      libcreg_key_t* raw = nullptr;
      if (libcreg_key_get_sub_key_by_index(key, i, &raw, &error) != 1) Fail(Reason(error));
      const sandbox::Key sub(raw);
      const std::string subName =
          Text([&](std::uint8_t* text, std::size_t size,
                   libcreg_error_t** e) { return libcreg_key_get_name(sub.get(), text, size, e); },
               [&](std::size_t* size, libcreg_error_t** e) { return libcreg_key_get_name_size(sub.get(), size, e); });
      if (subName.empty() || subName.find('\\') != std::string::npos)
        Fail("a key under " + path + " is named \"" + subName + "\", which no registry key can be");
      Key(sub.get(), path + "\\" + subName, depth + 1);
    }
  }

 private:
  [[noreturn]] void Fail(const std::string& why) const { throw sim::ImageError(name_ + ": " + why); }

  template <typename Get, typename Size>
  std::string Text(Get get, Size size) {
    std::size_t length = 0;
    libcreg_error_t* error = nullptr;
    if (size(&length, &error) != 1) Fail(Reason(error));
    if (length == 0) return "";
    // The size may or may not count an end-of-string character: room for one more, and the
    // name ends at the first NUL.
    std::vector<std::uint8_t> text(length + 1, 0);
    if (get(text.data(), text.size(), &error) != 1) Fail(Reason(error));
    return std::string(reinterpret_cast<const char*>(text.data()));
  }

  void Value(libcreg_key_t* key, int index, const std::string& path) {
    libcreg_value_t* raw = nullptr;
    libcreg_error_t* error = nullptr;
    if (libcreg_key_get_value_by_index(key, index, &raw, &error) != 1) Fail(Reason(error));
    std::unique_ptr<libcreg_value_t, void (*)(libcreg_value_t*)> value(
        raw, [](libcreg_value_t* v) { libcreg_value_free(&v, nullptr); });
    const std::string name =
        Text([&](std::uint8_t* text, std::size_t size,
                 libcreg_error_t** e) { return libcreg_value_get_name(value.get(), text, size, e); },
             [&](std::size_t* size, libcreg_error_t** e) { return libcreg_value_get_name_size(value.get(), size, e); });
    sim::RegValue data;
    if (libcreg_value_get_value_type(value.get(), &data.type, &error) != 1) Fail(Reason(error));
    std::size_t size = 0;
    if (libcreg_value_get_value_data_size(value.get(), &size, &error) != 1) Fail(Reason(error));
    data.data.resize(size);
    if (size > 0 && libcreg_value_get_value_data(value.get(), data.data.data(), size, &error) != 1) Fail(Reason(error));
    registry_.SetValue(path, name, std::move(data));
  }

  const std::string& name_;
  sim::Registry& registry_;
  std::set<off64_t> seen_;
};

// The file's bytes as a libbfio handle of their own: every read is bounded by the bytes there
// are (libbfio's own memory range handle of this release reads past its range's end when a
// read reaches over it, which a damaged file makes libcreg do).
struct Bytes {
  const std::uint8_t* data;
  std::size_t size, at = 0;
};

Bytes* Of(intptr_t* handle) { return reinterpret_cast<Bytes*>(handle); }

libbfio_handle_t* BytesHandle(std::string_view bytes) {
  auto* io = new Bytes{reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
  libbfio_handle_t* handle = nullptr;
  const int made = libbfio_handle_initialize(
      &handle, reinterpret_cast<intptr_t*>(io),
      [](intptr_t** io, libbfio_error_t**) {
        delete Of(*io);
        *io = nullptr;
        return 1;
      },
      [](intptr_t** copy, intptr_t* io, libbfio_error_t**) {
        *copy = reinterpret_cast<intptr_t*>(new Bytes(*Of(io)));
        return 1;
      },
      [](intptr_t*, int flags, libbfio_error_t**) { return (flags & LIBBFIO_ACCESS_FLAG_WRITE) != 0 ? -1 : 1; },
      [](intptr_t*, libbfio_error_t**) { return 0; },
      [](intptr_t* io, std::uint8_t* buffer, std::size_t size, libbfio_error_t**) -> ssize_t {
        Bytes& bytes = *Of(io);
        const std::size_t count = bytes.at >= bytes.size ? 0 : std::min(size, bytes.size - bytes.at);
        if (count > 0) std::memcpy(buffer, bytes.data + bytes.at, count);
        bytes.at += count;
        return static_cast<ssize_t>(count);
      },
      [](intptr_t*, const std::uint8_t*, std::size_t, libbfio_error_t**) -> ssize_t { return -1; },
      [](intptr_t* io, off64_t offset, int whence, libbfio_error_t**) -> off64_t {
        Bytes& bytes = *Of(io);
        const off64_t base = whence == SEEK_CUR   ? static_cast<off64_t>(bytes.at)
                             : whence == SEEK_END ? static_cast<off64_t>(bytes.size)
                                                  : 0;
        if (offset < 0 && -offset > base) return -1;
        bytes.at = static_cast<std::size_t>(base + offset);
        return static_cast<off64_t>(bytes.at);
      },
      [](intptr_t*, libbfio_error_t**) { return 1; }, [](intptr_t*, libbfio_error_t**) { return 1; },
      [](intptr_t* io, size64_t* size, libbfio_error_t**) {
        *size = Of(io)->size;
        return 1;
      },
      LIBBFIO_FLAG_IO_HANDLE_MANAGED | LIBBFIO_FLAG_IO_HANDLE_CLONE_BY_FUNCTION, nullptr);
  if (made != 1) {
    delete io;
    return nullptr;
  }
  return handle;
}

// libcreg (20200725) follows a key's list of subkeys without looking back, so that a list that
// loops (a damaged file) has it read forever, its memory growing. Before libcreg reads the file,
// the key navigation record's links are followed once here: the first subkey and the next
// sibling of each key entry (28 bytes each; the links at 16 and 20, offsets from the record's
// start, which is at 32 in the file, with the first entry's offset at 8 in it). A link that leads
// outside the record is left to libcreg to refuse.
std::string KeyTreeLoop(std::string_view bytes) {
  auto word = [&](std::size_t at) -> std::uint32_t {
    if (at + 4 > bytes.size()) return 0xFFFFFFFF;
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
      value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
  };
  constexpr std::size_t kRecord = 32;
  if (bytes.size() < kRecord + 32 || bytes.substr(kRecord, 4) != "RGKN") return "";
  const std::size_t end = std::min<std::size_t>(bytes.size() - kRecord, word(kRecord + 4));
  std::set<std::uint32_t> seen;
  std::vector<std::uint32_t> waiting = {word(kRecord + 8)};
  while (!waiting.empty()) {
    const std::uint32_t entry = waiting.back();
    waiting.pop_back();
    if (entry == 0xFFFFFFFF || std::size_t{entry} + 28 > end) continue;
    if (!seen.insert(entry).second)
      return "its key tree comes back to the key entry at offset " + std::to_string(entry) +
             " of the navigation record, which it holds already (a damaged file)";
    waiting.push_back(word(kRecord + entry + 16));
    waiting.push_back(word(kRecord + entry + 20));
  }
  return "";
}

}  // namespace

void LoadHive(std::string_view bytes, const std::string& name, const std::string& path, sim::Registry& registry) {
  if (const std::string loop = KeyTreeLoop(bytes); !loop.empty()) throw sim::ImageError(name + ": " + loop);
  libbfio_handle_t* handle = BytesHandle(bytes);
  if (handle == nullptr) throw sim::ImageError(name + ": cannot be read");
  libcreg_file_t* file = nullptr;
  libcreg_error_t* error = nullptr;
  sim::Registry loaded = registry;
  std::string failure;
  if (libcreg_file_initialize(&file, &error) != 1 ||
      libcreg_file_open_file_io_handle(file, handle, libcreg_get_access_flags_read(), &error) != 1) {
    failure = "not a registry file that libcreg reads: " + Reason(error);
  } else {
    libcreg_key_t* root = nullptr;
    const int found = libcreg_file_get_root_key(file, &root, &error);
    if (found != 1) {
      failure = found == 0 ? std::string("libcreg finds no root key in it (a registry file cut short or damaged)")
                           : Reason(error);
    } else {
      const Key rootKey(root);
      try {
        Walker(name, loaded).Key(rootKey.get(), path, sim::Registry::Depth(path));
      } catch (const sim::ImageError& e) {
        failure = e.what();
        failure.erase(0, name.size() + 2);
      }
    }
    libcreg_file_close(file, nullptr);
  }
  libcreg_file_free(&file, nullptr);
  libbfio_handle_free(&handle, nullptr);
  if (!failure.empty()) throw sim::ImageError(name + ": " + failure);
  registry = std::move(loaded);
}

}  // namespace sandbox
