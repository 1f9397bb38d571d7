// Registry cleanup: the driver's fixed keys, then its numbered device and driver-class keys,
// found by their description.
#include "stages.h"

// One key a line, however long.
// clang-format off
const REGISTRY_KEY PRODUCT_KEYS[11] = {
  {HKEY_CLASSES_ROOT, "CLSID\\{5b1e7d20-4a9c-11d1-8f3a-2c61d0e4b795}"},
  {HKEY_CLASSES_ROOT, "Printers\\shellex\\ContextMenuHandlers\\" GROUP_NAME " Shell Extension"},
  {HKEY_CURRENT_CONFIG, "System\\CurrentControlSet\\control\\Print\\Printers\\" PRINTER_NAME},
  {HKEY_LOCAL_MACHINE, "Config\\0001\\System\\CurrentControlSet\\control\\Print\\Printers\\" PRINTER_NAME},
  {HKEY_LOCAL_MACHINE, "Enum\\LPTENUM\\KARSENBYRK_514_(COLO9F98"},
  {HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\CLSID\\{5b1e7d20-4a9c-11d1-8f3a-2c61d0e4b795}"},
  {HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\Printers\\shellex\\ContextMenuHandlers\\" GROUP_NAME " Shell Extension"},
  {HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\control\\Print\\Environments\\Windows 4.0\\Drivers\\" PRINTER_NAME},
  {HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\control\\Print\\Environments\\Windows 4.0\\Print Processors\\" GROUP_NAME " PrintProcessor"},
  {HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\control\\Print\\Monitors\\" GROUP_NAME " LanguageMonitor"},
  {HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\control\\Print\\Printers\\" PRINTER_NAME},
};

// Only later releases of Windows 95 and Windows 98 keep these.
const REGISTRY_KEY LATER_RELEASE_KEYS[3] = {
  {HKEY_USERS, ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs\\" GROUP_NAME},
  {HKEY_LOCAL_MACHINE, "Security\\Access\\PRINT\\" PRINTER_NAME},
  {HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs\\" GROUP_NAME},
};

// clang-format on

const INSTANCE_PASS INSTANCE_PASSES[2] = {
  {"Enum\\Root\\printer", "DeviceDesc"},
  {"System\\CurrentControlSet\\Services\\Class\\Printer", "DriverDesc"},
};

#define PRODUCT_KEY_COUNT (sizeof(PRODUCT_KEYS) / sizeof(PRODUCT_KEYS[0]))
#define LATER_RELEASE_KEY_COUNT (sizeof(LATER_RELEASE_KEYS) / sizeof(LATER_RELEASE_KEYS[0]))
#define INSTANCE_PASS_COUNT (sizeof(INSTANCE_PASSES) / sizeof(INSTANCE_PASSES[0]))

// The instance key name for number n: the base key, a backslash, then n in decimal padded on
// the left with zeros to four digits (a longer number is written in full).
static BOOL FormInstanceName(LPSTR keyName, LPCSTR baseKey, LONG n)
{
  char numberText[20];
  char digits[20];
  int count = 0;
  int i = 0;

  do {
    digits[count++] = (char)('0' + n % 10);
    n /= 10;
  } while (n > 0);
  while (count < 4)
    digits[count++] = '0';
  while (count > 0)
    numberText[i++] = digits[--count];
  numberText[i] = '\0';

  return JoinPath(keyName, baseKey, numberText);
}

// Forms the name for n and opens it; TRUE when the key is now open.
static BOOL OpenInstanceKey(LPSTR keyName, LPCSTR baseKey, LONG n, HKEY* key)
{
  if (!FormInstanceName(keyName, baseKey, n))
    return FALSE;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_QUERY_VALUE, key) == ERROR_SUCCESS;
}

void PurgeInstanceKeys(void)
{
  char keyName[MAX_PATH];
  char description[MAX_PATH];
  HKEY key = NULL;
  BOOL matched;
  LONG n;
  LONG c;
  BOOL opened;
  BOOL reopenedAfterDelete;
  unsigned pass;

  memset(keyName, 0, sizeof(keyName));
  memset(description, 0, sizeof(description));

  for (pass = 0; pass < INSTANCE_PASS_COUNT; pass++) {
    LPCSTR baseKey = INSTANCE_PASSES[pass].baseKey;
    LPCSTR valueName = INSTANCE_PASSES[pass].valueName;

    opened = OpenInstanceKey(keyName, baseKey, 0, &key);
    n = 1;
    c = 0;
    do {
      if (!opened) {
        // Probe phase: every name tried costs the budget 1.
        while (c <= PROBE_BUDGET && !opened) {
          opened = OpenInstanceKey(keyName, baseKey, n, &key);
          n++;
          c++;
        }
      } else {
        // Examine phase: keys that open one after another cost nothing here.
        reopenedAfterDelete = FALSE;
        while (opened) {
          if (reopenedAfterDelete) {
            // The deletion did not take effect: the key is left as examined, so that no pass
            // can delete the same name without end.
            RegCloseKey(key);
            reopenedAfterDelete = FALSE;
            opened = OpenInstanceKey(keyName, baseKey, n, &key);
            n++;
            continue;
          }
          matched = ReadStringValue(key, valueName, description, sizeof(description));
          RegCloseKey(key);
          if (matched && lstrcmpA(description, PRINTER_NAME) == 0) {
            // A deleted key's name is tried once more.
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyName);
            opened =
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS;
            reopenedAfterDelete = opened;
          } else {
            opened = OpenInstanceKey(keyName, baseKey, n, &key);
            n++;
          }
        }
      }
      c++;
    } while (c <= PROBE_BUDGET);

    // A key that the last probe found is closed unexamined.
    if (opened)
      RegCloseKey(key);
  }
}

void RemoveRegistryKeys(WORD buildNumber)
{
  unsigned i;

  for (i = 0; i < PRODUCT_KEY_COUNT; i++)
    RegDeleteKeyA(PRODUCT_KEYS[i].root, PRODUCT_KEYS[i].path);

  if (buildNumber > BUILD_GATE) {
    for (i = 0; i < LATER_RELEASE_KEY_COUNT; i++)
      RegDeleteKeyA(LATER_RELEASE_KEYS[i].root, LATER_RELEASE_KEYS[i].path);
    RegFlushKey(HKEY_USERS);
    RegFlushKey(HKEY_CURRENT_USER);
  }
  RegFlushKey(HKEY_LOCAL_MACHINE);

  PurgeInstanceKeys();
}
