#include "Screenshot.h"

#include <objbase.h>

// GDI+'s flat interface: the C++ wrapper headers do not build with NOMINMAX.
extern "C" {
struct GdiplusStartupInput {
    UINT32 GdiplusVersion;
    void* DebugEventCallback;
    BOOL SuppressBackgroundThread;
    BOOL SuppressExternalCodecs;
};
int WINAPI GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, void* output);
void WINAPI GdiplusShutdown(ULONG_PTR token);
int WINAPI GdipCreateBitmapFromHBITMAP(HBITMAP hbm, HPALETTE hpal, void** bitmap);
int WINAPI GdipSaveImageToFile(void* image, const WCHAR* filename, const CLSID* encoder, const void* params);
int WINAPI GdipDisposeImage(void* image);
}

namespace {
// The PNG encoder of GDI+.
const CLSID kPngEncoder = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
}  // namespace

bool SaveWindowPng(HWND hWnd, const std::wstring& path) {
    RECT rect;
    if (!GetWindowRect(hWnd, &rect)) return false;
    int cx = rect.right - rect.left;
    int cy = rect.bottom - rect.top;
    HDC hScreen = GetDC(nullptr);
    HDC hMemory = CreateCompatibleDC(hScreen);
    HBITMAP hBitmap = CreateCompatibleBitmap(hScreen, cx, cy);
    HGDIOBJ hOld = SelectObject(hMemory, hBitmap);
    BOOL bCopied = BitBlt(hMemory, 0, 0, cx, cy, hScreen, rect.left, rect.top, SRCCOPY);
    SelectObject(hMemory, hOld);
    DeleteDC(hMemory);
    ReleaseDC(nullptr, hScreen);

    bool bSaved = false;
    GdiplusStartupInput input = {1, nullptr, FALSE, FALSE};
    ULONG_PTR token = 0;
    if (bCopied && GdiplusStartup(&token, &input, nullptr) == 0) {
        void* pImage = nullptr;
        if (GdipCreateBitmapFromHBITMAP(hBitmap, nullptr, &pImage) == 0) {
            bSaved = GdipSaveImageToFile(pImage, path.c_str(), &kPngEncoder, nullptr) == 0;
            GdipDisposeImage(pImage);
        }
        GdiplusShutdown(token);
    }
    DeleteObject(hBitmap);
    return bSaved;
}
