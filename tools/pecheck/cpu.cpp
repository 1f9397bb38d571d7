// Each instruction line of objdump's output is "  ADDRESS:\tINSTRUCTION OPERANDS". An instruction
// is later than the 386 when its mnemonic (after any prefixes) is one of the families below, or
// when any operand is an MMX, SSE, AVX or mask register.
#include "cpu.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace pecheck {
namespace {

struct Family {
  const char* mnemonic;
  bool prefix;      // true: every mnemonic starting with it (cmov -> cmove, cmovle, ...)
  const char* why;  // the feature and the first processor with it
};

const Family LATER_FAMILIES[] = {
    {"bswap", false, "BSWAP: 80486"},
    {"xadd", false, "XADD: 80486"},
    {"cmpxchg", true, "CMPXCHG: 80486 (CMPXCHG8B: Pentium)"},
    {"invd", false, "INVD: 80486"},
    {"wbinvd", false, "WBINVD: 80486"},
    {"invlpg", false, "INVLPG: 80486"},
    {"cpuid", false, "CPUID: Pentium (and late 80486s)"},
    {"rdtsc", true, "RDTSC: Pentium"},
    {"rdmsr", false, "RDMSR: Pentium"},
    {"wrmsr", false, "WRMSR: Pentium"},
    {"rsm", false, "RSM: Pentium"},
    {"cmov", true, "CMOV: Pentium Pro"},
    {"fcmov", true, "FCMOV: Pentium Pro"},
    {"fcomi", true, "FCOMI: Pentium Pro"},
    {"fucomi", true, "FUCOMI: Pentium Pro"},
    {"rdpmc", false, "RDPMC: Pentium Pro"},
    {"nopw", false, "multi-byte NOP (0F 1F): Pentium Pro"},
    {"nopl", false, "multi-byte NOP (0F 1F): Pentium Pro"},
    {"sysenter", false, "SYSENTER: Pentium II"},
    {"sysexit", false, "SYSEXIT: Pentium II"},
    {"syscall", false, "SYSCALL: K6-2"},
    {"sysret", false, "SYSRET: K6-2"},
    {"emms", false, "MMX: Pentium MMX"},
    {"femms", false, "3DNow!: K6-2"},
    {"fxsave", false, "FXSAVE: Pentium II"},
    {"fxrstor", false, "FXRSTOR: Pentium II"},
    {"prefetch", true, "PREFETCH: Pentium III / K6-2"},
    {"ldmxcsr", false, "SSE: Pentium III"},
    {"stmxcsr", false, "SSE: Pentium III"},
    {"sfence", false, "SSE: Pentium III"},
    {"lfence", false, "SSE2: Pentium 4"},
    {"mfence", false, "SSE2: Pentium 4"},
    {"clflush", true, "CLFLUSH: Pentium 4"},
    {"movnti", false, "SSE2: Pentium 4"},
    {"popcnt", false, "POPCNT: Core i7"},
    {"lzcnt", false, "LZCNT: Phenom"},
    {"tzcnt", false, "BMI1: Haswell"},
    {"movbe", false, "MOVBE: Atom"},
    {"crc32", true, "SSE4.2: Core i7"},
    {"endbr", true, "CET (ENDBR32): Tiger Lake"},
    {"xsave", true, "XSAVE: Core 2"},
    {"xrstor", true, "XSAVE: Core 2"},
};

// Words objdump writes before a mnemonic.
const char* const PREFIXES[] = {"lock",   "rep",    "repz",   "repe",   "repnz",   "repne",
                                "data16", "data32", "addr16", "addr32", "cs",      "ds",
                                "es",     "fs",     "gs",     "ss",     "notrack", "bnd"};

bool IsPrefix(std::string_view word)
{
  for (const char* prefix : PREFIXES) {
    if (word == prefix) {
      return true;
    }
  }
  return false;
}

const char* LaterFamily(std::string_view mnemonic)
{
  for (const Family& family : LATER_FAMILIES) {
    const std::string_view name = family.mnemonic;
    if (family.prefix ? mnemonic.rfind(name, 0) == 0 : mnemonic == name) {
      return family.why;
    }
  }
  return nullptr;
}

// An MMX (%mm0), SSE (%xmm0), AVX (%ymm0, %zmm0) or AVX-512 mask (%k1) register among the operands.
const char* LaterRegister(std::string_view operands)
{
  for (std::size_t at = operands.find('%'); at != std::string_view::npos;
       at = operands.find('%', at + 1)) {
    std::string_view name = operands.substr(at + 1);
    auto followedByDigit = [&](std::size_t length) {
      return name.size() > length && std::isdigit(static_cast<unsigned char>(name[length]));
    };
    if (name.rfind("mm", 0) == 0 && followedByDigit(2)) {
      return "MMX register: Pentium MMX";
    }
    if ((name.rfind("xmm", 0) == 0 || name.rfind("ymm", 0) == 0 || name.rfind("zmm", 0) == 0) &&
        followedByDigit(3)) {
      return "SSE/AVX register: Pentium III and later";
    }
    if (name.rfind("k", 0) == 0 && followedByDigit(1)) {
      return "AVX-512 mask register";
    }
  }
  return nullptr;
}

}  // namespace

const char* Non386Feature(std::string_view instruction)
{
  // Words split at blanks, without a stream: the emulated runs check every new block with this.
  auto nextWord = [&instruction]() {
    const std::size_t start = instruction.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
      instruction = {};
      return std::string_view();
    }
    const std::size_t end = std::min(instruction.find_first_of(" \t", start), instruction.size());
    const std::string_view word = instruction.substr(start, end - start);
    instruction.remove_prefix(end);
    return word;
  };
  std::string_view mnemonic = nextWord();
  while (!mnemonic.empty() && IsPrefix(mnemonic)) {
    mnemonic = nextWord();
  }
  const char* why = LaterFamily(mnemonic);
  if (why == nullptr) {
    why = LaterRegister(instruction);
  }
  return why;
}

std::vector<std::string> FindNon386Instructions(std::string_view disassembly)
{
  std::vector<std::string> found;
  std::istringstream lines{std::string(disassembly)};
  std::string line;
  while (std::getline(lines, line)) {
    // "  4018c7:\tcmove  %esi,%eax": a hexadecimal address, a colon, a tab, the instruction.
    const std::size_t colon = line.find(":\t");
    if (colon == std::string::npos) {
      continue;
    }
    std::size_t start = line.find_first_not_of(' ');
    const std::string address = line.substr(start, colon - start);
    if (address.empty() || address.find_first_not_of("0123456789abcdef") != std::string::npos) {
      continue;
    }
    std::string instruction = line.substr(colon + 2);
    while (!instruction.empty() && std::isspace(static_cast<unsigned char>(instruction.back()))) {
      instruction.pop_back();
    }
    // Comments ("# 0x403000") and symbols ("<_memset>") are objdump's, not the instruction's.
    const std::size_t comment = instruction.find_first_of("#<");
    const char* why = Non386Feature(std::string_view(instruction).substr(0, comment));
    if (why != nullptr) {
      std::string collapsed;
      std::istringstream parts(instruction);
      for (std::string part; parts >> part;) {
        collapsed += (collapsed.empty() ? "" : " ") + part;
      }
      found.push_back(address + ": " + collapsed + " (" + why + ")");
    }
  }
  return found;
}

}  // namespace pecheck
