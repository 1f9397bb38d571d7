// The uninstaller's entry point: the welcome dialog, then the progress dialog that runs the
// removal, then the prompt that offers to restart Windows. The last dialog's result is the exit code.
#include "app.h"
#include "removal.h"

HINSTANCE g_instance = NULL;

static const char SUCCESS_TITLE[] = "Disinstallation succeeded";
static const char SUCCESS_TEXT[] =
  "The " PRINTER_NAME
  " driver has been correctly disinstalled.\n"
  "You must restart your PC to finish the disinstallation.\n"
  "\n"
  "Click on the 'Yes' button to reboot now.\n"
  "Choose 'No' if you want to continue working.\n"
  "\n"
  "The disinstallation will not be effective until you restart Windows.";

void ConfirmRestart(HWND owner, LPCSTR text)
{
  int answer = MessageBoxA(owner, text, SUCCESS_TITLE, MB_YESNO | MB_ICONWARNING | MB_SYSTEMMODAL);
  if (answer == IDYES)
    ExitWindowsEx(EWX_REBOOT, 0);  // Windows restarts on its own time; nothing to wait for
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand)
{
  (void)previous;
  (void)commandLine;
  (void)showCommand;
  g_instance = instance;

  // The UNINSTALL template creates its progress bar before its WM_INITDIALOG arrives, so the
  // bar's window class must be registered before that dialog is created.
  InitCommonControls();

  INT_PTR result = DialogBoxParamA(g_instance, "WELCOME", NULL, WelcomeDialogProc, 0);

  // -1: the welcome dialog never appeared, so the user cannot have agreed to anything.
  if (g_confirmed == 1 && result != 0 && result != -1) {
    result = DialogBoxParamA(g_instance, "UNINSTALL", NULL, ProgressDialogProc, 0);
    if (result != 0) {
      // Closed before its removal ran (Escape, the close button, or never created):
      // nothing was removed, and the user is told so rather than offered a restart.
      if (g_removalRan)
        ConfirmRestart(NULL, SUCCESS_TEXT);
      else
        ShowAbortedMessage(NULL);
    }
  }
  return (int)result;
}
