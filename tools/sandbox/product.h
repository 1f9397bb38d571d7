// What belongs to the product, as the uninstaller's own tables and names give it (removal/),
// in plain C++ for the report: nothing here is copied from the program.
#pragma once

#include <string>
#include <vector>

namespace sandbox {

struct ProductKey {
  std::string path;  // with its root's long name: "HKEY_CLASSES_ROOT\CLSID\{...}"
  bool laterReleasesOnly = false;
};

struct InstancePass {
  std::string baseKey;    // "HKEY_LOCAL_MACHINE\Enum\Root\printer"
  std::string valueName;  // "DeviceDesc"
};

struct Product {
  std::string printerName;       // PRINTER_NAME
  std::string groupName;         // GROUP_NAME
  std::string infMarker;         // INF_MARKER
  unsigned buildGate = 0;        // BUILD_GATE
  std::vector<ProductKey> keys;  // PRODUCT_KEYS, then LATER_RELEASE_KEYS
  std::vector<InstancePass> instancePasses;
  std::vector<std::string> systemFiles;    // SYSTEM_FILES
  std::vector<std::string> deferredFiles;  // DEFERRED_FILES
};

const Product& TheProduct();

}  // namespace sandbox
