// Saves what the screen shows of a window as a PNG file.
#pragma once

#include <windows.h>

#include <string>

bool SaveWindowPng(HWND hWnd, const std::wstring& path);
