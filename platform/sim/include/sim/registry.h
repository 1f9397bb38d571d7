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

struct RegKey {
  std::string name;  // as created
  std::map<std::string, RegKey, NoCaseLess> subkeys;
  std::map<std::string, std::pair<std::string, RegValue>, NoCaseLess> values;  // name as created, value
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
  RegKey roots_[2];  // HKEY_LOCAL_MACHINE, HKEY_USERS
  std::string currentConfig_ = "0001";
  std::string currentUser_ = ".DEFAULT";
};

}  // namespace sim
