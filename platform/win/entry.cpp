// The executable's entry point, in place of mingw-w64's startup code (crt2.o). That code needs
// MSVCRT.DLL, which the first release of Windows 95 does not have, imports 15 KERNEL32 functions
// and adds some 10 KB of code for what the program does not use: the command line split into
// arguments, thread-local storage callbacks, pseudo-relocations, exit-time tables. The program
// links no C runtime at all: what it uses of one, crt.cpp provides, and needs no set-up (its
// files are flushed by fclose, its heap is the process heap). Static constructors, which that
// code would run, are run here; the destructors they register are not, as the program ends with
// ExitProcess and needs nothing run at exit.
#include "platform.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

// The linker's table of static constructors: a first entry of -1, the constructors, then NULL.
// They are run last to first, as libgcc does.
extern "C" void (*__CTOR_LIST__[])(void);

static void RunStaticConstructors(void)
{
  int count = 0;
  while (__CTOR_LIST__[count + 1] != NULL) {
    ++count;
  }
  for (int i = count; i >= 1; --i) {
    __CTOR_LIST__[i]();
  }
}

// Where static constructors register their destructors; without a C runtime there is no other.
extern "C" int atexit(void (*)(void))
{
  return 0;
}

extern "C" void WinMainCRTStartup(void)
{
  char noCommandLine[] = "";
  RunStaticConstructors();
  ExitProcess((UINT)WinMain(GetModuleHandleA(NULL), NULL, noCommandLine, SW_SHOWNORMAL));
}
