// The instructions of a disassembly that an 80386 does not have.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pecheck {

// Reads the output of `objdump -d --no-show-raw-insn` (AT&T syntax) and returns one sentence per
// instruction that a 386 lacks: its address, the instruction and the processor that brought it,
// e.g. "4018c7: cmove %esi,%eax (CMOV: Pentium Pro)". Empty if there is none.
std::vector<std::string> FindNon386Instructions(std::string_view disassembly);

}  // namespace pecheck
