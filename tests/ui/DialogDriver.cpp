#include "DialogDriver.h"

#include <gtest/gtest.h>

#include <thread>

namespace {
// A visible dialog (a message box is one too) of the thread, other than hOther.
HWND FindDialog(DWORD dwThreadId, HWND hOther = nullptr) {
    for (HWND hWnd = nullptr; (hWnd = FindWindowExW(nullptr, hWnd, L"#32770", nullptr)) != nullptr;)
        if (hWnd != hOther && GetWindowThreadProcessId(hWnd, nullptr) == dwThreadId && IsWindowVisible(hWnd)) return hWnd;
    return nullptr;
}

// Waits until the condition holds; false at the deadline.
bool WaitUntil(const std::function<bool()>& condition, DWORD dwTimeoutMs) {
    for (ULONGLONG deadline = GetTickCount64() + dwTimeoutMs; !condition(); Sleep(20))
        if (GetTickCount64() >= deadline) return false;
    return true;
}
}  // namespace

void RunModalDialog(const std::function<void()>& show, const std::function<void(HWND)>& drive, DWORD dwTimeoutMs) {
    static DWORD s_dwThreadId;
    s_dwThreadId = GetCurrentThreadId();
    std::thread driver([&] {
        HWND hFound = nullptr;
        // As long as the watchdog: a loaded machine may take that long to show it.
        if (!WaitUntil([&] { return (hFound = FindDialog(s_dwThreadId)) != nullptr; }, dwTimeoutMs)) {
            ADD_FAILURE() << "the dialog did not open";
            return;
        }
        drive(hFound);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(hFound); }, 10000)) << "the dialog is still open";
    });
    // The watchdog runs in the dialog's own message loop.
    UINT_PTR watchdog = SetTimer(nullptr, 0, dwTimeoutMs, [](HWND, UINT, UINT_PTR, DWORD) {
        ADD_FAILURE() << "watchdog: the dialog was not done in time";
        if (HWND hOpen = FindDialog(s_dwThreadId)) PostMessageW(hOpen, WM_COMMAND, IDCANCEL, 0);
    });
    show();
    KillTimer(nullptr, watchdog);
    driver.join();
}

std::wstring WindowText(HWND hWnd) {
    wchar_t szText[1024] = {};
    SendMessageW(hWnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(szText));
    return szText;
}

std::wstring ItemText(HWND hDlg, int id) { return WindowText(GetDlgItem(hDlg, id)); }

void TypeText(HWND hDlg, int id, const std::wstring& text) {
    SendMessageW(GetDlgItem(hDlg, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Click(HWND hDlg, int id) {
    HWND hButton = GetDlgItem(hDlg, id);
    ASSERT_NE(hButton, nullptr) << "no control " << id;
    SendMessageW(hButton, BM_CLICK, 0, 0);
}

std::wstring ClickAndAnswerMessageBox(HWND hDlg, int id) {
    // Posted: a sent click would wait for the message box to be answered.
    PostMessageW(GetDlgItem(hDlg, id), BM_CLICK, 0, 0);
    HWND hBox = nullptr;
    if (!WaitUntil([&] { return (hBox = FindDialog(GetWindowThreadProcessId(hDlg, nullptr), hDlg)) != nullptr; }, 10000))
        return L"";
    std::wstring text;
    EnumChildWindows(
        hBox,
        [](HWND hChild, LPARAM lParam) {
            wchar_t szClass[16] = {};
            GetClassNameW(hChild, szClass, 16);
            const std::wstring childText = WindowText(hChild);
            if (_wcsicmp(szClass, L"Static") == 0 && !childText.empty()) *reinterpret_cast<std::wstring*>(lParam) += childText;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&text));
    PostMessageW(hBox, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(hBox); }, 10000)) << "the message box stays";
    return text;
}

bool IsChecked(HWND hDlg, int id) { return SendMessageW(GetDlgItem(hDlg, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
