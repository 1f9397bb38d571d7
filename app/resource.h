// Resource IDs of the uninstaller: its icon and the controls that the dialog procedures address.
// The two dialogs are named templates ("WELCOME", "UNINSTALL"), so they have no number here.
#define IDI_UNINICON 100

// Controls: the standard IDOK and IDCANCEL buttons, and the program's own from 1000 up.
#define IDC_WELCOME_TEXT 1000
#define IDC_STATUS_TEXT 1007
#define IDC_PROGRESS 1008
