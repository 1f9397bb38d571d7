// The shipped i686 program on an emulated 32-bit x86 (Unicorn), against the simulated machine:
// the PE is checked and mapped, each import is bound to the simulated machine's own Win32
// function, the dialogs come from the PE's own resources, and the run's result is the code the
// program gave ExitProcess. A file that is not one the runner can run is refused before any of it
// runs; a program that goes wrong while running is stopped, naming where and what.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/machine.h"
#include "sim/ui.h"

namespace emu {

// The file is not a program the runner will run: not a PE, not i386, not the GUI subsystem, a
// header or table that points outside the file, or an import outside the bound set (the message
// then names it: "imports KERNEL32!CreateProcessA, which the simulated machine does not provide").
struct Refused : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The program went wrong while it ran: a fault (unmapped or protected memory, an invalid
// instruction, an interrupt), an import or a dialog procedure that left the stack unbalanced, an
// instruction an 80386 lacks, or a bound passed (instructions, callback depth). what() is the whole
// report: the reason, the address, the instruction there and the last import calls.
struct GuestFailure : std::runtime_error {
  GuestFailure(const std::string& reason, std::uint32_t address, std::string instruction,
               std::vector<std::string> lastImports);
  std::string reason;
  std::uint32_t address = 0;
  std::string instruction;               // "cmovne %edx, %eax", or "" where none could be read
  std::vector<std::string> lastImports;  // the last 10 import calls, oldest first: "KERNEL32!ReadFile"
};

// What a run may take, at most.
struct Limits {
  std::uint64_t instructions = 20'000'000;
  int callbackDepth = 8;                   // dialog procedures running inside one another
  std::uint32_t heapBytes = 4u << 20;      // HeapAlloc fails past this, as on a full machine
  std::uint32_t stackBytes = 256u << 10;
  // Every handle closed and every heap block freed when the program exits, else a failure. A run
  // whose close or free calls are made to fail (sim::Faults) leaves them open by design.
  bool requireBalance = true;
};

// What a run did, for benchmarks and reports.
struct Stats {
  std::uint64_t instructions = 0;
  std::uint64_t importCalls = 0;
  std::uint64_t callbacks = 0;  // dialog procedure calls
  std::uint64_t blocksChecked = 0;
  std::size_t handlesLeftOpen = 0, heapBlocksLeft = 0;  // at the exit
  bool freshEngine = false;  // the emulator was made for this run, not kept from the thread's last
};

// A PE file checked and ready to run: its image as mapped, its bound imports, its dialogs. It
// may run many times, one run at a time: each run maps a fresh copy of its image.
class Program {
 public:
  // Throws Refused, saying why.
  static Program Load(std::span<const std::byte> bytes);
  static Program LoadFile(const std::filesystem::path& file);  // also refuses a file it cannot read

  std::uint32_t ImageBase() const;
  std::uint32_t EntryPoint() const;  // an address
  // "KERNEL32!CreateFileA", in the import table's order.
  std::vector<std::string> Imports() const;
  // The RT_DIALOG templates, by name, decoded from the PE's resources.
  const std::map<std::string, sim::DialogTemplate>& Dialogs() const;

  struct Image;
  const Image& image() const { return *image_; }
  Program(Program&&) noexcept;
  Program& operator=(Program&&) noexcept;
  ~Program();

 private:
  explicit Program(std::unique_ptr<Image> image);
  std::unique_ptr<Image> image_;
};

// Every import the runner binds: "DLL!Function" (the DLL in capitals, without ".DLL") and the
// bytes of arguments the function pops, the N of the import library's _Function@N.
struct BoundImport {
  std::string name;
  std::uint32_t argBytes = 0;
};
std::vector<BoundImport> BoundImports();

// Runs the program on the machine, with the user answering its dialogs and message boxes; the
// machine is made current for the run and its window manager given the program's dialogs.
// Returns the exit code the program passed to ExitProcess. Throws GuestFailure when the program
// goes wrong, and GuestFailure too when it returns from its entry point instead of calling
// ExitProcess, or (Limits::requireBalance) leaves handles open or heap blocks allocated at its
// exit; the simulator's own
// errors (sim::Unanswered, sim::Unmodelled) pass through as they are. When Run returns, however
// it ends, the guest's memory is given back. After a run that ends as it should, the thread keeps
// the emulator with its translation of the program's read-only code for its next run of the same
// program under the same heap and stack size; that run starts from a fresh copy of the image, an
// empty stack and heap and the CPU's first state, as on a new emulator.
int Run(const Program& program, sim::Machine& machine, sim::User& user, const Limits& limits = {},
        Stats* stats = nullptr);

// Closes the emulator the thread keeps, if any: its next run makes a new one.
void DropKeptEmulator();

}  // namespace emu
