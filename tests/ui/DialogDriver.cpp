#include "DialogDriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

namespace {
constexpr DWORD kOpenTimeoutMs = 20000;
constexpr DWORD kPollMs = 20;

struct FindContext {
    HWND hFound = nullptr;
};

BOOL CALLBACK FindDialogWindow(HWND hWnd, LPARAM lParam) {
    wchar_t szClass[16] = {};
    GetClassNameW(hWnd, szClass, 16);
    if (wcscmp(szClass, L"#32770") != 0 || !IsWindowVisible(hWnd)) return TRUE;
    reinterpret_cast<FindContext*>(lParam)->hFound = hWnd;
    return FALSE;
}

HWND FindDialog(DWORD dwThreadId) {
    FindContext context;
    EnumThreadWindows(dwThreadId, FindDialogWindow, reinterpret_cast<LPARAM>(&context));
    return context.hFound;
}
}  // namespace

bool WaitUntil(const std::function<bool()>& condition, DWORD dwTimeoutMs) {
    ULONGLONG deadline = GetTickCount64() + dwTimeoutMs;
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(kPollMs);
    }
}

void RunModalDialog(const std::function<void()>& show, const std::function<void(HWND)>& drive, DWORD dwTimeoutMs) {
    DWORD dwThreadId = GetCurrentThreadId();
    HANDLE hDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<HWND> hDialog{nullptr};

    std::thread driver([&] {
        HWND hFound = nullptr;
        if (!WaitUntil([&] { return (hFound = FindDialog(dwThreadId)) != nullptr; }, kOpenTimeoutMs)) {
            ADD_FAILURE() << "the dialog did not open";
            return;
        }
        hDialog = hFound;
        drive(hFound);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(hFound); }, 10000)) << "the dialog is still open";
    });
    std::thread watchdog([&] {
        if (WaitForSingleObject(hDone, dwTimeoutMs) == WAIT_OBJECT_0) return;
        ADD_FAILURE() << "watchdog: the dialog was not done within " << dwTimeoutMs << " ms";
        HWND hOpen = hDialog != nullptr ? hDialog.load() : FindDialog(dwThreadId);
        if (hOpen != nullptr) PostMessageW(hOpen, WM_COMMAND, IDCANCEL, 0);
        if (WaitForSingleObject(hDone, 15000) != WAIT_OBJECT_0) {
            fputs("watchdog: the dialog cannot be closed, giving up\n", stderr);
            fflush(stderr);
            ExitProcess(3);
        }
    });
    show();
    driver.join();
    SetEvent(hDone);
    watchdog.join();
    CloseHandle(hDone);
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

bool IsChecked(HWND hDlg, int id) { return SendMessageW(GetDlgItem(hDlg, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
