// The one header the program includes: on Windows, the real Win32 API, one call routed through a
// shim that gives it its Windows 95/98 meaning on any Windows or Wine, and the few C runtime
// functions the program uses, provided by the platform itself (crt.cpp) on KERNEL32 alone, so
// that the program needs no C runtime DLL.
#pragma once

// stdio.h comes first, so that a header included later cannot declare its functions again under
// the names below; of it the program uses only EOF.
#include <stdio.h>
#include <string.h>

#include <windows.h>
// commctrl.h needs windows.h before it.
#include <commctrl.h>

// RegDeleteKeyA that deletes a key together with its subkeys, as Windows 95 and 98 do, also
// where the running Windows refuses a key that has subkeys (the NT family).
LONG WINAPI PlatformRegDeleteKeyA(HKEY root, LPCSTR subKey);

#undef RegDeleteKeyA
#define RegDeleteKeyA PlatformRegDeleteKeyA

// ---- Text files, in text mode: a line feed written becomes CR LF; CR LF reads as one line feed
// and a 0x1A byte ends reading; "a+" creates a missing file, truncates nothing, removes one 0x1A
// that ends the file and sends every write to the end; output is buffered and written out at the
// latest by fclose, whose result is EOF when a write (an earlier one too) or the close failed;
// ferror tells whether a read or a write failed, where fgetc's EOF does not.

// Naming it in a constant expression stops the build: the open modes and the format the program
// does not use are not provided.
void OnlyModesRAndAPlusAreProvided();
void OnlyTheFormatPercentSNewlineIsProvided();

// "r" (reading) or "a+" (appending), checked while compiling.
struct PlatformOpenMode {
  consteval PlatformOpenMode(const char* mode) : append(mode[0] == 'a')
  {
    if (!(mode[0] == 'r' && mode[1] == '\0') &&
        !(mode[0] == 'a' && mode[1] == '+' && mode[2] == '\0'))
      OnlyModesRAndAPlusAreProvided();
  }
  bool append;
};

// "%s\n", checked while compiling.
struct PlatformLineFormat {
  consteval PlatformLineFormat(const char* format)
  {
    if (!(format[0] == '%' && format[1] == 's' && format[2] == '\n' && format[3] == '\0'))
      OnlyTheFormatPercentSNewlineIsProvided();
  }
};

struct PlatformFile;
PlatformFile* PlatformFopen(const char* path, PlatformOpenMode mode);
int PlatformFgetc(PlatformFile* file);
long PlatformFtell(PlatformFile* file);
int PlatformFerror(PlatformFile* file);
int PlatformFputs(const char* text, PlatformFile* file);
int PlatformFprintf(PlatformFile* file, PlatformLineFormat format, const char* text);
int PlatformFclose(PlatformFile* file);

#define FILE PlatformFile
#define fopen PlatformFopen
#define fgetc PlatformFgetc
#define ftell PlatformFtell
#define ferror PlatformFerror
#define fputs PlatformFputs
#define fprintf PlatformFprintf
#define fclose PlatformFclose

// ---- Memory, from the process heap.
void* PlatformMalloc(size_t size);
void* PlatformRealloc(void* block, size_t size);
void PlatformFree(void* block);

#define malloc PlatformMalloc
#define realloc PlatformRealloc
#define free PlatformFree

// memset, memcpy, strchr and strcpy keep their own names (string.h declares them): the compiler
// calls memset and memcpy by itself too. crt.cpp defines them.
