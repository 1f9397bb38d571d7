// The simulated registry: HKEY_LOCAL_MACHINE and HKEY_USERS hold every key; HKEY_CLASSES_ROOT,
// HKEY_CURRENT_CONFIG and HKEY_CURRENT_USER are aliases into them, as on Windows 95 and 98.
// Key and value names compare without letter case and keep the case they were created with.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/text.h"

namespace sim {

struct RegValue {
  std::uint32_t type = 1;          // REG_SZ
  std::vector<std::uint8_t> data;  // exact bytes; a REG_SZ written by SetString ends with its NUL
  bool operator==(const RegValue&) const = default;
};

// A map that copies share until one of them is changed (Edit): a snapshot of a machine costs
// nothing for the keys that the run leaves alone, and a registry of a million values is held
// once. Reading has the const interface of the map; an empty one allocates nothing.
template <typename Map>
class SharedMap {
 public:
  using key_type = typename Map::key_type;
  using mapped_type = typename Map::mapped_type;
  using value_type = typename Map::value_type;
  using const_iterator = typename Map::const_iterator;
  using iterator = const_iterator;
  using const_reverse_iterator = typename Map::const_reverse_iterator;

  const Map& map() const { return map_ ? *map_ : Empty(); }
  // The map of this copy alone, to change: shared, it is copied first (one level: what it holds
  // shares its own maps).
  Map& Edit() {
    if (!map_) {
      map_ = std::make_shared<Map>();
    } else if (map_.use_count() > 1) {
      map_ = std::make_shared<Map>(*map_);
    }
    return *map_;
  }
  void clear() { map_.reset(); }

  const_iterator begin() const { return map().begin(); }
  const_iterator end() const { return map().end(); }
  const_reverse_iterator rbegin() const { return map().rbegin(); }
  const_reverse_iterator rend() const { return map().rend(); }
  std::size_t size() const { return map().size(); }
  bool empty() const { return map().empty(); }
  template <typename K>
  const_iterator find(const K& key) const {
    return map().find(key);
  }
  template <typename K>
  std::size_t count(const K& key) const {
    return map().count(key);
  }
  bool operator==(const SharedMap& other) const { return map_ == other.map_ || map() == other.map(); }

 private:
  static const Map& Empty() {
    static const Map empty;
    return empty;
  }
  std::shared_ptr<Map> map_;
};

struct RegKey {
  std::string name;  // as created
  SharedMap<std::map<std::string, RegKey, NoCaseLess>> subkeys;
  SharedMap<std::map<std::string, RegValue, NoCaseLess>> values;  // name as created -> value
  bool operator==(const RegKey&) const;
};

class Registry {
 public:
  Registry();    // HKLM\SOFTWARE\Classes, HKLM\Config\0001 and HKEY_USERS\.DEFAULT, as on a fresh Windows 98
  void Clear();  // no keys at all below the two roots

  // Paths start with a root name, full or short: "HKEY_LOCAL_MACHINE\Enum\Root", "HKLM\Enum",
  // "HKEY_CLASSES_ROOT\CLSID". Aliases are resolved to HKEY_LOCAL_MACHINE or HKEY_USERS.
  std::string Resolve(std::string_view path) const;  // canonical path, long root name
  // The Windows registry holds keys up to 512 levels below a root (HKEY_LOCAL_MACHINE or
  // HKEY_USERS), and so does this one: the trees are copied, compared, exported and destroyed
  // by recursion, which that bound keeps shallow.
  static constexpr std::size_t kDeepestKey = 512;
  static std::size_t Depth(std::string_view canonicalPath);  // the names below the root
  void CreateKey(std::string_view path);                     // with every missing parent; deeper than 512 throws
  bool KeyExists(std::string_view path) const;
  bool DeleteKey(std::string_view path);  // with everything beneath it; false if missing
  void SetValue(std::string_view keyPath, std::string_view name, RegValue value);          // creates the key
  void SetString(std::string_view keyPath, std::string_view name, std::string_view text);  // REG_SZ + NUL
  void SetDword(std::string_view keyPath, std::string_view name, std::uint32_t value);
  std::optional<RegValue> GetValue(std::string_view keyPath, std::string_view name) const;  // "" is @
  bool DeleteValue(std::string_view keyPath, std::string_view name);
  std::vector<std::string> SubkeyNames(std::string_view keyPath) const;  // as created, sorted
  std::vector<std::string> ValueNames(std::string_view keyPath) const;
  const RegKey* Find(std::string_view path) const;  // nullptr when missing
  // The key to change, this registry's own: what it shares with a copy along the path is copied
  // first. Valid until the registry is copied or changed elsewhere.
  RegKey* Find(std::string_view path);

  // The current hardware configuration (HKEY_CURRENT_CONFIG = HKLM\Config\<number>) and the
  // current user (HKEY_CURRENT_USER = HKEY_USERS\<name>).
  void SetCurrentConfig(std::string number) { currentConfig_ = std::move(number); }
  void SetCurrentUser(std::string name) { currentUser_ = std::move(name); }
  const std::string& CurrentConfig() const { return currentConfig_; }
  const std::string& CurrentUser() const { return currentUser_; }

  // REGEDIT4, as Windows 98's regedit exports it. Loading is all or nothing: a malformed file
  // throws ImageError naming the file and line, and the registry is left as it was.
  void LoadRegFile(const std::filesystem::path& file);
  void LoadRegText(std::string_view text, const std::string& fileName = "registry.reg");
  std::string ExportRegText() const;  // HKEY_LOCAL_MACHINE and HKEY_USERS, every key and value

  const RegKey& LocalMachine() const { return roots_[0]; }
  const RegKey& Users() const { return roots_[1]; }
  bool operator==(const Registry& other) const;

 private:
  template <typename Key, typename Step>
  Key* Walk(Key* roots, std::string_view path, const Step& step) const;
  RegKey roots_[2];  // HKEY_LOCAL_MACHINE, HKEY_USERS
  std::string currentConfig_ = "0001";
  std::string currentUser_ = ".DEFAULT";
};

}  // namespace sim
