// The loop: the program's image, a stack, the heap and a page of import slots mapped into an
// emulated 32-bit x86 (Unicorn), and one loop that runs it. Reaching the page of the import slots
// and the STOP address stops the emulator (a code hook on that page alone; Unicorn's exits would
// do the same, but it invalidates each exit's translation at every start, which made a run of
// 2,300 imports and 46 exits take 50 ms more): at a slot the loop answers the import through its
// binding and goes on at the return address; a dialog procedure runs through the same loop, one level deeper,
// until it returns to STOP. Unicorn's hooks only note what they saw and stop the emulator; every
// error is thrown from the loop, outside Unicorn's frames. A Capstone check of each new block
// refuses the instructions an 80386 lacks, with pecheck's table. The emulator outlives a run that
// ends as it should, for the thread's next run of the same program (see Engine).
#include <capstone/capstone.h>
#include <unicorn/unicorn.h>

#include <sys/mman.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <unordered_map>
#include <utility>

#include "cpu.h"
#include "guest.h"
#include "win32.h"

namespace emu {

std::string Hex(std::uint32_t value) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

GuestFailure::GuestFailure(const std::string& why, std::uint32_t at, std::string what, std::vector<std::string> last)
    : std::runtime_error([&] {
        std::string text = why + "\n  at " + Hex(at) + ": " + (what.empty() ? "(no instruction there)" : what);
        text += "\n  last imports (oldest first):";
        for (const std::string& name : last) text += " " + name;
        return text;
      }()),
      reason(why),
      address(at),
      instruction(std::move(what)),
      lastImports(std::move(last)) {}

std::byte* Guest::Host(std::uint32_t address, std::uint32_t size, bool write) {
  if (address == 0 && size == 0) return nullptr;
  if (std::byte* host = Find(address, size, write)) return host;
  Fail(std::string(write ? "a buffer to write" : "memory to read") + " of " + std::to_string(size) + " bytes at " +
       Hex(address) + ", which is not all " + (write ? "writable " : "") + "guest memory");
  return nullptr;  // not reached: Fail does not return
}

const char* Guest::String(std::uint32_t address) {
  if (address == 0) return nullptr;
  // Page by page, as far as guest memory goes on.
  for (std::uint32_t length = 0;;) {
    const std::uint32_t chunk = kPage - (address + length) % kPage;
    const std::byte* at = Find(address, length + chunk, false);
    if (at == nullptr) break;
    if (std::memchr(at + length, 0, chunk) != nullptr) return reinterpret_cast<const char*>(at);
    length += chunk;
  }
  Fail("a string at " + Hex(address) + " that does not end inside guest memory");
  return nullptr;  // not reached: Fail does not return
}

namespace {

// The guest's address space. The image lies below kHeapBase (the loader sees to it).
constexpr std::uint32_t kHeapBase = 0x60000000, kStackTop = 0x70000000;
constexpr std::uint32_t kSlots = 0x7FFE0000;  // slot i at kSlots + 8 i
constexpr std::uint32_t kStop = kSlots + kPage - 16;
constexpr std::uint32_t kMostHeap = 256u << 20, kMostStack = 16u << 20;
constexpr std::size_t kRemembered = 10;  // import calls a failure names

// Host memory of the guest's, in whole pages that the kernel gives zero-filled when first touched.
class HostMemory {
 public:
  explicit HostMemory(std::uint32_t size) : size_(size) {
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw std::bad_alloc();
    memory_ = static_cast<std::byte*>(memory);
  }
  HostMemory(HostMemory&& other) noexcept : memory_(std::exchange(other.memory_, nullptr)), size_(other.size_) {}
  HostMemory(const HostMemory&) = delete;
  HostMemory& operator=(const HostMemory&) = delete;
  HostMemory& operator=(HostMemory&&) = delete;
  ~HostMemory() {
    if (memory_ != nullptr) munmap(memory_, size_);
  }
  std::byte* get() const { return memory_; }

 private:
  std::byte* memory_;
  std::uint32_t size_;
};

// A run of guest pages backed by host memory.
struct Region {
  std::uint32_t base, size;
  std::byte* host;
  std::uint32_t protection;
};

class Runner;

// The emulator with the guest's memory mapped, made for one program under one heap and stack
// size. The thread keeps it after a run that ended as it should, and the next run of the same
// program on it keeps the translation of the program's code, which is most of an emulated
// run's own cost. Every run starts from what a new one has: the image copied afresh, the stack
// and the heap zero-filled (their pages given back to the kernel after each run, which gives
// them zero-filled again), and the CPU as it was before its first run. Only the translation of
// read-only code survives: an engine on which code ran from anywhere else is not kept.
class Engine {
 public:
  Engine(const Program::Image& image, const Limits& limits)
      : program(image.serial), heapBytes(limits.heapBytes), stackBytes(limits.stackBytes) {
    if (uc_open(UC_ARCH_X86, UC_MODE_32, &uc) != UC_ERR_OK) throw std::runtime_error("Unicorn cannot be opened");
    // The model must be chosen before memory is mapped. It does not restrict the instructions
    // (the block check does): it only makes CPUID say 486.
    Check(uc_ctl_set_cpu_model(uc, UC_CPU_X86_486), "choosing the CPU");
    if (cs_open(CS_ARCH_X86, CS_MODE_32, &cs) != CS_ERR_OK) throw std::runtime_error("Capstone cannot be opened");
    cs_option(cs, CS_OPT_SYNTAX, CS_OPT_SYNTAX_ATT);
    insn = cs_malloc(cs);

    // The image's pages mapped by protection (Start copies the image in), the stack, the heap.
    image_ = Allocate(image.size);
    imageSize_ = image.size;
    for (std::uint32_t page = 0, end; page < image.pageProtection.size(); page = end) {
      for (end = page + 1; end < image.pageProtection.size() && image.pageProtection[end] == image.pageProtection[page];)
        ++end;
      if (image.pageProtection[page] != 0)
        Map(image.base + page * kPage, (end - page) * kPage, image_ + page * kPage, image.pageProtection[page]);
    }
    stack_ = Allocate(stackBytes);
    Map(kStackTop - stackBytes, stackBytes, stack_, UC_PROT_READ | UC_PROT_WRITE);
    heap = Allocate(heapBytes);
    Map(kHeapBase, heapBytes, heap, UC_PROT_READ | UC_PROT_WRITE);
    std::byte* slots = Allocate(kPage);
    std::memset(slots, 0xF4, kPage);  // HLT, never reached: each slot is an exit
    Map(kSlots, kPage, slots, UC_PROT_READ | UC_PROT_EXEC);

    uc_hook hook;
    Check(uc_hook_add(uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&OnSlot), this, kSlots, kSlots + kPage - 1),
          "hooking the import slots");
    Check(uc_hook_add(uc, &hook, UC_HOOK_BLOCK, reinterpret_cast<void*>(&OnBlock), this, 1, 0), "hooking blocks");
    Check(uc_hook_add(uc, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(&OnInterrupt), this, 1, 0), "hooking interrupts");
    Check(uc_hook_add(uc, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&OnBadAccess), this, 1, 0),
          "hooking faults");
    Check(uc_context_alloc(uc, &start_), "keeping the CPU's first state");
    Check(uc_context_save(uc, start_), "keeping the CPU's first state");
  }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  ~Engine() {
    if (start_ != nullptr) uc_context_free(start_);
    if (insn != nullptr) cs_free(insn, 1);
    if (cs != 0) cs_close(&cs);
    if (uc != nullptr) uc_close(uc);
  }

  bool Fits(const Program::Image& image, const Limits& limits) const {
    return program == image.serial && heapBytes == limits.heapBytes && stackBytes == limits.stackBytes;
  }

  // The guest as a run starts it: a fresh copy of the image with the import slots filled in, and
  // the CPU's first state. (The stack and the heap are zero-filled already.)
  void Start(const Program::Image& image) {
    std::memcpy(image_, image.bytes.data(), image.size);
    for (const Program::Image::Import& import : image.imports) {
      const std::uint32_t slot = kSlots + 8 * static_cast<std::uint32_t>(import.binding);
      std::memcpy(image_ + import.slot, &slot, 4);
    }
    Check(uc_context_restore(uc, start_), "restoring the CPU's first state");
  }

  // The image's, the stack's and the heap's pages given back: zero-filled when next touched.
  void Empty() {
    madvise(image_, imageSize_, MADV_DONTNEED);
    madvise(stack_, stackBytes, MADV_DONTNEED);
    madvise(heap, heapBytes, MADV_DONTNEED);
  }

  static void Check(uc_err err, const char* what) {
    if (err != UC_ERR_OK) throw std::runtime_error(std::string("Unicorn failed ") + what + ": " + uc_strerror(err));
  }

  const std::uint64_t program;  // the image's serial
  const std::uint32_t heapBytes, stackBytes;
  uc_engine* uc = nullptr;
  csh cs = 0;
  cs_insn* insn = nullptr;
  std::vector<Region> regions;
  std::byte* heap = nullptr;
  Runner* runner = nullptr;  // the run its hooks report to
  // Blocks of the program's read-only code found clean, in front of its table of them: a block
  // runs thousands of times in a run, and the table's lookup is the block hook's cost.
  static constexpr std::size_t kRecent = 4096;
  struct Recent {
    std::uint64_t key = 0;  // no block has key 0: nothing runs at address 0
    std::uint32_t instructions = 0;
  };
  std::array<Recent, kRecent> recent{};

 private:
  static void OnSlot(uc_engine* uc, std::uint64_t, std::uint32_t, void*);
  static void OnBlock(uc_engine*, std::uint64_t address, std::uint32_t size, void* self);
  static void OnInterrupt(uc_engine*, std::uint32_t number, void* self);
  static bool OnBadAccess(uc_engine*, uc_mem_type type, std::uint64_t address, int size, std::int64_t, void* self);

  std::byte* Allocate(std::uint32_t size) { return memory_.emplace_back(size).get(); }
  void Map(std::uint32_t base, std::uint32_t size, std::byte* host, std::uint32_t protection) {
    Check(uc_mem_map_ptr(uc, base, size, protection, host), "mapping guest memory");
    regions.push_back({base, size, host, protection});
  }

  std::vector<HostMemory> memory_;  // unmapped after uc_close, which the destructor's body runs first
  std::byte* image_ = nullptr;
  std::byte* stack_ = nullptr;
  std::uint32_t imageSize_ = 0;
  uc_context* start_ = nullptr;
};

class Runner final : public Guest {
 public:
  Runner(const Program::Image& image, Engine& engine, sim::Machine& machine, const Limits& limits)
      : image_(image), machine_(machine), limits_(limits), engine_(engine), uc_(engine.uc), cs_(engine.cs),
        insn_(engine.insn), regions_(engine.regions) {
    engine.Start(image);
    engine.runner = this;
    machine.heap.Reset(engine.heap, limits.heapBytes, kHeapBase);
  }
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;
  ~Runner() override { engine_.runner = nullptr; }

  // Whether code ran only from the image's read-only pages, whose translation a later run of the
  // same program may keep.
  bool RanOnlyReadOnlyCode() const { return blocks_.empty(); }

  int Run(Stats* stats, bool freshEngine) {
    stats_.freshEngine = freshEngine;
    std::uint32_t code = 0;
    try {
      // The entry point is called with nothing but a return address: STOP, which it must not reach.
      const std::uint32_t esp = kStackTop - 16;
      Write32(esp, kStop);
      Set(UC_X86_REG_ESP, esp);
      RunUntilStop(image_.entry);
      Raise("the program returned from its entry point instead of calling ExitProcess", kStop);
    } catch (const sim::ProcessExit& exit) {
      code = exit.code;
    }
    // What the program left open or allocated it would leak on every Windows run.
    const sim::Machine::OpenHandles open = machine_.CountOpenHandles();
    stats_.handlesLeftOpen = open.Total();
    stats_.heapBlocksLeft = machine_.heap.Blocks();
    if (stats != nullptr) *stats = stats_;
    if (limits_.requireBalance && (open.Total() != 0 || machine_.heap.Blocks() != 0))
      Raise("the program ended with " + std::to_string(open.keys) + " keys, " + std::to_string(open.searches) +
                " searches and " + std::to_string(open.files) + " files open and " +
                std::to_string(machine_.heap.Blocks()) + " heap blocks allocated",
            CallSite(lastReturn_));
    return static_cast<int>(code);
  }

  std::byte* Find(std::uint32_t address, std::uint32_t size, bool write) const override {
    const std::uint64_t end = std::uint64_t{address} + size;
    for (std::size_t i = 0; i < regions_.size(); ++i) {
      const Region& r = regions_[i];
      if (address < r.base || address - r.base >= r.size) continue;
      // A range may go on into the next region where the host memory goes on too (the image).
      for (std::size_t j = i;; ++j) {
        const Region& part = regions_[j];
        if (write && !(part.protection & UC_PROT_WRITE)) return nullptr;
        if (end <= std::uint64_t{part.base} + part.size) return r.host + (address - r.base);
        if (j + 1 == regions_.size() || regions_[j + 1].base != part.base + part.size ||
            regions_[j + 1].host != part.host + part.size)
          return nullptr;
      }
    }
    return nullptr;
  }

  std::uint32_t GuestOf(const void* host) const override {
    for (const Region& r : regions_) {
      const auto* at = static_cast<const std::byte*>(host);
      if (at >= r.host && at < r.host + r.size) return r.base + static_cast<std::uint32_t>(at - r.host);
    }
    return 0;
  }

  [[noreturn]] void Fail(const std::string& reason) override {
    Raise(reason + ", passed to " + (lastImports_.empty() ? "an import" : NameOf(*lastImports_.back())),
          CallSite(lastReturn_));
  }

  std::uint32_t CallProcedure(std::uint32_t proc, const std::uint32_t (&args)[4]) override {
    if (depth_ >= limits_.callbackDepth)
      Raise("dialog procedures called inside one another more than " + std::to_string(limits_.callbackDepth) +
                " deep",
            proc);
    static constexpr int kRegisters[] = {UC_X86_REG_EAX, UC_X86_REG_EBX, UC_X86_REG_ECX, UC_X86_REG_EDX,
                                         UC_X86_REG_ESI, UC_X86_REG_EDI, UC_X86_REG_EBP, UC_X86_REG_ESP,
                                         UC_X86_REG_EIP, UC_X86_REG_EFLAGS};
    std::uint32_t saved[std::size(kRegisters)];
    for (std::size_t i = 0; i < std::size(kRegisters); ++i) saved[i] = Get(kRegisters[i]);
    const std::uint32_t esp = saved[7];
    if (esp < kStackTop - limits_.stackBytes + 4096)
      Raise("the stack is exhausted before a dialog procedure call", proc);
    const std::uint32_t frame[5] = {kStop, args[0], args[1], args[2], args[3]};
    std::memcpy(Host(esp - 20, 20, true), frame, 20);
    Set(UC_X86_REG_ESP, esp - 20);
    ++stats_.callbacks;
    ++depth_;
    struct Leave {
      int& depth;
      ~Leave() { --depth; }
    } leave{depth_};
    RunUntilStop(proc);
    // A dialog procedure is stdcall: it pops its 16 bytes of arguments, and keeps EBX, ESI,
    // EDI and EBP.
    if (Get(UC_X86_REG_ESP) != esp)
      Raise("the dialog procedure at " + Hex(proc) + " returned with the stack off by " +
                std::to_string(static_cast<std::int32_t>(Get(UC_X86_REG_ESP) - esp)) + " bytes",
            proc);
    static constexpr std::pair<std::size_t, const char*> kKept[] = {{1, "EBX"}, {4, "ESI"}, {5, "EDI"}, {6, "EBP"}};
    for (const auto& [index, name] : kKept) {
      if (Get(kRegisters[index]) != saved[index])
        Raise("the dialog procedure at " + Hex(proc) + " did not keep " + name, proc);
    }
    const std::uint32_t result = Get(UC_X86_REG_EAX);
    for (std::size_t i = 0; i < std::size(kRegisters); ++i) Set(kRegisters[i], saved[i]);
    return result;
  }

 private:
  friend class Engine;  // its hooks call the run's

  std::uint32_t Get(int reg) {
    std::uint32_t value = 0;
    uc_reg_read(uc_, reg, &value);
    return value;
  }
  void Set(int reg, std::uint32_t value) { uc_reg_write(uc_, reg, &value); }
  void Write32(std::uint32_t address, std::uint32_t value) { std::memcpy(Host(address, 4, true), &value, 4); }

  // The instruction at address, as Capstone writes it in AT&T syntax; its first bytes where they
  // are none; "" where no memory is.
  std::string InstructionAt(std::uint32_t address) {
    std::uint8_t bytes[16];
    std::size_t size = sizeof bytes;
    while (size > 0 && uc_mem_read(uc_, address, bytes, size) != UC_ERR_OK) --size;
    const std::uint8_t* code = bytes;
    std::uint64_t at = address;
    if (size == 0) return {};
    const std::size_t read = size;
    if (!cs_disasm_iter(cs_, &code, &size, &at, insn_)) {
      std::string text = "(bytes";
      char hex[4];
      for (std::size_t i = 0; i < std::min<std::size_t>(read, 4); ++i) {
        std::snprintf(hex, sizeof hex, " %02x", bytes[i]);
        text += hex;
      }
      return text + ")";
    }
    return std::string(insn_->mnemonic) + (insn_->op_str[0] ? " " : "") + insn_->op_str;
  }

  // The call that returns to address, just before it: CALL *[slot] (FF 15), CALL rel32 (E8) or
  // CALL *reg (FF D0+r); the address itself where none is.
  std::uint32_t CallSite(std::uint32_t returnAddress) {
    std::uint8_t bytes[6];
    if (returnAddress < 6 || uc_mem_read(uc_, returnAddress - 6, bytes, 6) != UC_ERR_OK) return returnAddress;
    if (bytes[0] == 0xFF && bytes[1] == 0x15) return returnAddress - 6;
    if (bytes[1] == 0xE8) return returnAddress - 5;
    if (bytes[4] == 0xFF && (bytes[5] & 0xF8) == 0xD0) return returnAddress - 2;
    return returnAddress;
  }

  static std::string NameOf(const Binding& binding) { return std::string(binding.dll) + "!" + binding.function; }

  [[noreturn]] void Raise(const std::string& reason, std::uint32_t address) {
    std::vector<std::string> last;
    for (const Binding* binding : lastImports_) last.push_back(NameOf(*binding));
    throw GuestFailure(reason, address, InstructionAt(address), std::move(last));
  }

  // Runs the guest from pc until it returns to STOP, answering every import on the way.
  void RunUntilStop(std::uint32_t pc) {
    for (;;) {
      const uc_err err = uc_emu_start(uc_, pc, 0, 0, 0);
      const std::uint32_t eip = Get(UC_X86_REG_EIP);
      if (stop_) {
        Stop stop = std::move(*stop_);
        stop_.reset();
        Raise(stop.reason, stop.address);
      }
      if (err == UC_ERR_INSN_INVALID) Raise("an invalid instruction", eip);
      if (err != UC_ERR_OK) Raise(std::string("a fault: ") + uc_strerror(err), eip);
      if (eip == kStop) return;
      const std::uint32_t slot = (eip - kSlots) / 8;
      if (eip < kSlots || (eip - kSlots) % 8 != 0 || slot >= Bindings().size())
        Raise("the emulator stopped where no import slot is", eip);
      pc = Answer(Bindings()[slot]);
    }
  }

  // An import: its arguments from the stack, the simulated function's result in EAX, the
  // arguments and the return address popped; the address to go on at.
  std::uint32_t Answer(const Binding& binding) {
    const std::uint32_t esp = Get(UC_X86_REG_ESP);
    std::uint32_t frame[1 + 8];
    std::memcpy(frame, Host(esp, 4 + binding.argBytes, false), 4 + binding.argBytes);
    lastReturn_ = frame[0];
    if (lastImports_.size() == kRemembered) lastImports_.pop_front();
    lastImports_.push_back(&binding);
    ++stats_.importCalls;
    const std::uint32_t result = binding.call(*this, frame + 1);
    if (Get(UC_X86_REG_ESP) != esp) Raise("the stack moved while an import was answered", frame[0]);
    const std::uint32_t code = frame[0] - image_.base;
    if (frame[0] < image_.base || code >= image_.size || !(image_.pageProtection[code / kPage] & UC_PROT_EXEC))
      Raise(NameOf(binding) + " returns to " + Hex(frame[0]) + ", outside the program's code", frame[0]);
    Set(UC_X86_REG_EAX, result);
    Set(UC_X86_REG_ESP, esp + 4 + binding.argBytes);
    return frame[0];
  }

  // ---- Hooks: each notes why the guest must stop and stops the emulator; the loop throws.
  // The slots' page stops the emulator before its instruction (a HLT) runs; the loop takes over.
  static void OnSlot(uc_engine* uc, std::uint64_t, std::uint32_t, void*) { uc_emu_stop(uc); }

  void StopAt(std::string reason, std::uint32_t address) {
    if (!stop_) stop_ = Stop{std::move(reason), address};
    uc_emu_stop(uc_);
  }

  // Each new block is read once: its instructions counted and checked against an 80386's. A
  // block of the image's read-only code found clean is not read again in a later run of the
  // same program; one in writable memory is read again in each run.
  static void OnBlock(uc_engine*, std::uint64_t address, std::uint32_t size, void* self) {
    auto& runner = *static_cast<Runner*>(self);
    if (address >= kSlots) return;  // a slot: nothing of it runs
    const std::uint64_t key = address << 20 | (size & 0xFFFFF);
    std::uint32_t instructions = 0;
    Engine::Recent& recent = runner.engine_.recent[(address ^ address >> 12 ^ size) % Engine::kRecent];
    if (recent.key == key) {
      instructions = recent.instructions;
    } else if (auto kept = runner.image_.checkedBlocks.find(key); kept != runner.image_.checkedBlocks.end()) {
      instructions = kept->second;
      recent = {key, instructions};
    } else if (auto seen = runner.blocks_.find(key); seen != runner.blocks_.end()) {
      instructions = seen->second;
    } else {
      instructions = runner.CheckBlock(static_cast<std::uint32_t>(address), size);
      if (runner.ReadOnlyImage(static_cast<std::uint32_t>(address), size) && !runner.stop_) {
        runner.image_.checkedBlocks.emplace(key, instructions);
        recent = {key, instructions};
      } else {
        runner.blocks_.emplace(key, instructions);
      }
    }
    runner.stats_.instructions += instructions;
    ++runner.stats_.blocksChecked;
    if (runner.stats_.instructions > runner.limits_.instructions)
      runner.StopAt("past the budget of " + std::to_string(runner.limits_.instructions) + " instructions",
                    static_cast<std::uint32_t>(address));
  }

  bool ReadOnlyImage(std::uint32_t address, std::uint32_t size) const {
    if (address < image_.base || address - image_.base >= image_.size || size > image_.size - (address - image_.base))
      return false;
    for (std::uint32_t page = (address - image_.base) / kPage; page <= (address - image_.base + size - 1) / kPage; ++page)
      if (image_.pageProtection[page] & UC_PROT_WRITE) return false;
    return true;
  }

  std::uint32_t CheckBlock(std::uint32_t address, std::uint32_t size) {
    std::vector<std::uint8_t> bytes(size);
    if (uc_mem_read(uc_, address, bytes.data(), size) != UC_ERR_OK) return 0;  // the fetch faults
    const std::uint8_t* code = bytes.data();
    std::size_t left = size;
    std::uint64_t at = address;
    std::uint32_t count = 0;
    while (left > 0) {
      if (!cs_disasm_iter(cs_, &code, &left, &at, insn_)) {
        StopAt("an invalid instruction (bytes that do not decode)", static_cast<std::uint32_t>(at));
        return count;
      }
      ++count;
      text_.assign(insn_->mnemonic).append(" ").append(insn_->op_str);
      if (const char* feature = pecheck::Non386Feature(text_)) {
        StopAt(std::string("an instruction that an 80386 lacks (") + feature + ")",
               static_cast<std::uint32_t>(insn_->address));
        return count;
      }
    }
    return count;
  }

  static void OnInterrupt(uc_engine*, std::uint32_t number, void* self) {
    auto& runner = *static_cast<Runner*>(self);
    runner.StopAt("interrupt " + std::to_string(number), runner.Get(UC_X86_REG_EIP));
  }

  static bool OnBadAccess(uc_engine*, uc_mem_type type, std::uint64_t address, int size, std::int64_t, void* self) {
    auto& runner = *static_cast<Runner*>(self);
    const char* what = "accessing";
    switch (type) {
      case UC_MEM_READ_UNMAPPED: what = "reading unmapped memory"; break;
      case UC_MEM_WRITE_UNMAPPED: what = "writing unmapped memory"; break;
      case UC_MEM_FETCH_UNMAPPED: what = "running unmapped memory"; break;
      case UC_MEM_READ_PROT: what = "reading protected memory"; break;
      case UC_MEM_WRITE_PROT: what = "writing read-only memory"; break;
      case UC_MEM_FETCH_PROT: what = "running memory that is not code"; break;
      default: break;
    }
    const bool fetch = type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT;
    runner.StopAt(std::string("a fault: ") + what + " (" + std::to_string(size) + " bytes at " +
                      Hex(static_cast<std::uint32_t>(address)) + ")",
                  fetch ? static_cast<std::uint32_t>(address) : runner.Get(UC_X86_REG_EIP));
    return false;
  }

  struct Stop {
    std::string reason;
    std::uint32_t address;
  };

  const Program::Image& image_;
  sim::Machine& machine_;
  const Limits limits_;
  Engine& engine_;
  uc_engine* const uc_;
  const csh cs_;
  cs_insn* const insn_;
  const std::vector<Region>& regions_;
  std::optional<Stop> stop_;
  std::unordered_map<std::uint64_t, std::uint32_t> blocks_;  // (address, size) -> instructions
  std::string text_;                                         // an instruction, for the check
  std::deque<const Binding*> lastImports_;  // the last kRemembered, oldest first
  std::uint32_t lastReturn_ = 0;
  int depth_ = 0;
  Stats stats_;
};

void Engine::OnSlot(uc_engine* uc, std::uint64_t address, std::uint32_t size, void* self) {
  Runner::OnSlot(uc, address, size, static_cast<Engine*>(self)->runner);
}
void Engine::OnBlock(uc_engine* uc, std::uint64_t address, std::uint32_t size, void* self) {
  Runner::OnBlock(uc, address, size, static_cast<Engine*>(self)->runner);
}
void Engine::OnInterrupt(uc_engine* uc, std::uint32_t number, void* self) {
  Runner::OnInterrupt(uc, number, static_cast<Engine*>(self)->runner);
}
bool Engine::OnBadAccess(uc_engine* uc, uc_mem_type type, std::uint64_t address, int size, std::int64_t value,
                         void* self) {
  return Runner::OnBadAccess(uc, type, address, size, value, static_cast<Engine*>(self)->runner);
}

// The engine the thread keeps between runs (see Engine).
thread_local std::unique_ptr<Engine> t_kept;

}  // namespace

void DropKeptEmulator() { t_kept.reset(); }

int Run(const Program& program, sim::Machine& machine, sim::User& user, const Limits& limits, Stats* stats) {
  sim::Activation active(machine);
  sim::Ui& ui = machine.ui();
  // However the run ends, the machine keeps nothing of it: not the user, the procedure caller,
  // nor a heap in guest memory that is about to be freed.
  struct Restore {
    sim::Machine& machine;
    sim::User* user;
    ~Restore() {
      machine.ui().callProc = nullptr;
      machine.ui().SetUser(user);
      machine.heap.Clear();
    }
  } restore{machine, ui.GetUser()};
  const Program::Image& image = program.image();
  if (limits.heapBytes < kPage || limits.heapBytes > kMostHeap || limits.stackBytes < kPage ||
      limits.stackBytes > kMostStack)
    throw std::invalid_argument("emu::Limits: a heap or stack the runner cannot map");
  // The kept engine is taken, so that a run that ends in a failure leaves none behind.
  std::unique_ptr<Engine> engine = std::move(t_kept);
  const bool fresh = !engine || !engine->Fits(image, limits);
  if (fresh) {
    engine.reset();
    engine = std::make_unique<Engine>(image, limits);
  }
  Runner runner(image, *engine, machine, limits);
  ui.SetUser(&user);
  ui.callProc = [&runner](DLGPROC proc, HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
    std::uint32_t l = static_cast<std::uint32_t>(lParam);
    // The texts of WM_SETTEXT and WM_GETTEXT are in guest memory, where the binding found them.
    if ((message == WM_SETTEXT || message == WM_GETTEXT) && lParam != 0) {
      l = runner.GuestOf(reinterpret_cast<const void*>(lParam));
      if (l == 0) runner.Fail("a text outside guest memory for a dialog procedure");
    }
    const std::uint32_t args[4] = {static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(dialog)), message,
                                   static_cast<std::uint32_t>(wParam), l};
    const std::uint32_t proc32 = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(proc));
    return static_cast<std::int32_t>(runner.CallProcedure(proc32, args));
  };
  ui.LoadModule(program.Dialogs());
  const int code = runner.Run(stats, fresh);
  engine->Empty();
  if (runner.RanOnlyReadOnlyCode()) t_kept = std::move(engine);
  return code;
}

}  // namespace emu
