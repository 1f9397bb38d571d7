// The uninstaller's flow: the entry point, the welcome and progress dialogs, the restart prompt,
// and the few process-wide values they share. Everything runs on the program's one thread.
#pragma once

#include "platform.h"
#include "resource.h"

extern HINSTANCE g_instance;  // this program's instance: both dialog templates come from it
extern int g_confirmed;       // 1 until the welcome dialog is cancelled; read once by WinMain
extern int g_removalRan;      // set once RemoveProduct has returned inside the progress dialog

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

// The final message: the driver is gone; Yes asks Windows to restart.
void ConfirmRestart(HWND owner, LPCSTR text);

// Tells the user that nothing was removed (one OK button), owned by the given window or none.
void ShowAbortedMessage(HWND owner);

INT_PTR CALLBACK WelcomeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
