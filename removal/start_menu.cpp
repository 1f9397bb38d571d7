// Start-menu program group: the product's four shortcuts, then its folder in the user's
// Programs folder.
#include "stages.h"

static const LPCSTR SHORTCUTS[4] = {
  "\\How do I for RK514.LNK",
  "\\Troubleshooting for RK514.LNK",
  "\\RK514 Printer Monitor.LNK",
  "\\RK514 Uninstall program.LNK",
};

void RemoveStartMenuGroup(void)
{
  char folderPath[MAX_PATH];
  char shortcutPath[MAX_PATH];
  HKEY key;
  BOOL read;
  unsigned i;

  memset(folderPath, 0, sizeof(folderPath));
  memset(shortcutPath, 0, sizeof(shortcutPath));

  if (RegOpenKeyExA(HKEY_CURRENT_USER,
                    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                    KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    read = ReadStringValue(key, "Programs", folderPath, sizeof(folderPath));
    RegCloseKey(key);
    // A value that was not read whole, with its NUL, counts as no value.
    if (!read)
      memset(folderPath, 0, sizeof(folderPath));
  }

  // With no Programs path the group is looked for at the root of the current drive, as Windows
  // would resolve "\ZANTEROVA RK514". A path that would not fit is never cut: nothing is done.
  if (!AppendPath(folderPath, "\\" GROUP_NAME))
    return;

  for (i = 0; i < sizeof(SHORTCUTS) / sizeof(SHORTCUTS[0]); i++) {
    lstrcpyA(shortcutPath, folderPath);
    if (AppendPath(shortcutPath, SHORTCUTS[i]))
      DeleteFileA(shortcutPath);
  }
  RemoveDirectoryA(folderPath);
}
