// ADVAPI32's registry calls on the simulated machine, with Windows 95/98 meanings: RegDeleteKeyA
// removes a key with everything beneath it, and a handle to a deleted key answers
// ERROR_KEY_DELETED. An injected fault makes a call return ERROR_ACCESS_DENIED and change nothing.
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

#include "internal.h"

using sim::EqualNoCase;
using sim::HkeyName;
using sim::Machine;
using sim::Quote;
using sim::TracedCall;
using sim::Unmodelled;

namespace {

bool IsRoot(HKEY key) {
  return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE || key == HKEY_USERS ||
         key == HKEY_CURRENT_CONFIG;
}

// The canonical path of a root or an open handle, or the error that the handle gives.
LONG KeyPath(Machine& machine, HKEY key, std::string& path) {
  if (IsRoot(key)) {
    path = machine.registry.Resolve(HkeyName(key));
    return ERROR_SUCCESS;
  }
  auto& handles = machine.handles();
  auto handle = reinterpret_cast<std::uintptr_t>(key);
  auto it = handles.keys.find(handle);
  if (it == handles.keys.end()) return ERROR_INVALID_HANDLE;
  // A key deleted by a test behind the program's back counts as deleted too.
  if (handles.deletedKeys.count(handle) != 0 || !machine.registry.KeyExists(it->second)) return ERROR_KEY_DELETED;
  path = it->second;
  return ERROR_SUCCESS;
}

// The path of a subkey below a base path; an empty or NULL subkey is the base key itself.
std::string SubkeyPath(const std::string& base, LPCSTR subKey, const char* op) {
  if (subKey == nullptr || subKey[0] == '\0') return base;
  if (subKey[0] == '\\')
    throw Unmodelled(std::string(op) + ": a subkey path that starts with a backslash: " + Quote(subKey));
  std::string path;
  path.reserve(base.size() + 1 + std::strlen(subKey));
  path += base;
  path += '\\';
  path += subKey;
  return path;
}

bool AtOrBelow(const std::string& path, const std::string& top) {
  if (path.size() < top.size() || !EqualNoCase(std::string_view(path).substr(0, top.size()), top)) return false;
  return path.size() == top.size() || path[top.size()] == '\\';
}

}  // namespace

LONG WINAPI RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  TracedCall call("RegOpenKeyExA", {HkeyName(root), Quote(subKey), std::to_string(options), std::to_string(access)});
  if (call.Fails()) return call.Return<LONG>(ERROR_ACCESS_DENIED);
  if (result == nullptr) throw Unmodelled("RegOpenKeyExA: no handle to fill");
  if (options != 0) return call.Return<LONG>(ERROR_INVALID_PARAMETER);
  Machine& machine = call.machine();
  std::string base;
  if (LONG error = KeyPath(machine, root, base); error != ERROR_SUCCESS) return call.Return(error);
  // The base is a canonical path already: the subkey below it is looked for as it stands.
  std::string path = SubkeyPath(base, subKey, "RegOpenKeyExA");
  if (!machine.registry.KeyExists(path)) return call.Return<LONG>(ERROR_FILE_NOT_FOUND);
  path = machine.registry.Resolve(path);
  auto& handles = machine.handles();
  std::uintptr_t handle = handles.Take(handles.nextKey, handles.kSearches, "registry keys");
  handles.keys[handle] = path;
  *result = reinterpret_cast<HKEY>(handle);
  return call.Return<LONG>(ERROR_SUCCESS);
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
  TracedCall call("RegQueryValueExA", {HkeyName(key), Quote(name), reserved == nullptr ? "NULL" : "reserved",
                                       type == nullptr ? "NULL" : "type", data == nullptr ? "NULL" : "data",
                                       size == nullptr ? "NULL" : std::to_string(*size)});
  if (call.Fails()) return call.Return<LONG>(ERROR_ACCESS_DENIED);
  if (reserved != nullptr) return call.Return<LONG>(ERROR_INVALID_PARAMETER);
  if (data != nullptr && size == nullptr) return call.Return<LONG>(ERROR_INVALID_PARAMETER);
  Machine& machine = call.machine();
  std::string path;
  if (LONG error = KeyPath(machine, key, path); error != ERROR_SUCCESS) return call.Return(error);
  std::string valueName = name == nullptr ? "" : name;
  std::optional<sim::RegValue> value = machine.registry.GetValue(path, valueName);
  if (!value) {
    // Windows 95 gives every key a default value of its own; what it reads as is not modelled.
    if (valueName.empty()) throw Unmodelled("RegQueryValueExA: the default value of a key that has none set");
    return call.Return<LONG>(ERROR_FILE_NOT_FOUND);
  }
  if (type != nullptr) *type = value->type;
  auto length = static_cast<DWORD>(value->data.size());
  if (data == nullptr) {
    if (size != nullptr) *size = length;
    return call.Return<LONG>(ERROR_SUCCESS);
  }
  if (length > *size) {
    *size = length;  // the size needed; the buffer keeps what it held
    return call.Return<LONG>(ERROR_MORE_DATA);
  }
  if (length != 0) std::memcpy(data, value->data.data(), length);
  *size = length;
  return call.Return<LONG>(ERROR_SUCCESS);
}

LONG WINAPI RegCloseKey(HKEY key) {
  TracedCall call("RegCloseKey", {HkeyName(key)});
  if (call.Fails()) return call.Return<LONG>(ERROR_ACCESS_DENIED);
  if (IsRoot(key)) return call.Return<LONG>(ERROR_SUCCESS);
  auto& handles = call.machine().handles();
  auto handle = reinterpret_cast<std::uintptr_t>(key);
  // A handle to a deleted key is still released.
  if (handles.keys.erase(handle) == 0) return call.Return<LONG>(ERROR_INVALID_HANDLE);
  handles.deletedKeys.erase(handle);
  return call.Return<LONG>(ERROR_SUCCESS);
}

LONG WINAPI RegFlushKey(HKEY key) {
  TracedCall call("RegFlushKey", {HkeyName(key)});
  if (call.Fails()) return call.Return<LONG>(ERROR_ACCESS_DENIED);
  // The simulated registry is never written to disk: a flush only checks its handle.
  std::string path;
  return call.Return(KeyPath(call.machine(), key, path));
}

LONG WINAPI RegDeleteKeyA(HKEY root, LPCSTR subKey) {
  TracedCall call("RegDeleteKeyA", {HkeyName(root), Quote(subKey)});
  if (call.Fails()) return call.Return<LONG>(ERROR_ACCESS_DENIED);
  if (subKey == nullptr || subKey[0] == '\0') throw Unmodelled("RegDeleteKeyA: deleting the key of the handle itself");
  Machine& machine = call.machine();
  std::string base;
  if (LONG error = KeyPath(machine, root, base); error != ERROR_SUCCESS) return call.Return(error);
  std::string path = machine.registry.Resolve(SubkeyPath(base, subKey, "RegDeleteKeyA"));
  // Windows 95 and 98 delete the key with all of its subkeys and values.
  if (!machine.registry.DeleteKey(path)) return call.Return<LONG>(ERROR_FILE_NOT_FOUND);
  auto& handles = machine.handles();
  for (const auto& [handle, keyPath] : handles.keys) {
    if (AtOrBelow(keyPath, path)) handles.deletedKeys.insert(handle);
  }
  return call.Return<LONG>(ERROR_SUCCESS);
}

// The subkeys of a key one by one, by index, in the order the registry keeps them (by name,
// without letter case). Windows 95 and 98 keep no class names and no times of last writing: a
// class asked for is empty and a time is zero.
LONG WINAPI RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPSTR className,
                          LPDWORD classSize, PFILETIME lastWriteTime) {
  TracedCall call("RegEnumKeyExA",
                  {HkeyName(key), std::to_string(index), name == nullptr ? "NULL" : "name",
                   nameSize == nullptr ? "NULL" : std::to_string(*nameSize), reserved == nullptr ? "NULL" : "reserved",
                   className == nullptr ? "NULL" : "class", classSize == nullptr ? "NULL" : std::to_string(*classSize),
                   lastWriteTime == nullptr ? "NULL" : "time"});
  if (call.Fails()) return call.Return<LONG>(ERROR_ACCESS_DENIED);
  if (name == nullptr || nameSize == nullptr || reserved != nullptr || (className != nullptr && classSize == nullptr))
    return call.Return<LONG>(ERROR_INVALID_PARAMETER);
  Machine& machine = call.machine();
  std::string path;
  if (LONG error = KeyPath(machine, key, path); error != ERROR_SUCCESS) return call.Return(error);
  const sim::RegKey* found = std::as_const(machine.registry).Find(path);
  if (found == nullptr) return call.Return<LONG>(ERROR_KEY_DELETED);
  if (index >= found->subkeys.size()) return call.Return<LONG>(ERROR_NO_MORE_ITEMS);
  const std::string& subkey = std::next(found->subkeys.begin(), index)->second.name;
  // The name and its NUL must fit; else nothing is written.
  if (subkey.size() + 1 > *nameSize || (className != nullptr && *classSize < 1))
    return call.Return<LONG>(ERROR_MORE_DATA);
  std::memcpy(name, subkey.c_str(), subkey.size() + 1);
  *nameSize = static_cast<DWORD>(subkey.size());
  if (className != nullptr) {
    className[0] = '\0';
    *classSize = 0;
  }
  if (lastWriteTime != nullptr) *lastWriteTime = FILETIME{0, 0};
  return call.Return<LONG>(ERROR_SUCCESS);
}
