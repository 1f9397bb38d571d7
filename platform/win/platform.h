// The one header the program includes: on Windows, the real Win32 API and the C runtime's own
// stdio, with two calls routed through shims that give them their Windows 95/98 meaning on any
// Windows or Wine the program meets.
#pragma once

// The C runtime's own printf family (MSVCRT.DLL), not the bigger one of mingw-w64: stdio.h comes
// first, before anything can pull in a C++ library header that switches to mingw-w64's own.
#define __USE_MINGW_ANSI_STDIO 0
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <commctrl.h>

// RegDeleteKeyA that deletes a key together with its subkeys, as Windows 95 and 98 do, also
// where the running Windows refuses a key that has subkeys (the NT family).
LONG WINAPI PlatformRegDeleteKeyA(HKEY root, LPCSTR subKey);

// fopen that, for an "a+" open of a file whose last byte is 0x1A, leaves the file without that
// byte, whichever C runtime is loaded (Microsoft's drops it, Wine's does not).
FILE* PlatformFopen(const char* path, const char* mode);

#undef RegDeleteKeyA
#define RegDeleteKeyA PlatformRegDeleteKeyA
#define fopen PlatformFopen
