// Printer profile entries: the printer's port sections and its [Devices] and [PrinterPorts]
// keys in win.ini.
#include "stages.h"

// The three local-port sections, deleted whichever local port the printer uses.
static const LPCSTR LOCAL_PORT_SUFFIXES[3] = {"-LPT1", "-FILE", "-LPT2"};

// Deletes the section PRINTER_NAME + suffix + port whole; a name that would not fit is not
// touched.
static void DeletePortSection(LPCSTR suffix, LPCSTR port)
{
  char sectionName[MAX_PATH];

  memset(sectionName, 0, sizeof(sectionName));
  if (StartPath(sectionName, PRINTER_NAME) && AppendPath(sectionName, suffix) &&
      AppendPath(sectionName, port))
    WriteProfileStringA(sectionName, NULL, NULL);
}

void RemovePrinterProfileEntries(void)
{
  char deviceText[150];
  char portText[MAX_PATH];
  char* comma;
  unsigned i;

  memset(deviceText, 0, sizeof(deviceText));
  memset(portText, 0, sizeof(portText));

  // "driver,port"; the default stands in when the printer has no [Devices] entry.
  GetProfileStringA("Devices", PRINTER_NAME, "kb47rk,lpt1:", deviceText, sizeof(deviceText));

  if (strchr(deviceText, '\\') != NULL) {
    // A network port (\\SERVER\QUEUE): the one section named after the port as it stands.
    // Without a comma the value names no port, and no section is deleted.
    comma = strchr(deviceText, ',');
    if (comma != NULL) {
      strcpy(portText, comma + 1);
      DeletePortSection("-", portText);
    }
  } else {
    for (i = 0; i < sizeof(LOCAL_PORT_SUFFIXES) / sizeof(LOCAL_PORT_SUFFIXES[0]); i++)
      DeletePortSection(LOCAL_PORT_SUFFIXES[i], "");
  }

  WriteProfileStringA("Devices", PRINTER_NAME, NULL);
  WriteProfileStringA("PrinterPorts", PRINTER_NAME, NULL);
}
