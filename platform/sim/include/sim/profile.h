// What the simulated GetProfileStringA reads from win.ini, for a test that needs the value as
// Windows reads it without a machine to run the call on.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sim {

// The value of key in the first section of that name in the bytes of a win.ini (none: no such
// file), as GetProfileStringA reads it: names without letter case and trimmed, the value
// trimmed and without matching quotes; defaultText, without its trailing spaces, when there is
// no such key with a value. The caller's buffer cuts the text to its size less one.
std::string ReadProfileString(std::optional<std::string_view> iniBytes, std::string_view section, std::string_view key,
                              std::string_view defaultText);

}  // namespace sim
