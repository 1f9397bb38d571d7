// The UNINSTALL dialog: a status text and a bar paced by a timer. When the ticks are used up it
// runs the whole removal, synchronously, and closes itself through its own Cancel command.
#include "app.h"
#include "removal.h"

// The pacing: the bar's range and step, and the timer that drives it.
static const UINT_PTR PROGRESS_TIMER_ID = 1;
// Milliseconds; the system timer decides the real pace.
static const UINT PROGRESS_TIMER_INTERVAL = 1;
static const int PROGRESS_RANGE_MAX = 140;
static const int PROGRESS_STEP = -2;
static const int TICK_LIMIT = 72;  // counts 2 to 71 step the bar; the count 72 starts the removal

static HWND g_progressBar = NULL;  // the bar, control IDC_PROGRESS
static int g_tickCount = 0;        // 1 at the dialog's start, one more per timer message
int g_removalRan = 0;

static const char PROGRESS_CAPTION[] = "Disinstalling the driver";
static const char PROGRESS_TEXT[] =
  "The " PRINTER_NAME " driver is currently being disinstalled...";

static void StartPacing(HWND dialog)
{
  g_tickCount = 1;
  if (SetTimer(dialog, PROGRESS_TIMER_ID, PROGRESS_TIMER_INTERVAL, NULL) == 0) {
    // No timer to be had: the bar cannot be paced, but the user has confirmed, so one
    // tick of our own starts the removal at once.
    g_tickCount = TICK_LIMIT - 1;
    PostMessageA(dialog, WM_TIMER, PROGRESS_TIMER_ID, 0);
  }
}

// The tick that reaches TICK_LIMIT: the removal, then the dialog closes itself.
static void RunRemoval(HWND dialog)
{
  KillTimer(dialog, PROGRESS_TIMER_ID);
  RemoveProduct();  // blocks the dialog loop until every stage has run
  g_removalRan = 1;
  // Posted, not sent: the close comes after this tick has returned. Should the post fail,
  // the dialog ends here, so that it never stays open with nothing left to do.
  if (!PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0))
    EndDialog(dialog, IDCANCEL);
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
  (void)lParam;
  switch (message) {
  case WM_INITDIALOG:
    InitCommonControls();
    SetWindowTextA(dialog, PROGRESS_CAPTION);
    SendMessageA(GetDlgItem(dialog, IDC_STATUS_TEXT), WM_SETTEXT, 0, (LPARAM)PROGRESS_TEXT);
    g_progressBar = GetDlgItem(dialog, IDC_PROGRESS);
    SendMessageA(g_progressBar, PBM_SETRANGE, 0, MAKELPARAM(0, PROGRESS_RANGE_MAX));
    SendMessageA(g_progressBar, PBM_SETSTEP, (WPARAM)(DWORD)PROGRESS_STEP, 0);  // 0xFFFFFFFE
    g_removalRan = 0;
    StartPacing(dialog);
    return FALSE;

  case WM_TIMER:
    // Any timer ID counts. Once the removal has run, a late tick has nothing left to do.
    if (g_removalRan)
      return TRUE;
    g_tickCount++;
    if (g_tickCount < TICK_LIMIT)
      SendMessageA(g_progressBar, PBM_STEPIT, 0, 0);
    else
      RunRemoval(dialog);
    return TRUE;

  case WM_COMMAND:
    // IDCANCEL: our own close after the removal, or Escape and the close button before it;
    // WinMain tells the two apart by g_removalRan.
    if (wParam == IDCANCEL)
      EndDialog(dialog, IDCANCEL);
    return TRUE;
  }
  return FALSE;
}
