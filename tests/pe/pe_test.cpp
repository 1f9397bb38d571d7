// pecheck's reader and checks, on PE images built here byte by byte: both header formats, imports
// by name and by ordinal, images without a lookup table or without imports, damaged files, and
// every expectation the check of KB47UNIN.EXE relies on; and the instructions an 80386 lacks, as
// objdump prints them.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cpu.h"
#include "pe.h"

namespace {

using pecheck::AllowedImports;
using pecheck::Expectations;
using pecheck::PeImage;
using pecheck::Version;

struct Dll {
  std::string name;
  std::vector<std::string> functions;  // "#n" is an import by ordinal n
};

struct ImageSpec {
  bool pe32Plus = false;
  std::uint16_t machine = pecheck::MACHINE_I386;
  std::uint16_t subsystem = pecheck::SUBSYSTEM_GUI;
  Version subsystemVersion{4, 0};
  Version osVersion{4, 0};
  std::vector<Dll> imports;
  bool lookupTable = true;  // false: OriginalFirstThunk 0, as some linkers write it
};

// A built image and where its parts lie, for the tests that damage it.
struct Built {
  std::vector<std::uint8_t> bytes;
  std::size_t optionalHeader = 0;
  std::size_t importDirectory = 0;  // the data directory entry: RVA, size
  std::size_t sectionTable = 0;
  std::size_t descriptors = 0;      // the first import descriptor
  std::size_t firstThunkTable = 0;  // the first DLL's lookup (or address) table
};

constexpr std::uint32_t SECTION_RVA = 0x1000;
constexpr std::size_t SECTION_OFFSET = 0x200;

void Put(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value, int size) {
  if (bytes.size() < at + size) {
    bytes.resize(at + size);
  }
  for (int i = 0; i < size; ++i) {
    bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

Built Build(const ImageSpec& shape) {
  Built built;
  std::vector<std::uint8_t>& b = built.bytes;
  b.assign(SECTION_OFFSET, 0);
  Put(b, 0, 0x5A4D, 2);
  Put(b, 0x3C, 0x40, 4);
  Put(b, 0x40, 0x00004550, 4);
  const std::size_t coff = 0x44;
  const std::size_t optionalSize = (shape.pe32Plus ? 112 : 96) + 16 * 8;
  Put(b, coff, shape.machine, 2);
  Put(b, coff + 2, 1, 2);  // one section
  Put(b, coff + 16, optionalSize, 2);
  const std::size_t opt = coff + 20;
  built.optionalHeader = opt;
  Put(b, opt, shape.pe32Plus ? 0x20B : 0x10B, 2);
  Put(b, opt + 40, shape.osVersion.major, 2);
  Put(b, opt + 42, shape.osVersion.minor, 2);
  Put(b, opt + 48, shape.subsystemVersion.major, 2);
  Put(b, opt + 50, shape.subsystemVersion.minor, 2);
  Put(b, opt + 68, shape.subsystem, 2);
  const std::size_t countAt = opt + (shape.pe32Plus ? 108 : 92);
  Put(b, countAt, 16, 4);
  built.importDirectory = countAt + 4 + 8;

  // The import section: descriptors, then per DLL its thunk tables, then the names.
  const int thunkSize = shape.pe32Plus ? 8 : 4;
  std::vector<std::uint8_t> section;
  const std::size_t descriptorsSize = (shape.imports.size() + 1) * 20;
  section.resize(descriptorsSize);
  std::vector<std::size_t> lookupAt, addressAt;
  for (const Dll& dll : shape.imports) {
    const std::size_t tableSize = (dll.functions.size() + 1) * thunkSize;
    lookupAt.push_back(section.size());
    section.resize(section.size() + tableSize);
    addressAt.push_back(section.size());
    section.resize(section.size() + tableSize);
  }
  auto rva = [](std::size_t offset) { return static_cast<std::uint32_t>(SECTION_RVA + offset); };
  for (std::size_t d = 0; d < shape.imports.size(); ++d) {
    const Dll& dll = shape.imports[d];
    std::size_t nameAt = section.size();
    section.insert(section.end(), dll.name.begin(), dll.name.end());
    section.push_back(0);
    for (std::size_t f = 0; f < dll.functions.size(); ++f) {
      const std::string& function = dll.functions[f];
      std::uint64_t thunk;
      if (function[0] == '#') {
        thunk = std::stoull(function.substr(1)) | (shape.pe32Plus ? 0x8000000000000000ull : 0x80000000ull);
      } else {
        thunk = rva(section.size());
        section.push_back(0);  // hint
        section.push_back(0);
        section.insert(section.end(), function.begin(), function.end());
        section.push_back(0);
      }
      Put(section, lookupAt[d] + f * thunkSize, shape.lookupTable ? thunk : 0, thunkSize);
      Put(section, addressAt[d] + f * thunkSize, thunk, thunkSize);
    }
    Put(section, d * 20, shape.lookupTable ? rva(lookupAt[d]) : 0, 4);
    Put(section, d * 20 + 12, rva(nameAt), 4);
    Put(section, d * 20 + 16, rva(addressAt[d]), 4);
  }
  section.resize((section.size() + 0x1FF) & ~std::size_t{0x1FF});

  if (!shape.imports.empty()) {
    Put(b, built.importDirectory, SECTION_RVA, 4);
    Put(b, built.importDirectory + 4, descriptorsSize, 4);
  }
  const std::size_t table = opt + optionalSize;
  built.sectionTable = table;
  std::memcpy(&b[table], ".idata\0\0", 8);
  Put(b, table + 8, section.size(), 4);
  Put(b, table + 12, SECTION_RVA, 4);
  Put(b, table + 16, section.size(), 4);
  Put(b, table + 20, SECTION_OFFSET, 4);
  b.insert(b.end(), section.begin(), section.end());
  built.descriptors = SECTION_OFFSET;
  built.firstThunkTable = SECTION_OFFSET + (shape.imports.empty() ? 0 : shape.lookupTable ? lookupAt[0] : addressAt[0]);
  return built;
}

std::optional<PeImage> Read(const std::vector<std::uint8_t>& bytes, std::string* error = nullptr) {
  return pecheck::ReadPe(std::span(bytes.data(), bytes.size()), error);
}

const std::vector<Dll> PROGRAM_IMPORTS = {
    {"KERNEL32.dll", {"ExitProcess", "lstrcpyA"}},
    {"msvcrt.dll", {"fopen", "fprintf"}},
};

TEST(ReadPe, ReadsHeadersAndImports) {
  struct Case {
    const char* name;
    ImageSpec shape;
  };
  const Case cases[] = {
      {"PE32, GUI 4.0, imports by name",
       {false, pecheck::MACHINE_I386, pecheck::SUBSYSTEM_GUI, {4, 0}, {4, 0}, PROGRAM_IMPORTS, true}},
      {"PE32+, console 5.2, 8-byte thunks and an ordinal",
       {true,
        pecheck::MACHINE_AMD64,
        pecheck::SUBSYSTEM_CONSOLE,
        {5, 2},
        {6, 1},
        {{"COMCTL32.dll", {"#17", "InitCommonControls"}}, {"USER32.dll", {"MessageBoxA"}}},
        true}},
      {"PE32 without a lookup table: names come from the address table",
       {false, pecheck::MACHINE_I386, pecheck::SUBSYSTEM_GUI, {4, 10}, {4, 0}, PROGRAM_IMPORTS, false}},
      {"no import directory", {false, pecheck::MACHINE_I386, pecheck::SUBSYSTEM_GUI, {4, 0}, {4, 0}, {}, true}},
      {"a DLL with no functions",
       {false, pecheck::MACHINE_I386, pecheck::SUBSYSTEM_GUI, {4, 0}, {4, 0}, {{"EMPTY.dll", {}}}, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Built built = Build(c.shape);
    std::string error;
    auto image = Read(built.bytes, &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->machine, c.shape.machine);
    EXPECT_EQ(image->pe32Plus, c.shape.pe32Plus);
    EXPECT_EQ(image->subsystem, c.shape.subsystem);
    EXPECT_EQ(image->subsystemVersion, c.shape.subsystemVersion);
    EXPECT_EQ(image->osVersion, c.shape.osVersion);
    EXPECT_EQ(image->fileSize, built.bytes.size());
    ASSERT_EQ(image->imports.size(), c.shape.imports.size());
    for (std::size_t d = 0; d < c.shape.imports.size(); ++d) {
      EXPECT_EQ(image->imports[d].name, c.shape.imports[d].name);
      EXPECT_EQ(image->imports[d].functions, c.shape.imports[d].functions);
    }
  }
}

TEST(ReadPe, RefusesDamagedFiles) {
  struct Case {
    const char* name;
    std::function<void(Built&)> damage;
    const char* error;  // a part of the message
  };
  const Case cases[] = {
      {"empty file", [](Built& b) { b.bytes.clear(); }, "not an MZ executable"},
      {"no MZ", [](Built& b) { b.bytes[0] = 'X'; }, "not an MZ executable"},
      {"PE header offset past the end", [](Built& b) { Put(b.bytes, 0x3C, 0x7FFFFFF0, 4); }, "no PE signature"},
      {"wrong signature", [](Built& b) { b.bytes[0x41] = 'X'; }, "no PE signature"},
      {"unknown optional header", [](Built& b) { Put(b.bytes, b.optionalHeader, 0x107, 2); }, "magic"},
      {"optional header too short for its directories", [](Built& b) { Put(b.bytes, 0x44 + 16, 60, 2); }, "too short"},
      {"section table cut off", [](Built& b) { b.bytes.resize(b.sectionTable + 20); }, "section table"},
      {"import directory outside every section", [](Built& b) { Put(b.bytes, b.importDirectory, 0x9000, 4); },
       "outside the file's sections"},
      {"DLL name outside every section", [](Built& b) { Put(b.bytes, b.descriptors + 12, 0x9000, 4); },
       "unreadable DLL name"},
      {"thunk table outside every section", [](Built& b) { Put(b.bytes, b.descriptors, 0x9000, 4); },
       "thunk table lies outside"},
      {"function name outside every section", [](Built& b) { Put(b.bytes, b.firstThunkTable, 0x9000, 4); },
       "unreadable name"},
      {"descriptor list running off the end of the file",
       [](Built& b) {
         const std::size_t sectionEnd = b.bytes.size() - SECTION_OFFSET;
         Put(b.bytes, b.importDirectory, SECTION_RVA + sectionEnd - 10, 4);
       },
       "runs off the end"},
      {"thunk table without its zero end",
       [](Built& b) {
         for (std::size_t at = b.firstThunkTable; at < b.bytes.size(); at += 4) {
           Put(b.bytes, at, 0x80000001, 4);
         }
       },
       "has no end"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ImageSpec shape;
    shape.imports = PROGRAM_IMPORTS;
    Built built = Build(shape);
    c.damage(built);
    std::string error;
    EXPECT_FALSE(Read(built.bytes, &error));
    EXPECT_NE(error.find(c.error), std::string::npos) << "error: " << error;
  }
}

TEST(ParseAllowedImports, ReadsEntriesAndRefusesMalformedLines) {
  std::string error;
  auto allowed = pecheck::ParseAllowedImports(
      "# a comment line\n"
      "\n"
      "KERNEL32!ExitProcess\n"
      "  msvcrt.dll!fopen   # in every MSVCRT.DLL\r\n"
      "USER32!MessageBoxA#no space before the comment\n",
      &error);
  ASSERT_TRUE(allowed) << error;
  EXPECT_EQ(allowed->entries, (std::set<std::string>{"KERNEL32!ExitProcess", "MSVCRT!fopen", "USER32!MessageBoxA"}));
  EXPECT_EQ(allowed->dlls, (std::set<std::string>{"KERNEL32", "MSVCRT", "USER32"}));

  const char* const malformed[] = {"KERNEL32", "!ExitProcess", "KERNEL32!", "KERNEL32!Exit Process", "KERNEL32!A!B"};
  for (const char* line : malformed) {
    SCOPED_TRACE(line);
    error.clear();
    EXPECT_FALSE(pecheck::ParseAllowedImports(std::string("KERNEL32!ExitProcess\n") + line, &error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
  }
}

TEST(Check, NamesEveryDifference) {
  AllowedImports allowed = *pecheck::ParseAllowedImports(
      "KERNEL32!ExitProcess\nKERNEL32!lstrcpyA\nMSVCRT!fopen\nMSVCRT!fprintf\nCOMCTL32!InitCommonControls\n", nullptr);
  Expectations program;
  program.machine = pecheck::MACHINE_I386;
  program.subsystem = pecheck::SUBSYSTEM_GUI;
  program.subsystemVersion = Version{4, 0};
  program.osVersion = Version{4, 0};
  program.allowed = allowed;

  struct Case {
    const char* name;
    std::function<void(ImageSpec&, Expectations&)> change;
    std::vector<std::string> problems;
  };
  const Case cases[] = {
      {"the program as it should be", [](ImageSpec&, Expectations&) {}, {}},
      {"DLL names in other letter case and without .dll",
       [](ImageSpec& s, Expectations&) {
         s.imports = {{"kernel32.DLL", {"ExitProcess"}}, {"MSVCRT", {"fopen"}}};
       },
       {}},
      {"amd64 machine",
       [](ImageSpec& s, Expectations&) { s.machine = pecheck::MACHINE_AMD64; },
       {"machine is amd64, expected i386"}},
      {"console subsystem",
       [](ImageSpec& s, Expectations&) { s.subsystem = pecheck::SUBSYSTEM_CONSOLE; },
       {"subsystem is console, expected gui"}},
      {"subsystem 5.0, as newer linkers write",
       [](ImageSpec& s, Expectations&) {
         s.subsystemVersion = {5, 0};
       },
       {"subsystem version is 5.0, expected 4.0"}},
      {"subsystem 4.10, Windows 98's own",
       [](ImageSpec& s, Expectations&) {
         s.subsystemVersion = {4, 10};
       },
       {"subsystem version is 4.10, expected 4.0"}},
      {"OS version 6.0",
       [](ImageSpec& s, Expectations&) {
         s.osVersion = {6, 0};
       },
       {"OS version is 6.0, expected 4.0"}},
      {"a DLL of the compiler's runtime",
       [](ImageSpec& s, Expectations&) {
         s.imports.push_back({"libgcc_s_dw2-1.dll", {"__register_frame_info"}});
       },
       {"imports from libgcc_s_dw2-1.dll, which is not an allowed DLL"}},
      {"a function Windows 95 may lack",
       [](ImageSpec& s, Expectations&) { s.imports[0].functions.push_back("IsDBCSLeadByteEx"); },
       {"imports KERNEL32.dll!IsDBCSLeadByteEx, which is not on the allowed list"}},
      {"function names count letter case",
       [](ImageSpec& s, Expectations&) { s.imports[0].functions = {"lstrcpya"}; },
       {"imports KERNEL32.dll!lstrcpya, which is not on the allowed list"}},
      {"an import by ordinal",
       [](ImageSpec& s, Expectations&) {
         s.imports.push_back({"COMCTL32.dll", {"#17"}});
       },
       {"imports COMCTL32.dll!#17, which is not on the allowed list"}},
      {"a function allowed only from another DLL",
       [](ImageSpec& s, Expectations&) { s.imports[1].functions.push_back("ExitProcess"); },
       {"imports msvcrt.dll!ExitProcess, which is not on the allowed list"}},
      {"two differences at once",
       [](ImageSpec& s, Expectations&) {
         s.machine = pecheck::MACHINE_AMD64;
         s.imports[1].functions.push_back("__p__acmdln");
       },
       {"machine is amd64, expected i386", "imports msvcrt.dll!__p__acmdln, which is not on the allowed list"}},
      {"expectations not given are not checked",
       [](ImageSpec& s, Expectations& e) {
         s.subsystem = pecheck::SUBSYSTEM_CONSOLE;
         s.imports.push_back({"GDI32.dll", {"TextOutA"}});
         e = Expectations{};
       },
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ImageSpec shape;
    shape.imports = PROGRAM_IMPORTS;
    Expectations expected = program;
    c.change(shape, expected);
    auto image = Read(Build(shape).bytes);
    ASSERT_TRUE(image);
    EXPECT_EQ(pecheck::Check(*image, expected), c.problems);
  }
}

TEST(Check, SizeBoundIsInclusive) {
  ImageSpec shape;
  shape.imports = PROGRAM_IMPORTS;
  auto image = Read(Build(shape).bytes);
  ASSERT_TRUE(image);
  Expectations expected;
  expected.maxFileSize = image->fileSize;
  EXPECT_TRUE(pecheck::Check(*image, expected).empty());
  expected.maxFileSize = image->fileSize - 1;
  EXPECT_EQ(pecheck::Check(*image, expected),
            (std::vector<std::string>{"file is " + std::to_string(image->fileSize) + " bytes, more than " +
                                      std::to_string(image->fileSize - 1)}));
}

TEST(FindNon386Instructions, NamesEachLaterInstructionAndItsAddress) {
  struct Case {
    const char* line;   // as `objdump -d --no-show-raw-insn` prints it
    const char* found;  // "" when a 386 has the instruction
  };
  const Case cases[] = {
      {"  4018c7:\tcmove  %esi,%eax", "4018c7: cmove %esi,%eax (CMOV: Pentium Pro)"},
      {"  4020db:\tcmovle %eax,%edx", "4020db: cmovle %eax,%edx (CMOV: Pentium Pro)"},
      {"  401000:\tlock cmpxchg %ecx,(%edx)", "401000: lock cmpxchg %ecx,(%edx) (CMPXCHG: 80486 (CMPXCHG8B: Pentium))"},
      {"  401000:\tcmpxchg8b (%esi)", "401000: cmpxchg8b (%esi) (CMPXCHG: 80486 (CMPXCHG8B: Pentium))"},
      {"  401000:\tbswap  %eax", "401000: bswap %eax (BSWAP: 80486)"},
      {"  401000:\tlock xadd %eax,(%edx)", "401000: lock xadd %eax,(%edx) (XADD: 80486)"},
      {"  401000:\tcpuid", "401000: cpuid (CPUID: Pentium (and late 80486s))"},
      {"  401000:\trdtsc", "401000: rdtsc (RDTSC: Pentium)"},
      {"  401000:\tfcomip %st(1),%st", "401000: fcomip %st(1),%st (FCOMI: Pentium Pro)"},
      {"  401000:\tfucomi %st(2),%st", "401000: fucomi %st(2),%st (FUCOMI: Pentium Pro)"},
      {"  401000:\tfcmovne %st(1),%st", "401000: fcmovne %st(1),%st (FCMOV: Pentium Pro)"},
      {"  401000:\tsysenter", "401000: sysenter (SYSENTER: Pentium II)"},
      {"  401000:\tnopw   0x0(%eax,%eax,1)", "401000: nopw 0x0(%eax,%eax,1) (multi-byte NOP (0F 1F): Pentium Pro)"},
      {"  401000:\tmovd   %mm0,%eax", "401000: movd %mm0,%eax (MMX register: Pentium MMX)"},
      {"  401000:\tpxor   %xmm1,%xmm1", "401000: pxor %xmm1,%xmm1 (SSE/AVX register: Pentium III and later)"},
      {"  401000:\tmovups %xmm0,0x10(%esp)",
       "401000: movups %xmm0,0x10(%esp) (SSE/AVX register: Pentium III and later)"},
      // What a 386 has, and what only looks like a later instruction.
      {"  401000:\tmov    %esi,%eax", ""},
      {"  401000:\trep stos %eax,%es:(%edi)", ""},
      {"  401000:\tfcom   %st(1)", ""},
      {"  401000:\tcall   402000 <_cmovHelper>", ""},
      {"  401000:\tmov    0x403000,%eax  # 0x403000 <_bswap_table>", ""},
      {"  401000:\tlea    0x0(%esi,%eiz,1),%esi", ""},
      {"  401000:\txchg   %ax,%ax", ""},
      {"  401000:\tnop", ""},
      {"00401000 <_WinMain@16>:", ""},
      {"Disassembly of section .text:", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const std::vector<std::string> found = pecheck::FindNon386Instructions(c.line);
    if (c.found[0] == '\0') {
      EXPECT_TRUE(found.empty()) << found.front();
    } else {
      EXPECT_EQ(found, std::vector<std::string>{c.found});
    }
  }
  // Every line of a whole listing is read, not only the first.
  EXPECT_EQ(pecheck::FindNon386Instructions("  401000:\tpush   %ebp\n  401001:\tcmove  %esi,%eax\n"
                                            "  401004:\tbswap  %eax\n")
                .size(),
            2u);
}

}  // namespace
