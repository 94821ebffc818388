// Drives a modal dialog the way a user would, from a second thread, while
// the test's own thread sits in the dialog's message loop. A watchdog closes
// the dialog and fails the test when the driving does not finish in time, so
// that a broken dialog fails instead of hanging the run.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Runs show() on this thread (it returns when the dialog closes) and
// drive(dialog) on a second thread once the dialog is visible. The drive
// must close the dialog; failures are reported through GoogleTest.
void RunModalDialog(const std::function<void()>& show, const std::function<void(HWND hDlg)>& drive,
                    DWORD dwTimeoutMs = 60000);

// What a user sees and does, on the dialog of another thread.
std::wstring WindowText(HWND hWnd);
std::wstring ItemText(HWND hDlg, int id);
void TypeText(HWND hDlg, int id, const std::wstring& text);
void Click(HWND hDlg, int id);
bool IsChecked(HWND hDlg, int id);
// Saves what the screen shows of a window as a PNG file.
bool SaveWindowPng(HWND hWnd, const std::wstring& path);
