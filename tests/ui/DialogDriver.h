// Drives a modal dialog the way a user would, from a second thread, while the
// test's own thread sits in the dialog's message loop.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Runs show() on this thread and drive(dialog), which must close it, on a second
// thread once it is visible. A dialog still open after the time out is cancelled.
void RunModalDialog(const std::function<void()>& show, const std::function<void(HWND hDlg)>& drive,
                    DWORD dwTimeoutMs = 60000);

// What a user sees and does, on the dialog of another thread.
std::wstring WindowText(HWND hWnd);
std::wstring ItemText(HWND hDlg, int id);
void TypeText(HWND hDlg, int id, const std::wstring& text);
void Click(HWND hDlg, int id);
bool IsChecked(HWND hDlg, int id);
// Clicks a button whose action shows a message box, reads the box's text and
// answers it with OK; the text, or empty when no message box came.
std::wstring ClickAndAnswerMessageBox(HWND hDlg, int id);
