// ADVAPI32's registry calls on the simulated machine, with Windows 95/98 meanings.
#include "internal.h"

using sim::Unmodelled;

LONG WINAPI RegOpenKeyExA(HKEY, LPCSTR, DWORD, REGSAM, PHKEY) { throw Unmodelled("RegOpenKeyExA: not built yet"); }
LONG WINAPI RegQueryValueExA(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD) { throw Unmodelled("RegQueryValueExA: not built yet"); }
LONG WINAPI RegCloseKey(HKEY) { throw Unmodelled("RegCloseKey: not built yet"); }
LONG WINAPI RegFlushKey(HKEY) { throw Unmodelled("RegFlushKey: not built yet"); }
LONG WINAPI RegDeleteKeyA(HKEY, LPCSTR) { throw Unmodelled("RegDeleteKeyA: not built yet"); }
