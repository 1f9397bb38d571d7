// The executable's entry point, in place of mingw-w64's startup code (crt2.o). That code imports
// 22 MSVCRT.DLL functions, among them __p__acmdln, __p__fmode, __p__commode and __setusermatherr,
// whose presence in the MSVCRT.DLL that Windows 95 OSR2 and 98 ship is doubtful, and 15 KERNEL32
// functions, and adds some 10 KB of code for what the program does not use: the command line
// split into arguments, thread-local storage callbacks, pseudo-relocations, exit-time tables.
// MSVCRT.DLL sets up its own heap and stdio when it is loaded (and flushes its streams when it
// is unloaded). Static constructors, which that code would run, are run here; the destructors
// they register are not, as the program ends with ExitProcess and needs nothing run at exit.
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

// Where static constructors register their destructors. mingw-w64's startup code has its own
// atexit and the import library offers none, so without this one the registration would jump
// into MSVCRT.DLL's import table.
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
