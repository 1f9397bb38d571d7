// RemoveProduct: reads the Windows build and directories and runs the five stages in order.
#include "removal.h"
#include "stages.h"

// A directory that Windows did not give whole (0, or a length that needs the buffer and more)
// is left empty: the stages then skip what needs it instead of working at a drive's root.
static void KeepDirectoryIfWhole(LPSTR directory, UINT length)
{
  if (length == 0 || length >= MAX_PATH)
    directory[0] = '\0';
}

int RemoveProduct(void)
{
  OSVERSIONINFOA version;
  char systemDirectory[MAX_PATH];
  char windowsDirectory[MAX_PATH];
  WORD buildNumber;

  memset(&version, 0, sizeof(version));
  memset(systemDirectory, 0, sizeof(systemDirectory));
  memset(windowsDirectory, 0, sizeof(windowsDirectory));

  version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  GetVersionExA(&version);
  buildNumber = LOWORD(version.dwBuildNumber);

  RemoveRegistryKeys(buildNumber);
  RemovePrinterProfileEntries();
  RemoveStartMenuGroup();

  KeepDirectoryIfWhole(systemDirectory, GetSystemDirectoryA(systemDirectory, MAX_PATH));
  KeepDirectoryIfWhole(windowsDirectory, GetWindowsDirectoryA(windowsDirectory, MAX_PATH));

  RemoveInstalledFiles(systemDirectory, windowsDirectory, buildNumber);
  return ScheduleDeferredDeletion(systemDirectory, windowsDirectory);
}
