#include "DialogDriver.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <thread>

// GDI+'s flat interface: the C++ wrapper headers do not build with NOMINMAX.
extern "C" {
int WINAPI GdiplusStartup(ULONG_PTR* token, const void* input, void* output);
void WINAPI GdiplusShutdown(ULONG_PTR token);
int WINAPI GdipCreateBitmapFromHBITMAP(HBITMAP hbm, HPALETTE hpal, void** bitmap);
int WINAPI GdipSaveImageToFile(void* image, const WCHAR* filename, const CLSID* encoder, const void* params);
int WINAPI GdipDisposeImage(void* image);
}

namespace {
// The PNG encoder of GDI+.
const CLSID kPngEncoder = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};

HWND FindDialog(DWORD dwThreadId) {
    for (HWND hWnd = nullptr; (hWnd = FindWindowExW(nullptr, hWnd, L"#32770", nullptr)) != nullptr;)
        if (GetWindowThreadProcessId(hWnd, nullptr) == dwThreadId && IsWindowVisible(hWnd)) return hWnd;
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
    struct Search {
        HWND hDlg;
        HWND hBox;
    } search{hDlg, nullptr};
    const DWORD dwThreadId = GetWindowThreadProcessId(hDlg, nullptr);
    auto findBox = [&] {
        EnumThreadWindows(
            dwThreadId,
            [](HWND hWnd, LPARAM lParam) {
                auto* pSearch = reinterpret_cast<Search*>(lParam);
                wchar_t szClass[16] = {};
                GetClassNameW(hWnd, szClass, 16);
                if (hWnd == pSearch->hDlg || wcscmp(szClass, L"#32770") != 0 || !IsWindowVisible(hWnd)) return TRUE;
                pSearch->hBox = hWnd;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.hBox != nullptr;
    };
    if (!WaitUntil(findBox, 10000)) return L"";
    std::wstring text;
    EnumChildWindows(
        search.hBox,
        [](HWND hChild, LPARAM lParam) {
            wchar_t szClass[16] = {};
            GetClassNameW(hChild, szClass, 16);
            const std::wstring childText = WindowText(hChild);
            if (_wcsicmp(szClass, L"Static") == 0 && !childText.empty()) *reinterpret_cast<std::wstring*>(lParam) += childText;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&text));
    PostMessageW(search.hBox, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(search.hBox); }, 10000)) << "the message box stays";
    return text;
}

bool IsChecked(HWND hDlg, int id) { return SendMessageW(GetDlgItem(hDlg, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

bool SaveWindowPng(HWND hWnd, const std::wstring& path) {
    RECT rect;
    if (!GetWindowRect(hWnd, &rect)) return false;
    HDC hScreen = GetDC(nullptr);
    HDC hMemory = CreateCompatibleDC(hScreen);
    HBITMAP hBitmap = CreateCompatibleBitmap(hScreen, rect.right - rect.left, rect.bottom - rect.top);
    HGDIOBJ hOld = SelectObject(hMemory, hBitmap);
    BOOL bCopied =
        BitBlt(hMemory, 0, 0, rect.right - rect.left, rect.bottom - rect.top, hScreen, rect.left, rect.top, SRCCOPY);
    SelectObject(hMemory, hOld);
    DeleteDC(hMemory);
    ReleaseDC(nullptr, hScreen);

    bool bSaved = false;
    // GdiplusStartupInput, version 1 with the defaults.
    struct { UINT32 uVersion; void* pfnDebugEvent; BOOL bNoThread, bNoCodecs; } input = {1, nullptr, FALSE, FALSE};
    ULONG_PTR token = 0;
    void* pImage = nullptr;
    if (bCopied && GdiplusStartup(&token, &input, nullptr) == 0) {
        if (GdipCreateBitmapFromHBITMAP(hBitmap, nullptr, &pImage) == 0) {
            bSaved = GdipSaveImageToFile(pImage, path.c_str(), &kPngEncoder, nullptr) == 0;
            GdipDisposeImage(pImage);
        }
        GdiplusShutdown(token);
    }
    DeleteObject(hBitmap);
    return bSaved;
}
