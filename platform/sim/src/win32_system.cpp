// KERNEL32's version, directory, last-error, process-heap and process calls on the simulated machine.
#include <string>

#include "internal.h"

using sim::TracedCall;
using sim::Unmodelled;

namespace {

// The service-pack text that each release reports in szCSDVersion.
const char* CsdVersion(std::uint32_t build) {
  switch (build & 0xFFFF) {
    case 1111: return " B";  // Windows 95 OSR2
    case 2222: return " A";  // Windows 98 Second Edition
    default: return "";
  }
}

// Windows semantics of the directory calls: the length without the NUL when the path fits, else
// the size needed including the NUL, with the buffer left as it was.
UINT CopyDirectory(const char* op, const std::string& path, LPSTR buffer, UINT size) {
  TracedCall call(op, {buffer == nullptr ? "NULL" : "buffer", std::to_string(size)});
  if (call.Fails()) {
    call.machine().lastError = ERROR_ACCESS_DENIED;
    return call.Return<UINT>(0);
  }
  if (buffer == nullptr && size != 0)
    throw Unmodelled(std::string(op) + ": a NULL buffer with a size of " + std::to_string(size));
  UINT length = static_cast<UINT>(path.size());
  if (length + 1 > size) return call.Return<UINT>(length + 1);
  std::memcpy(buffer, path.c_str(), length + 1);
  return call.Return<UINT>(length);
}

}  // namespace

DWORD WINAPI GetLastError(void) {
  // Never fails: an injected fault for it is ignored.
  TracedCall call("GetLastError", {});
  return call.Return<DWORD>(call.machine().lastError);
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  if (info == nullptr) throw Unmodelled("GetVersionExA: a NULL record");
  TracedCall call("GetVersionExA", {std::to_string(info->dwOSVersionInfoSize)});
  sim::Machine& machine = call.machine();
  if (call.Fails()) {
    machine.lastError = ERROR_ACCESS_DENIED;
    return call.Return<BOOL>(FALSE);
  }
  if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
    machine.lastError = ERROR_INSUFFICIENT_BUFFER;
    return call.Return<BOOL>(FALSE);
  }
  std::uint32_t build = machine.buildNumber;
  info->dwMajorVersion = (build >> 24) & 0xFF;
  info->dwMinorVersion = (build >> 16) & 0xFF;
  info->dwBuildNumber = build;  // all 32 bits: Windows 95/98 keep major.minor in the high word
  info->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  std::strcpy(info->szCSDVersion, CsdVersion(build));
  return call.Return<BOOL>(TRUE);
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  return CopyDirectory("GetSystemDirectoryA", sim::Current().systemDirectory, buffer, size);
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  return CopyDirectory("GetWindowsDirectoryA", sim::Current().windowsDirectory, buffer, size);
}

// ---- The process heap: the machine's (sim/heap.h), in whatever memory the caller gave it. A
// block's address is base + offset: the heap writes through its own view of the memory, never
// through the address. Windows leaves the last error alone when an allocation fails.

namespace {

std::string BlockName(sim::Heap& heap, const void* block) {
  if (block == nullptr) return "NULL";
  const auto address = reinterpret_cast<std::uintptr_t>(block);
  if (heap.HostOf(address) == nullptr) return sim::HandleName(block);
  return "heap+" + std::to_string(address - heap.Base());
}

std::string HeapName(sim::Heap& heap, HANDLE handle) {
  return reinterpret_cast<std::uintptr_t>(handle) == heap.Handle() ? "heap" : sim::HandleName(handle);
}

bool IsProcessHeap(sim::Heap& heap, HANDLE handle) { return reinterpret_cast<std::uintptr_t>(handle) == heap.Handle(); }

void CheckHeapFlags(DWORD flags, DWORD allowed, const char* op) {
  if (flags & ~allowed) throw Unmodelled(std::string(op) + ": the flags " + sim::Hex(flags) + " are not modelled");
}

}  // namespace

HANDLE WINAPI GetProcessHeap(void) {
  TracedCall call("GetProcessHeap", {});
  if (call.Fails()) {
    call.Done("NULL");
    return nullptr;
  }
  call.Done("heap");
  return reinterpret_cast<HANDLE>(call.machine().heap.Handle());
}

LPVOID WINAPI HeapAlloc(HANDLE heapHandle, DWORD flags, SIZE_T size) {
  sim::Heap& heap = sim::Current().heap;
  TracedCall call("HeapAlloc", {HeapName(heap, heapHandle), sim::Hex(flags), std::to_string(size)});
  CheckHeapFlags(flags, HEAP_NO_SERIALIZE | HEAP_ZERO_MEMORY, "HeapAlloc");
  std::uintptr_t block = 0;
  if (!call.Fails() && IsProcessHeap(heap, heapHandle)) block = heap.Allocate(size, (flags & HEAP_ZERO_MEMORY) != 0);
  auto* result = reinterpret_cast<LPVOID>(block);
  call.Done(BlockName(heap, result));
  return result;
}

LPVOID WINAPI HeapReAlloc(HANDLE heapHandle, DWORD flags, LPVOID block, SIZE_T size) {
  sim::Heap& heap = sim::Current().heap;
  TracedCall call("HeapReAlloc",
                  {HeapName(heap, heapHandle), sim::Hex(flags), BlockName(heap, block), std::to_string(size)});
  CheckHeapFlags(flags, HEAP_NO_SERIALIZE | HEAP_ZERO_MEMORY | HEAP_REALLOC_IN_PLACE_ONLY, "HeapReAlloc");
  std::uintptr_t moved = 0;
  if (!call.Fails() && IsProcessHeap(heap, heapHandle))
    moved = heap.Reallocate(reinterpret_cast<std::uintptr_t>(block), size, (flags & HEAP_ZERO_MEMORY) != 0,
                            (flags & HEAP_REALLOC_IN_PLACE_ONLY) != 0);
  auto* result = reinterpret_cast<LPVOID>(moved);
  call.Done(BlockName(heap, result));
  return result;
}

BOOL WINAPI HeapFree(HANDLE heapHandle, DWORD flags, LPVOID block) {
  sim::Machine& machine = sim::Current();
  TracedCall call("HeapFree", {HeapName(machine.heap, heapHandle), sim::Hex(flags), BlockName(machine.heap, block)});
  CheckHeapFlags(flags, HEAP_NO_SERIALIZE, "HeapFree");
  auto refuse = [&](DWORD error) {
    machine.lastError = error;
    return call.Return<BOOL>(FALSE);
  };
  if (call.Fails()) return refuse(ERROR_INVALID_PARAMETER);  // the block stays allocated
  if (!IsProcessHeap(machine.heap, heapHandle)) return refuse(ERROR_INVALID_HANDLE);
  if (block == nullptr) return call.Return<BOOL>(TRUE);  // nothing to free
  if (!machine.heap.Free(reinterpret_cast<std::uintptr_t>(block))) return refuse(ERROR_INVALID_PARAMETER);
  return call.Return<BOOL>(TRUE);
}

// ---- The end of the process.

void WINAPI ExitProcess(UINT code) {
  // Never fails: an injected fault for it is ignored.
  TracedCall call("ExitProcess", {std::to_string(code)});
  call.Done("");
  throw sim::ProcessExit(code);
}
