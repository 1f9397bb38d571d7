// The two shims of platform.h. They call the real RegDeleteKeyA and fopen, so this file undoes
// the header's renaming of those two names after including it. Only calls that Windows 95 has.
#include "platform.h"

#undef RegDeleteKeyA
#undef fopen

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

// ---- fopen

static const BYTE CTRL_Z = 0x1A;

// "a+", "a+t", "at+": reading and appending in text mode, the opens for which Microsoft's C
// runtime drops a final Ctrl-Z (it does so for no binary open).
static BOOL IsTextAppendUpdate(const char* mode)
{
  return mode[0] == 'a' && strchr(mode, '+') != NULL && strchr(mode, 'b') == NULL;
}

// The file's size and last byte; FALSE when it cannot be opened or read, or is empty.
static BOOL ReadLastByte(const char* path, DWORD* size, BYTE* last)
{
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    return FALSE;
  }
  DWORD read = 0;
  *size = GetFileSize(file, NULL);
  BOOL ok = *size != 0 && *size != INVALID_FILE_SIZE &&
            SetFilePointer(file, -1, NULL, FILE_END) != INVALID_SET_FILE_POINTER &&
            ReadFile(file, last, 1, &read, NULL) && read == 1;
  CloseHandle(file);
  return ok;
}

// Cuts the file to size bytes.
static void TruncateTo(const char* path, DWORD size)
{
  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    return;
  }
  if (SetFilePointer(file, (LONG)size, NULL, FILE_BEGIN) == size) {
    SetEndOfFile(file);
  }
  CloseHandle(file);
}

// Microsoft's runtime drops the final Ctrl-Z of an existing text file while opening it for
// reading and appending; Wine's does not. Which one did is seen afterwards: where the file still
// has its size and its final Ctrl-Z, the shim drops that byte, so that the byte goes exactly once
// with either runtime (dropping it before the open would let Microsoft's drop a second one). The
// runtimes seek to the end before every appending write, so the shorter file is written at its
// new end.
FILE* PlatformFopen(const char* path, const char* mode)
{
  DWORD sizeBefore = 0;
  BYTE last = 0;
  BOOL endedWithCtrlZ =
      IsTextAppendUpdate(mode) && ReadLastByte(path, &sizeBefore, &last) && last == CTRL_Z;
  FILE* file = fopen(path, mode);
  DWORD sizeAfter = 0;
  if (file != NULL && endedWithCtrlZ && ReadLastByte(path, &sizeAfter, &last) &&
      sizeAfter == sizeBefore && last == CTRL_Z) {
    TruncateTo(path, sizeAfter - 1);
  }
  return file;
}
