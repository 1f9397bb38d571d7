// The process heap's arena: blocks by offset, placed first-fit in the gaps between them. A
// program makes a few dozen blocks, so a walk over them per allocation costs nothing.
#include "sim/heap.h"

#include <algorithm>
#include <cstring>

#include "sim/errors.h"

namespace sim {
namespace {

std::size_t RoomFor(std::size_t size) {
  const std::size_t room = (std::max<std::size_t>(size, 1) + Heap::kAlignment - 1) & ~(Heap::kAlignment - 1);
  return room < size ? 0 : room;  // 0: a size so large that rounding it up wrapped around
}

}  // namespace

void Heap::Reset(std::byte* memory, std::size_t size, std::uintptr_t base) {
  if (memory == nullptr || size < kHeader || base % kAlignment != 0 ||
      reinterpret_cast<std::uintptr_t>(memory) % kAlignment != 0 || base + size < base)
    throw Unmodelled("Heap::Reset: an arena must be aligned to 8 bytes, hold the heap's header and not wrap around");
  own_.reset();
  memory_ = memory;
  size_ = size;
  base_ = base;
  blocks_.clear();
  bytesInUse_ = 0;
}

void Heap::Reset(std::size_t size) {
  auto own = std::make_unique<std::byte[]>(std::max(size, kHeader));
  std::byte* memory = own.get();
  Reset(memory, std::max(size, kHeader), reinterpret_cast<std::uintptr_t>(memory));
  own_ = std::move(own);
}

void Heap::Clear() {
  own_.reset();
  memory_ = nullptr;
  size_ = 0;
  base_ = 0;
  blocks_.clear();
  bytesInUse_ = 0;
}

std::uintptr_t Heap::Handle() {
  if (memory_ == nullptr) Reset();
  return base_;
}

std::uintptr_t Heap::Place(std::size_t room) const {
  std::size_t free = kHeader;  // the first offset after the last block seen
  for (const auto& [offset, block] : blocks_) {
    if (offset - free >= room) return free;
    free = offset + block.room;
  }
  return size_ - free >= room ? free : 0;
}

std::uintptr_t Heap::Allocate(std::size_t size, bool zero) {
  if (memory_ == nullptr) Reset();
  const std::size_t room = RoomFor(size);
  if (room == 0 || room > size_) return 0;
  const std::uintptr_t offset = Place(room);
  if (offset == 0) return 0;
  blocks_[offset] = {size, room};
  bytesInUse_ += size;
  if (zero) std::memset(memory_ + offset, 0, size);
  return base_ + offset;
}

std::uintptr_t Heap::Reallocate(std::uintptr_t address, std::size_t size, bool zero, bool inPlaceOnly) {
  if (memory_ == nullptr || address < base_) return 0;
  const auto found = blocks_.find(address - base_);
  if (found == blocks_.end()) return 0;
  const std::uintptr_t offset = found->first;
  const std::size_t oldSize = found->second.size;
  const std::size_t room = RoomFor(size);
  if (room == 0 || room > size_) return 0;
  // In place: the block's own room, or that and the gap up to the next block (or the arena's end).
  const auto next = std::next(found);
  const std::size_t roomHere = (next == blocks_.end() ? size_ : next->first) - offset;
  if (room <= roomHere) {
    found->second = {size, room};
    bytesInUse_ = bytesInUse_ - oldSize + size;
    if (zero && size > oldSize) std::memset(memory_ + offset + oldSize, 0, size - oldSize);
    return address;
  }
  if (inPlaceOnly) return 0;
  const std::uintptr_t moved = Allocate(size, false);
  if (moved == 0) return 0;
  std::memcpy(memory_ + (moved - base_), memory_ + offset, oldSize);
  if (zero) std::memset(memory_ + (moved - base_) + oldSize, 0, size - oldSize);
  Free(address);
  return moved;
}

bool Heap::Free(std::uintptr_t address) {
  if (memory_ == nullptr || address < base_) return false;
  const auto found = blocks_.find(address - base_);
  if (found == blocks_.end()) return false;
  bytesInUse_ -= found->second.size;
  blocks_.erase(found);
  return true;
}

std::optional<std::size_t> Heap::SizeOf(std::uintptr_t address) const {
  if (memory_ == nullptr || address < base_) return std::nullopt;
  const auto found = blocks_.find(address - base_);
  if (found == blocks_.end()) return std::nullopt;
  return found->second.size;
}

std::byte* Heap::HostOf(std::uintptr_t address) const {
  if (memory_ == nullptr || address < base_ || address - base_ >= size_) return nullptr;
  return memory_ + (address - base_);
}

}  // namespace sim
