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

// One instruction in AT&T syntax, "mnemonic operands" with any prefixes before the mnemonic
// ("rep stosl", "cmovne %edx,%eax"): the feature and first processor that brought it, e.g.
// "CMOV: Pentium Pro", or nullptr when an 80386 has it. The check above uses it on every line.
const char* Non386Feature(std::string_view instruction);

}  // namespace pecheck
