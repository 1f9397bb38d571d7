// The small helpers the stages share: paths and names built in MAX_PATH buffers without ever
// cutting them, and registry strings read whole.
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

BOOL JoinPath(LPSTR path, LPCSTR folder, LPCSTR name)
{
  return StartPath(path, folder) && AppendPath(path, "\\") && AppendPath(path, name);
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

BOOL ReadStringValue(HKEY key, LPCSTR name, LPSTR buffer, DWORD bufferSize)
{
  DWORD type;
  DWORD size = bufferSize;

  return RegQueryValueExA(key, name, NULL, &type, (LPBYTE)buffer, &size) == ERROR_SUCCESS &&
         IsNulEnded(buffer, size, bufferSize);
}
