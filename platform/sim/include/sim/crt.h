// What a test can ask about the C runtime text files the program used on a simulated machine.
#pragma once

#include <cstddef>
#include <string_view>

#include "sim/machine.h"

namespace sim {

// The bytes that fgetc delivered from files opened under `path` (compared without letter case,
// as the program passed it to fopen), counted from the machine's trace: a CR LF pair read as one
// line feed counts once, EOF not at all. Calls made before the trace was last cleared are not seen.
std::size_t BytesRead(Machine& machine, std::string_view path);

}  // namespace sim
