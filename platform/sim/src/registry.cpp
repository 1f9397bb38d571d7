// The simulated registry's tree: two real roots (HKEY_LOCAL_MACHINE, HKEY_USERS) and the three
// aliases that Windows 95 and 98 map into them. Names compare without ASCII letter case and keep
// the case they were created with.
#include "sim/registry.h"

#include <algorithm>
#include <utility>

#include "sim/errors.h"

namespace sim {
namespace {

// The root names a path may start with, and where each one leads.
enum class Root { LocalMachine, Users, ClassesRoot, CurrentConfig, CurrentUser };
struct RootName {
  const char* longName;
  const char* shortName;
  Root root;
};
constexpr RootName kRootNames[] = {
    {"HKEY_LOCAL_MACHINE", "HKLM", Root::LocalMachine}, {"HKEY_USERS", "HKU", Root::Users},
    {"HKEY_CLASSES_ROOT", "HKCR", Root::ClassesRoot},   {"HKEY_CURRENT_CONFIG", "HKCC", Root::CurrentConfig},
    {"HKEY_CURRENT_USER", "HKCU", Root::CurrentUser},
};

// Splits "A\B\C" into its names. A trailing backslash is ignored; an empty name inside the path
// ("A\\B") is not something the registry accepts.
std::vector<std::string> SplitNames(std::string_view path, std::string_view whole) {
  std::vector<std::string> names;
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  if (path.empty()) return names;
  std::size_t start = 0;
  while (true) {
    std::size_t end = path.find('\\', start);
    std::string_view name = path.substr(start, end == std::string_view::npos ? end : end - start);
    if (name.empty()) throw Unmodelled("registry path with an empty key name: \"" + std::string(whole) + "\"");
    names.emplace_back(name);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return names;
}

}  // namespace

bool RegKey::operator==(const RegKey& other) const {
  return name == other.name && subkeys == other.subkeys && values == other.values;
}

Registry::Registry() {
  roots_[0].name = "HKEY_LOCAL_MACHINE";
  roots_[1].name = "HKEY_USERS";
  // What the three aliases lead to on a fresh Windows 98 machine.
  CreateKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes");
  CreateKey("HKEY_LOCAL_MACHINE\\Config\\0001");
  CreateKey("HKEY_USERS\\.DEFAULT");
}

void Registry::Clear() {
  for (RegKey& root : roots_) {
    root.subkeys.clear();
    root.values.clear();
  }
}

std::string Registry::Resolve(std::string_view path) const {
  std::size_t slash = path.find('\\');
  std::string_view rootText = path.substr(0, slash);
  std::string_view rest = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
  while (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
  for (const RootName& entry : kRootNames) {
    if (!EqualNoCase(rootText, entry.longName) && !EqualNoCase(rootText, entry.shortName)) continue;
    std::string resolved;
    switch (entry.root) {
      case Root::LocalMachine: resolved = "HKEY_LOCAL_MACHINE"; break;
      case Root::Users: resolved = "HKEY_USERS"; break;
      case Root::ClassesRoot: resolved = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes"; break;
      case Root::CurrentConfig: resolved = "HKEY_LOCAL_MACHINE\\Config\\" + currentConfig_; break;
      case Root::CurrentUser: resolved = "HKEY_USERS\\" + currentUser_; break;
    }
    if (!rest.empty()) {
      resolved.reserve(resolved.size() + 1 + rest.size());
      resolved += '\\';
      resolved += rest;
    }
    return resolved;
  }
  throw Unmodelled("registry path with no known root key: \"" + std::string(path) + "\"");
}

// The names are walked in place, and a path that already starts at one of the two real roots is
// not resolved first: the walk of the instance keys looks keys up hundreds of times. Walk gets
// each step from a key to its subkey, by name; nullptr when missing.
template <typename Key, typename Step>
Key* Registry::Walk(Key* roots, std::string_view path, const Step& step) const {
  const std::string_view root = path.substr(0, path.find('\\'));
  const bool canonical = root == "HKEY_LOCAL_MACHINE" || root == "HKEY_USERS";
  const std::string resolved = canonical ? std::string() : Resolve(path);
  std::string_view rest = canonical ? path : std::string_view(resolved);
  while (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
  const std::size_t rootEnd = rest.find('\\');
  Key* key = EqualNoCase(rest.substr(0, rootEnd), "HKEY_LOCAL_MACHINE") ? &roots[0] : &roots[1];
  rest = rootEnd == std::string_view::npos ? std::string_view() : rest.substr(rootEnd + 1);
  while (!rest.empty() && key != nullptr) {
    const std::size_t end = rest.find('\\');
    const std::string_view name = rest.substr(0, end);
    if (name.empty()) throw Unmodelled("registry path with an empty key name: \"" + std::string(path) + "\"");
    key = step(*key, name);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  return key;
}

const RegKey* Registry::Find(std::string_view path) const {
  return Walk(roots_, path, [](const RegKey& key, std::string_view name) -> const RegKey* {
    const auto it = key.subkeys.find(name);
    return it == key.subkeys.end() ? nullptr : &it->second;
  });
}

// Only the maps along the path are made this registry's own, and only when the key is there.
RegKey* Registry::Find(std::string_view path) {
  if (std::as_const(*this).Find(path) == nullptr) return nullptr;
  return Walk(roots_, path, [](RegKey& key, std::string_view name) { return &key.subkeys.Edit().find(name)->second; });
}

std::size_t Registry::Depth(std::string_view canonicalPath) {
  while (!canonicalPath.empty() && canonicalPath.back() == '\\') canonicalPath.remove_suffix(1);
  return static_cast<std::size_t>(std::count(canonicalPath.begin(), canonicalPath.end(), '\\'));
}

void Registry::CreateKey(std::string_view path) {
  std::string resolved = Resolve(path);
  std::vector<std::string> names = SplitNames(resolved, path);
  if (names.size() - 1 > kDeepestKey)
    throw Unmodelled("registry key more than 512 levels deep: \"" + std::string(path).substr(0, 200) + "...\"");
  // A key that is there already changes nothing, and its parents stay shared.
  if (std::as_const(*this).Find(resolved) != nullptr) return;
  RegKey* key = EqualNoCase(names.front(), "HKEY_LOCAL_MACHINE") ? &roots_[0] : &roots_[1];
  for (std::size_t i = 1; i < names.size(); ++i) {
    auto& subkeys = key->subkeys.Edit();
    auto it = subkeys.find(names[i]);
    if (it == subkeys.end()) {
      it = subkeys.emplace(names[i], RegKey{}).first;
      it->second.name = names[i];
    }
    key = &it->second;
  }
}

bool Registry::KeyExists(std::string_view path) const { return Find(path) != nullptr; }

bool Registry::DeleteKey(std::string_view path) {
  const std::string resolved = Resolve(path);
  std::string_view whole = resolved;
  while (!whole.empty() && whole.back() == '\\') whole.remove_suffix(1);
  const std::size_t slash = whole.rfind('\\');
  if (slash == std::string_view::npos)
    throw Unmodelled("Registry::DeleteKey: a root key cannot be deleted: \"" + std::string(path) + "\"");
  if (std::as_const(*this).Find(whole) == nullptr) return false;
  auto& subkeys = Find(whole.substr(0, slash))->subkeys.Edit();
  subkeys.erase(subkeys.find(whole.substr(slash + 1)));
  return true;
}

void Registry::SetValue(std::string_view keyPath, std::string_view name, RegValue value) {
  CreateKey(keyPath);
  auto& values = Find(keyPath)->values.Edit();
  auto it = values.find(name);
  if (it == values.end()) {
    values.emplace(std::string(name), std::move(value));
  } else {
    it->second = std::move(value);  // an existing value keeps the name it was created with
  }
}

void Registry::SetString(std::string_view keyPath, std::string_view name, std::string_view text) {
  RegValue value;
  value.type = 1;  // REG_SZ
  value.data.assign(text.begin(), text.end());
  value.data.push_back(0);
  SetValue(keyPath, name, std::move(value));
}

void Registry::SetDword(std::string_view keyPath, std::string_view name, std::uint32_t number) {
  RegValue value;
  value.type = 4;  // REG_DWORD, little-endian as on x86
  for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<std::uint8_t>(number >> (8 * i)));
  SetValue(keyPath, name, std::move(value));
}

std::optional<RegValue> Registry::GetValue(std::string_view keyPath, std::string_view name) const {
  const RegKey* key = Find(keyPath);
  if (key == nullptr) return std::nullopt;
  auto it = key->values.find(name);
  if (it == key->values.end()) return std::nullopt;
  return it->second;
}

bool Registry::DeleteValue(std::string_view keyPath, std::string_view name) {
  const RegKey* key = std::as_const(*this).Find(keyPath);
  if (key == nullptr || key->values.find(name) == key->values.end()) return false;
  auto& values = Find(keyPath)->values.Edit();
  values.erase(values.find(name));
  return true;
}

std::vector<std::string> Registry::SubkeyNames(std::string_view keyPath) const {
  std::vector<std::string> names;
  if (const RegKey* key = Find(keyPath)) {
    for (const auto& [lookup, subkey] : key->subkeys) names.push_back(subkey.name);
  }
  return names;
}

std::vector<std::string> Registry::ValueNames(std::string_view keyPath) const {
  std::vector<std::string> names;
  if (const RegKey* key = Find(keyPath)) {
    for (const auto& [name, value] : key->values) names.push_back(name);
  }
  return names;
}

bool Registry::operator==(const Registry& other) const {
  return roots_[0] == other.roots_[0] && roots_[1] == other.roots_[1] && currentConfig_ == other.currentConfig_ &&
         currentUser_ == other.currentUser_;
}

}  // namespace sim
