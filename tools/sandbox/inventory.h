// What of the product is on a machine: its inventory, taken from the product's table as the tests
// know it (product_table.h), never from the uninstaller's code or from what a run did, so that the
// report can say what a run left even where the run never looked. It holds:
//   - the fixed keys, and every key of the two instance lists, whatever its name, whose
//     description names the printer (letter case and surrounding blanks aside);
//   - other registry keys whose name holds the printer's or the group's name, and text values
//     that name either, outside the keys already listed;
//   - win.ini's sections named after the printer, its keys in [Devices] and [PrinterPorts] and
//     [windows] device= where it names the printer, in any letter case, as the profile functions
//     read the file;
//   - the Start-menu group and its four shortcuts, in every Programs folder that a user's Shell
//     Folders key names and in the default places (<Windows>\Start Menu\Programs and every
//     <Windows>\Profiles\*\Start Menu\Programs);
//   - the system files and the deferred files in the system directory;
//   - every file in <Windows>\INF and <Windows>\INF\OTHER that holds the marker word (in any
//     letter case, anywhere) or has the fixed INF file's name.
// What lies inside a listed piece (a key below a key, a key of a listed section) goes with it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "items.h"
#include "sim/machine.h"

namespace sandbox {

std::vector<Item> Inventory(const sim::Machine& machine);

// The same in two parts: what the registry holds, and what the files hold (win.ini, the drives;
// the Shell Folders keys of registry name the Programs folders). The next start of Windows
// changes only files, so a report takes the registry's part once for two machines.
std::vector<Item> RegistryInventory(const sim::Registry& registry);
std::vector<Item> FilesInventory(const sim::Registry& registry, const sim::Machine& machine);
std::vector<Item> Inventory(std::vector<Item> registryItems, std::vector<Item> fileItems);

// The same piece on two machines has the same key.
std::string KeyOf(const Item& item);

// Whether a text names the printer: equal to its name, letter case and blanks around it aside.
bool NamesPrinter(std::string_view text);

}  // namespace sandbox
