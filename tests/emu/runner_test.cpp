// The runner's own checks, on patched copies of the shipped KB47UNIN.EXE made here: the files it
// refuses before running, naming why; the guest failures it stops on, naming the address, the
// instruction and the last imports; its bounds; and its table of bindings against the i686
// import libraries' own decorations.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>

#include "emu_run.h"
#include "installed_machine.h"
#include "sim_case.h"
#include "sim/text.h"

namespace {

std::string ShippedBytes() {
  std::ifstream in(emu_test::ShippedPath(), std::ios::binary);
  if (!in) throw std::runtime_error(emu_test::ShippedPath() + " is missing: build the win32 tree first");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t U32(const std::string& bytes, std::size_t at) {
  std::uint32_t value;
  std::memcpy(&value, bytes.data() + at, 4);
  return value;
}
void Put(std::string& bytes, std::size_t at, const std::string& patch) { bytes.replace(at, patch.size(), patch); }

// The file offset of an address of the image, by its section table.
std::size_t FileOffset(const std::string& bytes, std::uint32_t address) {
  const std::uint32_t pe = U32(bytes, 0x3C);
  const std::uint32_t rva = address - U32(bytes, pe + 24 + 28);
  const std::uint16_t sections = static_cast<std::uint16_t>(U32(bytes, pe + 6));
  const std::size_t table = pe + 24 + (U32(bytes, pe + 20) & 0xFFFF);
  for (std::size_t i = 0; i < sections; ++i) {
    const std::size_t at = table + 40 * i;
    const std::uint32_t start = U32(bytes, at + 12), size = U32(bytes, at + 16);
    if (rva >= start && rva < start + size) return U32(bytes, at + 20) + (rva - start);
  }
  throw std::runtime_error("address " + std::to_string(address) + " is in no section");
}

std::string Le32(std::uint32_t value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

emu::Program Load(const std::string& bytes) { return emu::Program::Load(std::as_bytes(std::span(bytes))); }

// ---- Refused before anything runs.
struct RefusalCase {
  const char* name;
  void (*patch)(std::string& bytes);
  const char* message;  // what the refusal says (its start, where it goes on with an offset)
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class Refusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, NameWhyBeforeRunning) {
  std::string bytes = ShippedBytes();
  GetParam().patch(bytes);
  try {
    Load(bytes);
    FAIL() << "loaded";
  } catch (const emu::Refused& refused) {
    EXPECT_TRUE(std::string(refused.what()).starts_with(GetParam().message)) << refused.what();
  }
}
INSTANTIATE_TEST_SUITE_P(
    PatchedCopies, Refusals,
    ::testing::Values(
        // An import the simulated machine does not provide, named: DeleteFileA becomes DeleteFileW.
        RefusalCase{"UnboundImport",
                    [](std::string& b) { Put(b, b.find(std::string("DeleteFileA\0", 12)), "DeleteFileW"); },
                    "imports KERNEL32!DeleteFileW, which the simulated machine does not provide"},
        RefusalCase{"UnboundDll",
                    [](std::string& b) { Put(b, b.find("COMCTL32.DLL"), "COMCTL99.DLL"); },
                    "imports COMCTL99!InitCommonControls, which the simulated machine does not provide"},
        RefusalCase{"ByOrdinal",
                    [](std::string& b) {
                      // The first lookup entry of the first DLL becomes ordinal 17.
                      const std::uint32_t pe = U32(b, 0x3C), imports = U32(b, pe + 24 + 104);
                      const std::uint32_t base = U32(b, pe + 24 + 28);
                      const std::uint32_t lookup = U32(b, FileOffset(b, base + imports));
                      Put(b, FileOffset(b, base + lookup), Le32(0x80000011));
                    },
                    "imports ADVAPI32 #17 by ordinal, which the simulated machine does not provide"},
        RefusalCase{"Amd64", [](std::string& b) { Put(b, U32(b, 0x3C) + 4, "\x64\x86"); },
                    "not an i386 program (machine 0x00008664)"},
        RefusalCase{"Console", [](std::string& b) { Put(b, U32(b, 0x3C) + 24 + 68, std::string("\x03\x00", 2)); },
                    "not a GUI program (subsystem 3)"},
        RefusalCase{"NoMz", [](std::string& b) { Put(b, 0, "ZM"); }, "not a PE file: no MZ header"},
        RefusalCase{"Truncated", [](std::string& b) { b.resize(0x200); },
                    "not a PE file the runner can load: the file ends before offset "}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

// ---- Stopped while running: the reason, the address, the instruction, the last imports.
struct FailureCase {
  const char* name;
  std::string code;           // written over the entry point; "" runs the program as it is
  emu::Limits limits;
  const char* reason;         // the start of the failure's reason
  const char* instruction;    // the start of the instruction named
  bool atEntry;               // the address named is the entry point
  bool afterImports;          // some imports were made before
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

emu::Limits With(std::uint64_t instructions, int callbackDepth = 8) {
  emu::Limits limits;
  limits.instructions = instructions;
  limits.callbackDepth = callbackDepth;
  return limits;
}

class Failures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(Failures, NameTheAddressTheInstructionAndTheLastImports) {
  const FailureCase& c = GetParam();
  std::string bytes = ShippedBytes();
  const std::uint32_t entry = Load(bytes).EntryPoint();
  std::string code = c.code;
  if (code == "write over code") code = "\xA3" + Le32(entry);  // mov %eax, entry
  Put(bytes, FileOffset(bytes, entry), code);
  const emu::Program program = Load(bytes);
  sim::Machine machine;
  sim::ScriptedUser user(wine::StepsOf("ok-no"));
  try {
    emu::Run(program, machine, user, c.limits);
    FAIL() << "ran to the end";
  } catch (const emu::GuestFailure& failure) {
    SCOPED_TRACE(failure.what());
    EXPECT_EQ(failure.reason.rfind(c.reason, 0), 0u);
    EXPECT_EQ(failure.instruction.rfind(c.instruction, 0), 0u);
    if (c.atEntry) {
      EXPECT_EQ(failure.address, entry);
    }
    EXPECT_EQ(!failure.lastImports.empty(), c.afterImports);
    EXPECT_LE(failure.lastImports.size(), 10u);
    EXPECT_NE(std::string(failure.what()).find("at 0x"), std::string::npos);
  }
  // The machine keeps nothing of the failed run: no procedure caller into the runner that is gone.
  EXPECT_FALSE(machine.ui().callProc);
}

std::string Bytes(const char* text, std::size_t size) { return std::string(text, size); }

INSTANTIATE_TEST_SUITE_P(
    PatchedCopies, Failures,
    ::testing::Values(
        // CMOVE %EDX,%EAX: a Pentium Pro's, refused by the block check before it runs.
        FailureCase{"Cmov", Bytes("\x0F\x44\xC2", 3), {}, "an instruction that an 80386 lacks (CMOV: Pentium Pro)",
                    "cmove", true, false},
        FailureCase{"Cpuid", Bytes("\x0F\xA2", 2), {}, "an instruction that an 80386 lacks (CPUID", "cpuid", true,
                    false},
        FailureCase{"Breakpoint", Bytes("\xCC", 1), {}, "interrupt 3", "", false, false},
        FailureCase{"InvalidInstruction", Bytes("\xFF\xFF", 2), {}, "an invalid instruction", "(bytes ff ff", true, false},
        FailureCase{"NullWrite", Bytes("\xA3\x00\x00\x00\x00", 5), {}, "a fault: writing unmapped memory (4 bytes at 0x00000000)",
                    "movl %eax, 0", true, false},
        FailureCase{"CodeWrite", "write over code", {}, "a fault: writing read-only memory", "movl %eax, 0x", true, false},
        FailureCase{"EndlessLoop", Bytes("\xEB\xFE", 2), With(100000), "past the budget of 100000 instructions", "jmp",
                    true, false},
        FailureCase{"EndlessRecursion", Bytes("\xE8\xFB\xFF\xFF\xFF", 5), {}, "a fault: writing unmapped memory",
                    "calll", true, false},
        FailureCase{"ReturnWithoutExitProcess", Bytes("\xC3", 1), {},
                    "the program returned from its entry point instead of calling ExitProcess", "", false, false},
        // The program as it is, stopped by its bounds midway.
        FailureCase{"InstructionBudget", "", With(20000), "past the budget of 20000 instructions", "", false, true},
        FailureCase{"CallbackDepth", "", With(20'000'000, 0), "dialog procedures called inside one another more than 0",
                    "", false, true}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// ---- The emulator the thread keeps between runs: a run on it is the same run as on a new one,
// whatever ran before it; and a run that fails, or asks for other bounds, gets a new one.
TEST(KeptEmulator, RunsAsANewOneWouldAfterOtherRuns) {
  struct Leg {
    const char* name;
    sim::Machine machine;
    const char* flow;
  };
  const Leg legs[] = {{"removal on Windows 98", fixtures::InstalledMachine(sim::kBuildWin98), "ok-no"},
                      {"cancel on Windows 95", fixtures::InstalledMachine(sim::kBuildWin95), "cancel"},
                      {"nothing to remove on Windows 95", fixtures::CleanMachine(sim::kBuildWin95), "ok-yes"}};
  // (Held where they are made: a copy of a machine starts a trace of its own.)
  std::vector<std::unique_ptr<const emu_test::Outcome>> fresh;
  for (const Leg& leg : legs) {
    emu::DropKeptEmulator();
    fresh.emplace_back(new emu_test::Outcome(emu_test::RunEmulated(leg.machine, wine::StepsOf(leg.flow))));
    EXPECT_TRUE(fresh.back()->error.empty()) << leg.name << ": " << fresh.back()->error;
    EXPECT_TRUE(fresh.back()->stats.freshEngine) << leg.name;
  }
  emu::DropKeptEmulator();
  const int order[] = {0, 1, 2, 0, 2, 1, 0};
  for (std::size_t n = 0; n < std::size(order); ++n) {
    const Leg& leg = legs[order[n]];
    SCOPED_TRACE(std::string(leg.name) + ", run " + std::to_string(n + 1));
    const emu_test::Outcome kept = emu_test::RunEmulated(leg.machine, wine::StepsOf(leg.flow));
    EXPECT_EQ(kept.stats.freshEngine, n == 0);
    EXPECT_TRUE(emu_test::SameRun(*fresh[order[n]], kept));
    EXPECT_EQ(kept.stats.instructions, fresh[order[n]]->stats.instructions);
    EXPECT_EQ(kept.stats.importCalls, fresh[order[n]]->stats.importCalls);
  }
  // A run stopped midway leaves no emulator behind; nor does a kept one serve other bounds.
  const emu_test::Outcome stopped = emu_test::RunEmulated(legs[0].machine, wine::StepsOf(legs[0].flow), {}, With(20000));
  EXPECT_NE(stopped.error.find("past the budget"), std::string::npos) << stopped.error;
  const emu_test::Outcome after = emu_test::RunEmulated(legs[0].machine, wine::StepsOf(legs[0].flow));
  EXPECT_TRUE(after.stats.freshEngine);
  EXPECT_TRUE(emu_test::SameRun(*fresh[0], after));
  emu::Limits bigger;
  bigger.heapBytes *= 2;
  EXPECT_TRUE(emu_test::RunEmulated(legs[0].machine, wine::StepsOf(legs[0].flow), {}, bigger).stats.freshEngine);
}

// ---- The table of bindings: each pops the bytes that the i686 import library's decoration
// _Function@N says, and each DLL's names are found there.
TEST(Bindings, PopTheBytesOfTheImportLibrariesDecorations) {
  std::map<std::string, std::string> symbols;  // per DLL, nm's output for its import library
  for (const emu::BoundImport& bound : emu::BoundImports()) {
    const std::string dll = bound.name.substr(0, bound.name.find('!'));
    const std::string function = bound.name.substr(bound.name.find('!') + 1);
    if (!symbols.contains(dll)) {
      const std::string command = std::string(RK514_I686_NM) + " -g $(" + RK514_I686_CXX +
                                  " -print-file-name=lib" + sim::LowerAscii(dll) + ".a) 2>/dev/null";
      std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
      ASSERT_NE(pipe, nullptr) << command;
      std::string text;
      char chunk[4096];
      for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe.get())) > 0;) text.append(chunk, n);
      ASSERT_NE(text.find("__imp__"), std::string::npos) << command << " lists no imports";
      symbols[dll] = text;
    }
    const std::string decorated = " __imp__" + function + "@" + std::to_string(bound.argBytes) + "\n";
    EXPECT_NE(symbols[dll].find(decorated), std::string::npos) << bound.name << " pops " << bound.argBytes << " bytes";
  }
}

// Every import of the shipped program is bound, and the bound set is the simulated machine's.
TEST(Bindings, CoverTheShippedProgram) {
  const std::vector<std::string> imports = emu_test::Shipped().Imports();
  EXPECT_GE(imports.size(), 40u);
  EXPECT_EQ(emu::BoundImports().size(), imports.size() + 1) << "GetLastError is bound beside the program's imports";
}

}  // namespace
