// Printer profile entries: the printer's port sections, its [Devices] and [PrinterPorts] keys in
// win.ini, and [windows] device= where it names the printer as the default one.
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

// [windows] device= names the default printer: "printer,driver,port". Left naming this printer,
// it would send every program's print dialog to a printer that is gone; another default printer
// is not touched. Windows matches printer names without letter case, as the [Devices] and
// [PrinterPorts] deletions do; no other printer's name differs from this one in case alone. The
// value is read like the [Devices] one, cut to 149 characters: a name whose comma lies beyond
// them is not this printer's.
static void ForgetDefaultPrinter(void)
{
  char defaultText[150];
  char* comma;

  memset(defaultText, 0, sizeof(defaultText));
  GetProfileStringA("windows", "device", "", defaultText, sizeof(defaultText));
  comma = strchr(defaultText, ',');
  if (comma == NULL)
    return;
  *comma = '\0';
  if (lstrcmpiA(defaultText, PRINTER_NAME) == 0)
    WriteProfileStringA("windows", "device", NULL);
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
  ForgetDefaultPrinter();
}
