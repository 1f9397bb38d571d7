// The Windows profile (win.ini) on the simulated machine.
#include "internal.h"
#include "sim/errors.h"
#include "win32.h"

DWORD WINAPI GetProfileStringA(LPCSTR, LPCSTR, LPCSTR, LPSTR, DWORD) {
  throw sim::Unmodelled("GetProfileStringA: not built yet");
}
BOOL WINAPI WriteProfileStringA(LPCSTR, LPCSTR, LPCSTR) {
  throw sim::Unmodelled("WriteProfileStringA: not built yet");
}
