// The two shims of platform.h. They call the real RegDeleteKeyA and fopen, so this file undoes
// the header's renaming of those two names after including it.
#include "platform.h"

#undef RegDeleteKeyA
#undef fopen

LONG WINAPI PlatformRegDeleteKeyA(HKEY root, LPCSTR subKey)
{
  return RegDeleteKeyA(root, subKey);
}

FILE* PlatformFopen(const char* path, const char* mode)
{
  return fopen(path, mode);
}
