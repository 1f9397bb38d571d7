// The WELCOME dialog: the user's one decision before anything is removed. OK goes on to the
// removal; Cancel (also the Escape key and the close button) ends the program with a message.
#include "app.h"
#include "removal.h"

int g_confirmed = 1;

static const char WELCOME_CAPTION[] = "Welcome to the disinstallation program";
static const char WELCOME_TEXT[] =
  "Click on the 'OK' button to start disinstalling the " PRINTER_NAME
  " driver.\n"
  "Click on the 'Cancel' button to quit the disinstallation procedure.";
static const char ABORTED_TITLE[] = "Disinstallation aborted";
static const char ABORTED_TEXT[] =
  "The " PRINTER_NAME " driver has not been disinstalled and remains on your PC.";

void ShowAbortedMessage(HWND owner)
{
  MessageBoxA(owner, ABORTED_TEXT, ABORTED_TITLE, MB_OK);
}

INT_PTR CALLBACK WelcomeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
  (void)lParam;
  switch (message) {
  case WM_INITDIALOG:
    SetWindowTextA(dialog, WELCOME_CAPTION);
    SendMessageA(GetDlgItem(dialog, IDC_WELCOME_TEXT), WM_SETTEXT, 0, (LPARAM)WELCOME_TEXT);
    return TRUE;  // the system gives the default button the focus

  case WM_COMMAND:
    // The whole wParam is the command: a button's click, or IDCANCEL from Escape and the
    // caption's close button. The flag changes only once the dialog has been told to end.
    if (wParam == IDOK) {
      EndDialog(dialog, IDOK);
      g_confirmed = 1;
    } else if (wParam == IDCANCEL) {
      EndDialog(dialog, IDCANCEL);
      ShowAbortedMessage(dialog);  // the dialog stays on screen until this returns
      g_confirmed = 0;
    }
    return FALSE;
  }
  return FALSE;
}
