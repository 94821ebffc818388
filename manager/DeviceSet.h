// The device set: one TAPI line per phone extension of the account. A line
// belongs to its extension, not to a place in the PBX directory: when the
// directory changes, a line whose extension stays keeps its device ID, its
// handle and its calls, a new extension gets a new line that TAPI learns of
// through LINE_CREATE, and the line of an extension that left goes with
// LINE_REMOVE. Every function here expects its caller to hold the
// ProviderLock, so that the device count, the line table and the addresses
// change in one step for exports and dispatcher alike.
#pragma once

#include <windows.h>

#include <vector>

#include "pbx/ExtensionDirectory.h"

// What bringing the device set in line with a directory did.
struct DeviceSetChanges {
    DWORD dwKept = 0;     // lines whose extension stays, renamed ones included
    DWORD dwRenamed = 0;  // of those, the lines whose name or address changed
    DWORD dwCreated = 0;  // new lines, announced with LINE_CREATE
    DWORD dwRemoved = 0;  // lines ended with LINE_REMOVE
};

// Start-up, before TAPI counts the lines: the lines are the directory's
// extensions in directory order. Their records are built by LineCapsInit.
void SetDeviceSet(std::vector<ExtensionInfo> directory);

// A re-initialisation: matches the lines to the directory's extensions (by
// uuid, or by number where the PBX gives no uuid) and carries out the
// difference.
DeviceSetChanges ApplyDirectory(const std::vector<ExtensionInfo>& directory);

// Lines that are not removed.
DWORD CountLinesInUse();

// TAPI's answer to a LINE_CREATE: the line announced with dwTempID is known
// by dwDeviceID from now on. 0, or LINEERR_BADDEVICEID for a temporary
// identifier that names no line waiting for its device ID.
LONG CreateLineDevice(DWORD_PTR dwTempID, DWORD dwDeviceID);
