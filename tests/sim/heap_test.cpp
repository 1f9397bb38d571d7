// The process heap: a bounded arena at the base the caller gives (as an emulated program sees its
// memory), zero-filled blocks, HeapReAlloc's copy, frees of what is not a block, the balance at
// the end, the host arena by default, and the injected faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "sim/machine.h"
#include "win32.h"

namespace {

constexpr std::uintptr_t kBase = 0x00800000;  // where a program would see the arena

class HeapTest : public ::testing::Test {
 protected:
  sim::Machine machine;
  sim::Activation active{machine};
  alignas(8) std::array<std::byte, 256> arena;
  HANDLE heap = nullptr;
  void SetUp() override {
    arena.fill(std::byte{0xCC});
    machine.heap.Reset(arena.data(), arena.size(), kBase);
    heap = GetProcessHeap();
  }
  // The arena's bytes at a block's address, as the program would see them.
  std::string At(LPVOID block, std::size_t size) {
    const std::byte* host = machine.heap.HostOf(reinterpret_cast<std::uintptr_t>(block));
    return host == nullptr ? "<outside>" : std::string(reinterpret_cast<const char*>(host), size);
  }
  void Put(LPVOID block, const std::string& bytes) {
    std::memcpy(machine.heap.HostOf(reinterpret_cast<std::uintptr_t>(block)), bytes.data(), bytes.size());
  }
  static std::uintptr_t Address(LPVOID block) { return reinterpret_cast<std::uintptr_t>(block); }
};

TEST_F(HeapTest, HandsOutAddressesInTheArenaUntilItIsFull) {
  EXPECT_EQ(Address(heap), kBase);
  // Blocks come after the heap's header, each aligned to 8 bytes.
  LPVOID a = HeapAlloc(heap, 0, 100);
  LPVOID b = HeapAlloc(heap, 0, 100);
  EXPECT_EQ(Address(a), kBase + 16);
  EXPECT_EQ(Address(b), kBase + 16 + 104);
  EXPECT_EQ(HeapAlloc(heap, 0, 100), nullptr) << "past the arena, as on a full machine";
  EXPECT_EQ(HeapAlloc(heap, 0, static_cast<SIZE_T>(-1)), nullptr);
  LPVOID small = HeapAlloc(heap, 0, 0);  // a block of nothing is still a block of its own
  EXPECT_EQ(Address(small), kBase + 224);
  // A freed block's room is used again, first fit.
  EXPECT_TRUE(HeapFree(heap, 0, a));
  EXPECT_EQ(Address(HeapAlloc(heap, 0, 40)), kBase + 16);
  EXPECT_EQ(Address(HeapAlloc(heap, 0, 56)), kBase + 56);
  EXPECT_EQ(machine.heap.Blocks(), 4u);
  EXPECT_EQ(machine.heap.BytesInUse(), 100u + 0 + 40 + 56);
  EXPECT_EQ(std::count(arena.begin(), arena.end(), std::byte{0xCC}), 256) << "HeapAlloc without flags writes nothing";
}

TEST_F(HeapTest, ZeroFillsWhenAsked) {
  LPVOID zeroed = HeapAlloc(heap, HEAP_ZERO_MEMORY, 20);
  EXPECT_EQ(At(zeroed, 20), std::string(20, '\0'));
  EXPECT_EQ(At(reinterpret_cast<LPVOID>(Address(zeroed) + 20), 4), "\xCC\xCC\xCC\xCC") << "nothing past the block";
  LPVOID plain = HeapAlloc(heap, 0, 8);
  EXPECT_EQ(At(plain, 8), std::string(8, '\xCC'));
}

TEST_F(HeapTest, ReAllocKeepsTheBytesInPlaceOrCopied) {
  LPVOID a = HeapAlloc(heap, 0, 16);
  Put(a, "0123456789abcdef");
  LPVOID b = HeapAlloc(heap, 0, 8);
  // Shrunk or grown within its room: in place.
  EXPECT_EQ(HeapReAlloc(heap, 0, a, 10), a);
  EXPECT_EQ(HeapReAlloc(heap, HEAP_ZERO_MEMORY, a, 16), a);
  EXPECT_EQ(At(a, 16), std::string("0123456789\0\0\0\0\0\0", 16)) << "the bytes it gave up come back zeroed";
  // Grown past the next block: only in place is refused; else moved, the bytes copied.
  EXPECT_EQ(HeapReAlloc(heap, HEAP_REALLOC_IN_PLACE_ONLY, a, 40), nullptr);
  EXPECT_EQ(machine.heap.SizeOf(Address(a)), 16u);
  LPVOID moved = HeapReAlloc(heap, HEAP_ZERO_MEMORY, a, 40);
  ASSERT_NE(moved, nullptr);
  EXPECT_NE(moved, a);
  EXPECT_EQ(At(moved, 40), std::string("0123456789\0\0\0\0\0\0", 16) + std::string(24, '\0'));
  EXPECT_FALSE(machine.heap.SizeOf(Address(a))) << "the old block is freed";
  // The last block grows into the free run after it.
  EXPECT_EQ(HeapReAlloc(heap, 0, moved, 100), moved);
  // Too big for the arena: NULL, and the block stays.
  EXPECT_EQ(HeapReAlloc(heap, 0, b, 1000), nullptr);
  EXPECT_EQ(machine.heap.SizeOf(Address(b)), 8u);
  // Only a live block can be reallocated.
  EXPECT_EQ(HeapReAlloc(heap, 0, a, 8), nullptr);
  EXPECT_EQ(HeapReAlloc(heap, 0, nullptr, 8), nullptr);
}

TEST_F(HeapTest, FreeRefusesWhatIsNotABlock) {
  LPVOID block = HeapAlloc(heap, 0, 24);
  const std::vector<std::pair<const char*, std::pair<HANDLE, LPVOID>>> foreign = {
      {"inside a block", {heap, reinterpret_cast<LPVOID>(Address(block) + 8)}},
      {"the heap's header", {heap, heap}},
      {"outside the arena", {heap, reinterpret_cast<LPVOID>(kBase + 4096)}},
      {"another heap", {reinterpret_cast<HANDLE>(kBase + 8), block}},
  };
  for (const auto& [what, call] : foreign) {
    SCOPED_TRACE(what);
    machine.lastError = 0;
    EXPECT_FALSE(HeapFree(call.first, 0, call.second));
    EXPECT_NE(machine.lastError, 0u);
    EXPECT_EQ(machine.heap.Blocks(), 1u);
  }
  EXPECT_TRUE(HeapFree(heap, 0, nullptr)) << "freeing nothing succeeds";
  EXPECT_TRUE(HeapFree(heap, 0, block));
  EXPECT_FALSE(HeapFree(heap, 0, block)) << "a second free of a block is foreign too";
  EXPECT_EQ(machine.lastError, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(HeapAlloc(reinterpret_cast<HANDLE>(kBase + 8), 0, 8), nullptr) << "nor does another heap allocate";
  EXPECT_EQ(machine.heap.Blocks(), 0u);
  EXPECT_EQ(machine.heap.BytesInUse(), 0u);
}

TEST_F(HeapTest, InjectedFaultsFailAndChangeNothing) {
  LPVOID block = HeapAlloc(heap, 0, 24);
  machine.faults().FailAll("HeapAlloc");
  machine.faults().FailAll("HeapReAlloc");
  machine.faults().FailAll("HeapFree");
  machine.faults().FailAll("GetProcessHeap");
  EXPECT_EQ(HeapAlloc(heap, 0, 8), nullptr);
  EXPECT_EQ(HeapReAlloc(heap, 0, block, 8), nullptr);
  EXPECT_FALSE(HeapFree(heap, 0, block));
  EXPECT_EQ(GetProcessHeap(), nullptr);
  EXPECT_EQ(machine.heap.Blocks(), 1u);
  EXPECT_EQ(machine.heap.SizeOf(Address(block)), 24u);
  machine.faults().Clear();
  EXPECT_TRUE(HeapFree(heap, 0, block));
  std::vector<std::string> calls;
  for (const sim::Call& call : machine.trace().Calls()) calls.push_back(call.ToString());
  EXPECT_EQ(calls, (std::vector<std::string>{"GetProcessHeap() = heap", "HeapAlloc(heap, 0x00000000, 24) = heap+16",
                                             "HeapAlloc(heap, 0x00000000, 8) = NULL",
                                             "HeapReAlloc(heap, 0x00000000, heap+16, 8) = NULL",
                                             "HeapFree(heap, 0x00000000, heap+16) = 0", "GetProcessHeap() = NULL",
                                             "HeapFree(heap, 0x00000000, heap+16) = 1"}));
}

// Without an arena of its own, a machine's heap is host memory the host code can write to.
TEST(HostHeap, IsUsableMemoryBoundedByItsSize) {
  sim::Machine machine;
  sim::Activation active(machine);
  HANDLE heap = GetProcessHeap();
  auto* text = static_cast<char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 32));
  ASSERT_NE(text, nullptr);
  std::strcpy(text, "ZANTEROVA");
  text = static_cast<char*>(HeapReAlloc(heap, 0, text, 4096));
  EXPECT_STREQ(text, "ZANTEROVA");
  EXPECT_EQ(HeapAlloc(heap, 0, sim::Heap::kDefaultSize), nullptr);
  EXPECT_TRUE(HeapFree(heap, 0, text));
  EXPECT_EQ(machine.heap.Blocks(), 0u);
  // A snapshot has a heap of its own.
  EXPECT_NE(HeapAlloc(heap, 0, 8), nullptr);
  sim::Machine copy(machine);
  EXPECT_EQ(copy.heap.Blocks(), 0u);
  // Cleared, the heap forgets its blocks and its arena, and its next use makes the arena again.
  machine.heap.Clear();
  EXPECT_EQ(machine.heap.Blocks(), 0u);
  EXPECT_EQ(machine.heap.Size(), 0u);
  EXPECT_NE(HeapAlloc(GetProcessHeap(), 0, 8), nullptr);
  EXPECT_EQ(machine.heap.Size(), sim::Heap::kDefaultSize);
  EXPECT_EQ(machine.heap.Blocks(), 1u);
}

}  // namespace
