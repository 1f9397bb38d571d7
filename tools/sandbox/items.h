// What the report lists, in one shape for every kind of thing on a machine that a run can remove,
// leave or change: a registry key or value, a win.ini section or key, a file or a folder.
#pragma once

#include <string>
#include <string_view>

namespace sandbox {

inline constexpr char kRegistryKey[] = "registry key";
inline constexpr char kRegistryValue[] = "registry value";
inline constexpr char kProfileSection[] = "win.ini section";
inline constexpr char kProfileKey[] = "win.ini key";
inline constexpr char kFile[] = "file";
inline constexpr char kFolder[] = "folder";

struct Item {
  std::string kind;   // one of the kinds above
  std::string path;   // a key's, file's or folder's full path; a win.ini section's name
  std::string name;   // a registry value's name ("@" for the default value), a win.ini key's name
  std::string value;  // a win.ini key's value or a registry value's text, where it is shown
};

// Something a run changed that is not a removal: "added", "changed", "changed: now a folder".
struct Change {
  Item item;
  std::string what;
};

// How the report names an item: "HKEY_LOCAL_MACHINE\X", "HKEY_LOCAL_MACHINE\X | Name",
// "[Devices]", "[Devices] ZANTEROVA Karsenby RK514", "C:\WINDOWS\X" (the value after " = " or
// "=" when it is shown).
std::string ItemText(const Item& item);

// folder + "\" + name, without doubling a folder's final backslash ("C:\").
std::string JoinPath(std::string_view folder, std::string_view name);

}  // namespace sandbox
