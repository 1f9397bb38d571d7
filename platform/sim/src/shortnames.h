// 8.3 names the way Windows 95 and 98 make them (shortnames.cpp), for the drives' tree and the
// machine images.
#pragma once

#include <string>
#include <string_view>

namespace sim {

// Whether c may stand in a long name at all.
bool IsValidLongChar(unsigned char c);
// Whether name is a valid short name as it stands, in any letter case: it then needs no alias.
bool IsValidShortName(std::string_view name);
// The basis of a long name's ~N alias, upper-cased, and its extension through *extension.
std::string AliasBasis(std::string_view longName, std::string* extension);

}  // namespace sim
