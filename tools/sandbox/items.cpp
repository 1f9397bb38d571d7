// The report's items: see items.h.
#include "items.h"

namespace sandbox {

std::string ItemText(const Item& item) {
  if (item.kind == kRegistryValue)
    return item.path + " | " + item.name + (item.value.empty() ? "" : " = \"" + item.value + "\"");
  if (item.kind == kProfileSection) return "[" + item.path + "]";
  if (item.kind == kProfileKey)
    return "[" + item.path + "] " + item.name + (item.value.empty() ? "" : "=" + item.value);
  return item.path;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (path.empty() || path.back() != '\\') path += '\\';
  return path + std::string(name);
}

}  // namespace sandbox
