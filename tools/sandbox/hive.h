// The registry's own files on a Windows 95/98 disk, SYSTEM.DAT and USER.DAT, read with libcreg
// into the simulated registry: every key and value, value types and bytes as they are.
#pragma once

#include <string>
#include <string_view>

#include "sim/registry.h"

namespace sandbox {

// Puts the keys and values of a registry file (its bytes; name is how messages call it) below
// the key at path (a canonical path, "HKEY_LOCAL_MACHINE" or "HKEY_USERS\NAME"): the file's root
// key is that key. A file that libcreg refuses or cannot walk throws sim::ImageError with name
// and libcreg's reason, and leaves registry as it was.
void LoadHive(std::string_view bytes, const std::string& name, const std::string& path, sim::Registry& registry);

}  // namespace sandbox
