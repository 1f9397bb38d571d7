// The process heap of a simulated machine (GetProcessHeap, HeapAlloc, HeapReAlloc, HeapFree): a
// fixed arena of bytes that hands out addresses base + offset. By default the arena is the
// heap's own host memory and its base is that memory's address, so that a block's address is a
// pointer the host can use; a caller that runs the program elsewhere (an emulated CPU) supplies
// the arena and the address the program sees it at. Past the arena an allocation fails, as on a
// machine whose memory is full.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>

namespace sim {

class Heap {
 public:
  static constexpr std::size_t kDefaultSize = std::size_t(1) << 20;  // the host arena: 1 MiB
  static constexpr std::size_t kAlignment = 8;                       // of every block, as Windows aligns them
  static constexpr std::size_t kHeader = 16;  // the arena's first bytes: the heap's handle points there

  Heap() = default;
  Heap(const Heap&) = delete;
  Heap& operator=(const Heap&) = delete;

  // The caller's arena, seen by the program at base (both aligned to 8 bytes, size at least
  // kHeader): every block of the previous arena is forgotten. The memory must outlive the heap's
  // use of it; the heap writes into it only to zero-fill and to copy.
  void Reset(std::byte* memory, std::size_t size, std::uintptr_t base);
  // A host arena of its own of that size, its base its address; every block is forgotten.
  void Reset(std::size_t size = kDefaultSize);
  // No arena, as a new heap has: every block is forgotten, and the next use makes the host arena
  // of kDefaultSize. Cheaper than Reset() where the heap may never be used again.
  void Clear();

  // What GetProcessHeap returns: the arena's base, as Windows gives the address of its heap.
  // Without an arena yet, the host arena of kDefaultSize is made.
  std::uintptr_t Handle();
  // The address of a new block of size bytes (zero-filled if asked), or 0 when no free run of
  // the arena holds it.
  std::uintptr_t Allocate(std::size_t size, bool zero);
  // The block at address made size bytes long: in place where the bytes after it are free, else
  // moved (its bytes copied, the old block freed); added bytes zero-filled if asked. 0 when the
  // address is not a live block or no room is found (inPlaceOnly: none after it); the block then
  // stays as it was.
  std::uintptr_t Reallocate(std::uintptr_t address, std::size_t size, bool zero, bool inPlaceOnly = false);
  // Free: false unless address is a live block. SizeOf: the size asked for, nullopt unless live.
  bool Free(std::uintptr_t address);
  std::optional<std::size_t> SizeOf(std::uintptr_t address) const;

  // For a balance check at the end of a run.
  std::size_t Blocks() const { return blocks_.size(); }
  std::size_t BytesInUse() const { return bytesInUse_; }  // the sizes asked for

  std::uintptr_t Base() const { return base_; }
  std::size_t Size() const { return size_; }
  // The host memory behind an address of the arena, or nullptr outside it.
  std::byte* HostOf(std::uintptr_t address) const;

 private:
  std::uintptr_t Place(std::size_t room) const;  // an offset of a free run of that room, or 0

  std::unique_ptr<std::byte[]> own_;  // the host arena, when the heap has its own
  std::byte* memory_ = nullptr;
  std::size_t size_ = 0;
  std::uintptr_t base_ = 0;
  struct Block {
    std::size_t size;  // asked for
    std::size_t room;  // taken from the arena: the size rounded up to the alignment, 8 at least
  };
  std::map<std::uintptr_t, Block> blocks_;  // by offset in the arena
  std::size_t bytesInUse_ = 0;
};

}  // namespace sim
