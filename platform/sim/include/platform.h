// The one header the program includes instead of <windows.h>: on Linux, the simulated Windows
// 95/98 machine's Win32 calls and C runtime text files under their usual names.
#pragma once

#include <cstdio>   // EOF and the C runtime's own constants
#include <cstdlib>  // malloc, realloc, free: the C runtime's own heap
#include <cstring>

#include "win32.h"

// ---- C runtime text files. The program writes fopen, fgetc, fprintf, fclose as usual; here they
// are the simulated machine's, with the Windows text-mode meaning (CR LF, Ctrl-Z), on its drives.
struct SimFile;
SimFile* SimFopen(const char* path, const char* mode);
int SimFclose(SimFile* file);
int SimFgetc(SimFile* file);
long SimFtell(SimFile* file);
int SimFeof(SimFile* file);
int SimFerror(SimFile* file);
int SimFputs(const char* text, SimFile* file);
int SimFprintf(SimFile* file, const char* format, ...) __attribute__((format(printf, 2, 3)));
#define FILE SimFile
#define fopen SimFopen
#define fclose SimFclose
#define fgetc SimFgetc
#define ftell SimFtell
#define feof SimFeof
#define ferror SimFerror
#define fputs SimFputs
#define fprintf SimFprintf
