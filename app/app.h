// The uninstaller's flow: the entry point, the welcome and progress dialogs, the restart prompt,
// and the few process-wide values they share. Everything runs on the program's one thread.
#pragma once

#include "platform.h"
#include "resource.h"

// The progress dialog's pacing: the bar's range and step, and the timer that drives it.
const UINT_PTR PROGRESS_TIMER_ID = 1;
const UINT PROGRESS_TIMER_INTERVAL = 1;  // milliseconds; the system timer decides the real pace
const int PROGRESS_RANGE_MAX = 140;
const int PROGRESS_STEP = -2;
const int TICK_LIMIT = 72;  // counts 2 to 71 step the bar; the count 72 starts the removal

extern HINSTANCE g_instance;  // this program's instance: both dialog templates come from it
extern int g_confirmed;       // 1 until the welcome dialog is cancelled; read once by WinMain
extern HWND g_progressBar;    // the progress dialog's bar, control IDC_PROGRESS
extern int g_tickCount;       // 1 at the progress dialog's start, one more per timer message
extern int g_removalRan;      // set once RemoveProduct has returned inside the progress dialog

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

// The final message: the driver is gone; Yes asks Windows to restart.
void ConfirmRestart(HWND owner, LPCSTR text);

// Tells the user that nothing was removed (one OK button), owned by the given window or none.
void ShowAbortedMessage(HWND owner);

INT_PTR CALLBACK WelcomeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
