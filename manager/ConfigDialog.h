// The configuration dialog: account, connection test, number and line-name
// formats, debug log. It runs in the process of the application that asked
// for the configuration and reaches the service only through the registry
// and the shared settings record.
#pragma once

#include <windows.h>

extern HWND g_hDlg;                         // the open dialog, null when closed
extern DWORD g_bDebugLog;                   // state of the "debug log" box
extern wchar_t g_szNumberFormatChoice[8];   // chosen formats, saved only on OK
extern wchar_t g_szLineFormatChoice[8];

INT_PTR CALLBACK ConfigDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
