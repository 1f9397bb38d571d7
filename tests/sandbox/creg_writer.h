// A writer of the Windows 95/98 registry file format (CREG: SYSTEM.DAT, USER.DAT) for the tests'
// disks, written from the libcreg project's description of the format. Only the tests write
// registry files; the sandbox reads them with libcreg.
#pragma once

#include <string>

#include "sim/registry.h"

namespace sandbox_test {

// The registry file whose root key is key: its subkeys and values, value types and bytes as they
// are. Throws std::runtime_error for what the format cannot hold (a value of more than 65,535
// bytes, a name of more than 65,535, more than 65,534 keys).
std::string CregFile(const sim::RegKey& key);

}  // namespace sandbox_test
