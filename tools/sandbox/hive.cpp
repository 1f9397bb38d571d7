// SYSTEM.DAT and USER.DAT through libcreg: see hive.h. libcreg does the format; this maps its keys
// and values into the simulated registry, bounded as the registry is (keys at most 512 levels
// deep), so that a file whose key tree loops or goes deeper than Windows allows is refused.
#include "hive.h"

#include <libcreg.h>

#include <algorithm>
#include <memory>
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
    if (++keys_ > kMostKeys) Fail("more than " + std::to_string(kMostKeys) + " keys (or a key tree that loops)");
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
  static constexpr int kMostKeys = 1 << 20;

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
  int keys_ = 0;
};

}  // namespace

void LoadHive(std::string_view bytes, const std::string& name, const std::string& path, sim::Registry& registry) {
  // libcreg reads through a libbfio handle; a memory range one keeps the file's bytes where they are.
  std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
  libbfio_handle_t* handle = nullptr;
  libbfio_error_t* bfioError = nullptr;
  if (libbfio_memory_range_initialize(&handle, &bfioError) != 1 ||
      libbfio_memory_range_set(handle, copy.data(), copy.size(), &bfioError) != 1) {
    libbfio_error_free(&bfioError);
    libbfio_handle_free(&handle, nullptr);
    throw sim::ImageError(name + ": cannot be read");
  }
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
