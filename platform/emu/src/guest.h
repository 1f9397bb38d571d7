// What the runner's three parts share: the loaded image (loader.cpp), the bindings of the imports
// to the simulated machine's functions (bindings.cpp), and the guest they act on, whose memory
// and CPU the loop owns (runner.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "emu/runner.h"

namespace emu {

inline constexpr std::uint32_t kPage = 0x1000;

// A PE's image as Windows maps it: headers and sections at their offsets, zero-filled between,
// each page's protection, and the import slots to fill.
struct Program::Image {
  std::uint64_t serial = 0;                     // distinct for each image loaded in the process
  std::uint32_t base = 0, size = 0, entry = 0;  // size: a whole number of pages
  std::vector<std::byte> bytes;                 // `size` bytes
  std::vector<std::uint32_t> pageProtection;    // UC_PROT_* of each page
  struct Import {
    std::string name;        // "KERNEL32!CreateFileA"
    std::uint32_t slot = 0;  // the import address table entry, as an offset in the image
    std::size_t binding = 0;
  };
  std::vector<Import> imports;
  std::map<std::string, sim::DialogTemplate> dialogs;
  // The blocks of its read-only code that runs have checked and found clean: (address, size) ->
  // their instructions. Kept with the program, so that each is disassembled once, not once a run.
  mutable std::unordered_map<std::uint64_t, std::uint32_t> checkedBlocks;
};

// The guest as the bindings see it: its memory, read and written with bounds, and its dialog
// procedures, called by the loop. Every check that fails throws GuestFailure for the import
// being answered.
class Guest {
 public:
  virtual ~Guest() = default;
  // Host memory behind size bytes at address, all inside guest memory (and writable where
  // asked), or nullptr.
  virtual std::byte* Find(std::uint32_t address, std::uint32_t size, bool write) const = 0;
  // The same, and a failure where it is not; address 0 gives nullptr for size 0 (an optional
  // out-parameter, a NULL string) and a failure for a buffer of some size.
  std::byte* Host(std::uint32_t address, std::uint32_t size, bool write);
  char* Buffer(std::uint32_t address, std::uint32_t size) {
    return reinterpret_cast<char*>(Host(address, size, true));
  }
  // A NUL-ended string inside guest memory (nullptr for address 0).
  const char* String(std::uint32_t address);
  // The guest address of host memory inside guest memory, or 0 when it lies elsewhere.
  virtual std::uint32_t GuestOf(const void* host) const = 0;
  // Runs the guest's dialog procedure at proc with these arguments; its result.
  virtual std::uint32_t CallProcedure(std::uint32_t proc, const std::uint32_t (&args)[4]) = 0;
  [[noreturn]] virtual void Fail(const std::string& reason) = 0;
};

// One import the runner answers: its name, the bytes of arguments the callee pops (the @N of the
// import library's _Name@N), and the call of the simulated function with the arguments read.
struct Binding {
  const char* dll;  // "KERNEL32"
  const char* function;
  std::uint32_t argBytes;
  std::uint32_t (*call)(Guest& guest, const std::uint32_t* args);
};
std::span<const Binding> Bindings();

std::string Hex(std::uint32_t value);  // 0x0040120C

}  // namespace emu
