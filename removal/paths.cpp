// Building paths and names in MAX_PATH buffers without ever cutting them.
#include "stages.h"

BOOL StartPath(LPSTR path, LPCSTR first)
{
  if (lstrlenA(first) >= MAX_PATH)
    return FALSE;
  lstrcpyA(path, first);
  return TRUE;
}

BOOL AppendPath(LPSTR path, LPCSTR piece)
{
  if (lstrlenA(path) + lstrlenA(piece) >= MAX_PATH)
    return FALSE;
  lstrcatA(path, piece);
  return TRUE;
}

BOOL IsNulEnded(LPCSTR data, DWORD size, DWORD bufferSize)
{
  DWORD i;

  if (size > bufferSize)
    return FALSE;
  for (i = 0; i < size; i++) {
    if (data[i] == '\0')
      return TRUE;
  }
  return FALSE;
}
