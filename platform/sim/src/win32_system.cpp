// KERNEL32's version, directory and last-error calls on the simulated machine.
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
