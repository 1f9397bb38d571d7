// The product as the uninstaller's own tables give it: see product.h. This is the one file of
// the tool that includes the program's stage header.
#include "product.h"

#include "stages.h"

namespace sandbox {
namespace {

std::string RootName(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (root == HKEY_USERS) return "HKEY_USERS";
  return "HKEY_CURRENT_CONFIG";
}

// The names before a table's first empty slot. (CountFileSlots would do the same through
// lstrcmpA, a call of the simulated machine, which the tool must not make outside a run.)
std::vector<std::string> SlotNames(const FILE_SLOT* table) {
  std::vector<std::string> names;
  for (int i = 0; table[i][0] != '\0'; ++i) names.emplace_back(table[i], strnlen(table[i], FILE_SLOT_SIZE));
  return names;
}

Product Make() {
  Product product;
  product.printerName = PRINTER_NAME;
  product.groupName = GROUP_NAME;
  product.infMarker = INF_MARKER;
  product.buildGate = BUILD_GATE;
  for (const REGISTRY_KEY& key : PRODUCT_KEYS) product.keys.push_back({RootName(key.root) + "\\" + key.path, false});
  for (const REGISTRY_KEY& key : LATER_RELEASE_KEYS)
    product.keys.push_back({RootName(key.root) + "\\" + key.path, true});
  for (const INSTANCE_PASS& pass : INSTANCE_PASSES)
    product.instancePasses.push_back({std::string("HKEY_LOCAL_MACHINE\\") + pass.baseKey, pass.valueName});
  product.systemFiles = SlotNames(SYSTEM_FILES);
  product.deferredFiles = SlotNames(DEFERRED_FILES);
  return product;
}

}  // namespace

const Product& TheProduct() {
  static const Product product = Make();
  return product;
}

}  // namespace sandbox
