// The table of bindings: each import the program may make, the bytes of arguments it pops (the
// @N of the i686 import libraries: a wrong N would shift the caller's stack without a sound, so
// a test compares each with the libraries' own decorations), and its call of the simulated
// function. Arguments arrive as the guest's 32-bit words: handles are sign-extended on the host
// (HKEY_LOCAL_MACHINE is 0x80000002, INVALID_HANDLE_VALUE 0xFFFFFFFF), WPARAM is zero-extended
// and LPARAM sign-extended; pointers become host pointers into guest memory, checked against its
// bounds; out-parameters of a different size on the host (PHKEY) go through host temporaries.
#include <cstring>

#include "guest.h"
#include "win32.h"

namespace emu {
namespace {

using Args = const std::uint32_t*;

template <typename Handle>
Handle Signed(std::uint32_t value) {
  return reinterpret_cast<Handle>(static_cast<std::intptr_t>(static_cast<std::int32_t>(value)));
}
HANDLE H(std::uint32_t value) { return Signed<HANDLE>(value); }
HKEY K(std::uint32_t value) { return Signed<HKEY>(value); }
HWND W(std::uint32_t value) { return Signed<HWND>(value); }
LPARAM L(std::uint32_t value) { return static_cast<std::int32_t>(value); }
void* P(std::uint32_t address) { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)); }

// A handle or address the simulated machine returned, as the guest's 32-bit word: it must be
// one that a 32-bit Windows could give.
std::uint32_t G(Guest& guest, const void* handle) {
  const auto value = reinterpret_cast<std::intptr_t>(handle);
  if (value != static_cast<std::int32_t>(value) && static_cast<std::uintptr_t>(value) > 0xFFFFFFFFu)
    guest.Fail("the simulated machine returned a handle that does not fit in 32 bits");
  return static_cast<std::uint32_t>(value);
}
std::uint32_t B(BOOL value) { return static_cast<std::uint32_t>(value); }

// A DWORD (or LONG) in guest memory, read before the call and written back after it.
class Word {
 public:
  Word(Guest& guest, std::uint32_t address) : at_(address == 0 ? nullptr : guest.Host(address, 4, true)) {
    if (at_ != nullptr) std::memcpy(&value_, at_, 4);
  }
  ~Word() {
    if (at_ != nullptr) std::memcpy(at_, &value_, 4);
  }
  DWORD* get() { return at_ == nullptr ? nullptr : &value_; }
  LONG* Signed() { return reinterpret_cast<LONG*>(get()); }
  DWORD value() const { return value_; }

 private:
  std::byte* at_;
  DWORD value_ = 0;
};

// An HKEY out-parameter: the guest's 4 bytes, the host's 8.
class KeyOut {
 public:
  KeyOut(Guest& guest, std::uint32_t address)
      : guest_(guest), at_(address == 0 ? nullptr : guest.Host(address, 4, true)) {
    if (at_ != nullptr) {
      std::uint32_t value;
      std::memcpy(&value, at_, 4);
      key_ = K(value);
    }
  }
  PHKEY get() { return at_ == nullptr ? nullptr : &key_; }
  void Store() {
    if (at_ == nullptr) return;
    const std::uint32_t value = G(guest_, key_);
    std::memcpy(at_, &value, 4);
  }

 private:
  Guest& guest_;
  std::byte* at_;
  HKEY key_ = nullptr;
};

// A string the callee writes over, with room for what it writes.
char* Room(Guest& guest, std::uint32_t address, std::size_t length) {
  if (length > 0xFFFFFFFFu) guest.Fail("a string too long for guest memory");
  return guest.Buffer(address, static_cast<std::uint32_t>(length));
}

// A buffer the callee may be given as NULL (a class name, a time, a value's data).
char* Optional(Guest& guest, std::uint32_t address, std::uint32_t size) {
  return address == 0 ? nullptr : guest.Buffer(address, size);
}

// A template or class name: an ordinal below 0x10000 passes as it is.
LPCSTR ResourceName(Guest& guest, std::uint32_t value) {
  if (value < 0x10000) return MAKEINTRESOURCEA(value);
  return guest.String(value);
}

// A message's lParam for SendMessageA: the text of WM_SETTEXT, the buffer of WM_GETTEXT (wParam
// its size), else a number.
LPARAM MessageLParam(Guest& guest, UINT message, std::uint32_t wParam, std::uint32_t lParam) {
  if (message == WM_SETTEXT) return reinterpret_cast<LPARAM>(guest.String(lParam));
  if (message == WM_GETTEXT) return reinterpret_cast<LPARAM>(guest.Buffer(lParam, wParam));
  return L(lParam);
}

// The guest's dialog procedure as a DLGPROC: its address, which the window manager hands back to
// the runner (sim::Ui::callProc) rather than call.
DLGPROC Procedure(std::uint32_t address) { return reinterpret_cast<DLGPROC>(static_cast<std::uintptr_t>(address)); }

const Binding kBindings[] = {
    // ---- KERNEL32
    {"KERNEL32", "CloseHandle", 4, [](Guest&, Args a) { return B(CloseHandle(H(a[0]))); }},
    {"KERNEL32", "CreateFileA", 28,
     [](Guest& g, Args a) {
       SECURITY_ATTRIBUTES security{};
       if (a[3] != 0) {
         const std::byte* at = g.Host(a[3], 12, false);
         std::uint32_t fields[3];
         std::memcpy(fields, at, 12);
         security = {fields[0], P(fields[1]), static_cast<BOOL>(fields[2])};
       }
       return G(g, CreateFileA(g.String(a[0]), a[1], a[2], a[3] ? &security : nullptr, a[4], a[5], H(a[6])));
     }},
    {"KERNEL32", "DeleteFileA", 4, [](Guest& g, Args a) { return B(DeleteFileA(g.String(a[0]))); }},
    {"KERNEL32", "ExitProcess", 4,
     [](Guest&, Args a) -> std::uint32_t {
       ExitProcess(a[0]);
       return 0;
     }},
    {"KERNEL32", "FindClose", 4, [](Guest&, Args a) { return B(FindClose(H(a[0]))); }},
    {"KERNEL32", "FindFirstFileA", 8,
     [](Guest& g, Args a) {
       auto* data = reinterpret_cast<LPWIN32_FIND_DATAA>(g.Buffer(a[1], sizeof(WIN32_FIND_DATAA)));
       return G(g, FindFirstFileA(g.String(a[0]), data));
     }},
    {"KERNEL32", "FindNextFileA", 8,
     [](Guest& g, Args a) {
       return B(FindNextFileA(H(a[0]), reinterpret_cast<LPWIN32_FIND_DATAA>(g.Buffer(a[1], sizeof(WIN32_FIND_DATAA)))));
     }},
    {"KERNEL32", "GetFileSize", 8,
     [](Guest& g, Args a) {
       Word high(g, a[1]);
       return GetFileSize(H(a[0]), high.get());
     }},
    {"KERNEL32", "GetLastError", 0, [](Guest&, Args) { return GetLastError(); }},
    {"KERNEL32", "GetModuleHandleA", 4, [](Guest& g, Args a) { return G(g, GetModuleHandleA(g.String(a[0]))); }},
    {"KERNEL32", "GetProcessHeap", 0, [](Guest& g, Args) { return G(g, GetProcessHeap()); }},
    {"KERNEL32", "GetProfileStringA", 20,
     [](Guest& g, Args a) {
       return GetProfileStringA(g.String(a[0]), g.String(a[1]), g.String(a[2]), g.Buffer(a[3], a[4]), a[4]);
     }},
    {"KERNEL32", "GetSystemDirectoryA", 8,
     [](Guest& g, Args a) { return GetSystemDirectoryA(g.Buffer(a[0], a[1]), a[1]); }},
    {"KERNEL32", "GetVersionExA", 4,
     [](Guest& g, Args a) {
       return B(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(g.Buffer(a[0], sizeof(OSVERSIONINFOA)))));
     }},
    {"KERNEL32", "GetWindowsDirectoryA", 8,
     [](Guest& g, Args a) { return GetWindowsDirectoryA(g.Buffer(a[0], a[1]), a[1]); }},
    {"KERNEL32", "HeapAlloc", 12, [](Guest& g, Args a) { return G(g, HeapAlloc(H(a[0]), a[1], a[2])); }},
    {"KERNEL32", "HeapFree", 12, [](Guest&, Args a) { return B(HeapFree(H(a[0]), a[1], P(a[2]))); }},
    {"KERNEL32", "HeapReAlloc", 16, [](Guest& g, Args a) { return G(g, HeapReAlloc(H(a[0]), a[1], P(a[2]), a[3])); }},
    {"KERNEL32", "ReadFile", 20,
     [](Guest& g, Args a) {
       if (a[4] != 0) g.Fail("ReadFile with an OVERLAPPED record, which Windows 95 has not for files");
       Word read(g, a[3]);
       return B(ReadFile(H(a[0]), g.Buffer(a[1], a[2]), a[2], read.get(), nullptr));
     }},
    {"KERNEL32", "RemoveDirectoryA", 4, [](Guest& g, Args a) { return B(RemoveDirectoryA(g.String(a[0]))); }},
    {"KERNEL32", "SetEndOfFile", 4, [](Guest&, Args a) { return B(SetEndOfFile(H(a[0]))); }},
    {"KERNEL32", "SetFilePointer", 16,
     [](Guest& g, Args a) {
       Word high(g, a[2]);
       return SetFilePointer(H(a[0]), static_cast<LONG>(a[1]), high.Signed(), a[3]);
     }},
    {"KERNEL32", "WriteFile", 20,
     [](Guest& g, Args a) {
       if (a[4] != 0) g.Fail("WriteFile with an OVERLAPPED record, which Windows 95 has not for files");
       Word written(g, a[3]);
       return B(WriteFile(H(a[0]), g.Host(a[1], a[2], false), a[2], written.get(), nullptr));
     }},
    {"KERNEL32", "WriteProfileStringA", 12,
     [](Guest& g, Args a) { return B(WriteProfileStringA(g.String(a[0]), g.String(a[1]), g.String(a[2]))); }},
    {"KERNEL32", "lstrcatA", 8,
     [](Guest& g, Args a) {
       const char* source = g.String(a[1]);
       const char* dest = g.String(a[0]);
       char* room = dest && source ? Room(g, a[0], std::strlen(dest) + std::strlen(source) + 1) : nullptr;
       return lstrcatA(room ? room : const_cast<char*>(dest), source) == nullptr ? 0 : a[0];
     }},
    {"KERNEL32", "lstrcmpA", 8, [](Guest& g, Args a) { return std::uint32_t(lstrcmpA(g.String(a[0]), g.String(a[1]))); }},
    {"KERNEL32", "lstrcmpiA", 8,
     [](Guest& g, Args a) { return std::uint32_t(lstrcmpiA(g.String(a[0]), g.String(a[1]))); }},
    {"KERNEL32", "lstrcpyA", 8,
     [](Guest& g, Args a) {
       const char* source = g.String(a[1]);
       char* dest = source ? Room(g, a[0], std::strlen(source) + 1) : g.Buffer(a[0], 1);
       return lstrcpyA(dest, source) == nullptr ? 0 : a[0];
     }},
    {"KERNEL32", "lstrlenA", 4, [](Guest& g, Args a) { return std::uint32_t(lstrlenA(g.String(a[0]))); }},

    // ---- USER32
    {"USER32", "DialogBoxParamA", 20,
     [](Guest& g, Args a) {
       return std::uint32_t(DialogBoxParamA(Signed<HINSTANCE>(a[0]), ResourceName(g, a[1]), W(a[2]),
                                            a[3] ? Procedure(a[3]) : nullptr, L(a[4])));
     }},
    {"USER32", "EndDialog", 8, [](Guest&, Args a) { return B(EndDialog(W(a[0]), L(a[1]))); }},
    {"USER32", "ExitWindowsEx", 8, [](Guest&, Args a) { return B(ExitWindowsEx(a[0], a[1])); }},
    {"USER32", "GetDlgItem", 8, [](Guest& g, Args a) { return G(g, GetDlgItem(W(a[0]), static_cast<int>(a[1]))); }},
    {"USER32", "KillTimer", 8, [](Guest&, Args a) { return B(KillTimer(W(a[0]), a[1])); }},
    {"USER32", "MessageBoxA", 16,
     [](Guest& g, Args a) { return std::uint32_t(MessageBoxA(W(a[0]), g.String(a[1]), g.String(a[2]), a[3])); }},
    {"USER32", "PostMessageA", 16,
     [](Guest& g, Args a) {
       // A posted message waits in the queue: a pointer in it is not followed.
       if (a[1] == WM_SETTEXT || a[1] == WM_GETTEXT) g.Fail("PostMessageA with a message that carries a pointer");
       return B(PostMessageA(W(a[0]), a[1], a[2], L(a[3])));
     }},
    {"USER32", "SendMessageA", 16,
     [](Guest& g, Args a) {
       return static_cast<std::uint32_t>(SendMessageA(W(a[0]), a[1], a[2], MessageLParam(g, a[1], a[2], a[3])));
     }},
    {"USER32", "SetTimer", 16,
     [](Guest&, Args a) {
       auto proc = reinterpret_cast<TIMERPROC>(static_cast<std::uintptr_t>(a[3]));  // the window manager refuses one
       return static_cast<std::uint32_t>(SetTimer(W(a[0]), a[1], a[2], proc));
     }},
    {"USER32", "SetWindowTextA", 8, [](Guest& g, Args a) { return B(SetWindowTextA(W(a[0]), g.String(a[1]))); }},

    // ---- ADVAPI32
    {"ADVAPI32", "RegCloseKey", 4, [](Guest&, Args a) { return std::uint32_t(RegCloseKey(K(a[0]))); }},
    {"ADVAPI32", "RegDeleteKeyA", 8,
     [](Guest& g, Args a) { return std::uint32_t(RegDeleteKeyA(K(a[0]), g.String(a[1]))); }},
    {"ADVAPI32", "RegEnumKeyExA", 32,
     [](Guest& g, Args a) {
       Word nameSize(g, a[3]), reserved(g, a[4]), classSize(g, a[6]);
       char* name = g.Buffer(a[2], nameSize.get() ? nameSize.value() : 0);
       char* className = Optional(g, a[5], classSize.get() ? classSize.value() : 0);
       auto* written = reinterpret_cast<PFILETIME>(Optional(g, a[7], sizeof(FILETIME)));
       return std::uint32_t(
           RegEnumKeyExA(K(a[0]), a[1], name, nameSize.get(), reserved.get(), className, classSize.get(), written));
     }},
    {"ADVAPI32", "RegFlushKey", 4, [](Guest&, Args a) { return std::uint32_t(RegFlushKey(K(a[0]))); }},
    {"ADVAPI32", "RegOpenKeyExA", 20,
     [](Guest& g, Args a) {
       KeyOut key(g, a[4]);
       const LONG result = RegOpenKeyExA(K(a[0]), g.String(a[1]), a[2], a[3], key.get());
       key.Store();
       return std::uint32_t(result);
     }},
    {"ADVAPI32", "RegQueryValueExA", 24,
     [](Guest& g, Args a) {
       Word reserved(g, a[2]), type(g, a[3]), size(g, a[5]);
       LPBYTE data = reinterpret_cast<LPBYTE>(Optional(g, a[4], size.get() ? size.value() : 0));
       return std::uint32_t(
           RegQueryValueExA(K(a[0]), g.String(a[1]), reserved.get(), type.get(), data, size.get()));
     }},

    // ---- COMCTL32
    {"COMCTL32", "InitCommonControls", 0,
     [](Guest&, Args) -> std::uint32_t {
       InitCommonControls();
       return 0;
     }},
};

}  // namespace

std::span<const Binding> Bindings() { return kBindings; }

}  // namespace emu
