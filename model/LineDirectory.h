// What a line's records take from the PBX directory when they are built:
// the name, address and device number of the line at a position, and the
// number its extension keeps in its permanent line ID. The directory is the
// manager's; it fills these in when it is constructed.
#pragma once

#include <windows.h>

struct LineDirectory {
    const wchar_t* (*pfnFirstName)(DWORD dwDeviceIndex) = nullptr;
    const wchar_t* (*pfnFirstAddress)(DWORD dwDeviceIndex) = nullptr;
    const wchar_t* (*pfnFirstDeviceNumber)(DWORD dwDeviceIndex) = nullptr;
    // 0 when none can be remembered.
    DWORD (*pfnPermanentLineNumber)(DWORD dwDeviceIndex, DWORD dwPreferred) = nullptr;
};

extern LineDirectory g_LineDirectory;
