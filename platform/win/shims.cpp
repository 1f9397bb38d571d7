// The shim of platform.h. It calls the real RegDeleteKeyA, so this file undoes the header's
// renaming of that name after including it. Only calls that Windows 95 has.
#include "platform.h"

#undef RegDeleteKeyA

// ---- RegDeleteKeyA

// Bounds of the subtree walk: how deep it goes, and how many subkeys it tries under one key, so
// that neither a key that refuses deletion nor one that keeps gaining subkeys can keep it looping.
static const int MAX_SUBKEY_DEPTH = 64;
static const DWORD MAX_SUBKEY_TRIES = 65536;
// The longest key name is 255 characters.
static const DWORD KEY_NAME_SIZE = 256;

// Deletes every subkey of root\subKey, deepest first. A subkey that stays is stepped over, so
// its later siblings are still deleted; the key itself is left to the caller.
static void DeleteSubkeys(HKEY root, LPCSTR subKey, int depth)
{
  HKEY key;
  if (depth >= MAX_SUBKEY_DEPTH ||
      RegOpenKeyExA(root, subKey, 0, KEY_ENUMERATE_SUB_KEYS, &key) != ERROR_SUCCESS) {
    return;
  }
  char name[KEY_NAME_SIZE];
  DWORD index = 0;
  for (DWORD tries = 0; tries < MAX_SUBKEY_TRIES; ++tries) {
    DWORD nameSize = KEY_NAME_SIZE;
    if (RegEnumKeyExA(key, index, name, &nameSize, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) {
      break;
    }
    DeleteSubkeys(key, name, depth + 1);
    if (RegDeleteKeyA(key, name) != ERROR_SUCCESS) {
      ++index;
    }
  }
  RegCloseKey(key);
}

// The NT family refuses a key that has subkeys with ERROR_ACCESS_DENIED; Windows 95 and 98
// delete the whole subtree. There the subkeys go first and the key is tried once more.
LONG WINAPI PlatformRegDeleteKeyA(HKEY root, LPCSTR subKey)
{
  LONG result = RegDeleteKeyA(root, subKey);
  if (result == ERROR_ACCESS_DENIED && subKey != NULL && subKey[0] != '\0') {
    DeleteSubkeys(root, subKey, 0);
    result = RegDeleteKeyA(root, subKey);
  }
  return result;
}
