// What the line and call exports share: the locked run with its exception
// handler, turning device IDs and handles into positions, the call-handle
// checks and the TAPI manner of answering variable-size records.
#pragma once

#include <windows.h>

#include "log/Trace.h"
#include "manager/ProviderLock.h"
#include "model/TapiDefs.h"

// Runs an export's body (LONG body(const CFuncTrace&)) inside the
// ProviderLock: the lock is entered before the first trace line and left
// after the End line. Nothing is thrown across the exported interface: an
// exception ends the export with LINEERR_OPERATIONFAILED.
template <typename Body>
LONG RunLockedExport(DWORD dwOwnerCode, const wchar_t* pszExport, Body body) {
    CProviderLockGuard lock(dwOwnerCode);
    CFuncTrace trace(1, pszExport);
    LONG lResult = LINEERR_OPERATIONFAILED;
    try {
        lResult = body(static_cast<const CFuncTrace&>(trace));
    } catch (...) {
        trace.Warning(L"Exception");
    }
    return trace.End(lResult);
}

// Line position of a TAPI device ID, or -1 when it is not one of ours.
LONG LinePosFromDeviceID(DWORD dwDeviceID);

// Line and call positions of a call handle, after the call-handle checks.
struct CallPosition {
    LONG lLinePos;
    LONG lCallPos;
};

// The call-handle checks, numbered from nFirstCheck in the export's traces:
// record not writable, no line, line out of service, not in its line's slots.
// Returns 0 and fills *pPosition, or the refusal (already traced).
LONG CheckCallHandle(const CFuncTrace& trace, HDRVCALL hdCall, int nFirstCheck, CallPosition* pPosition);

// The first fields of every variable-size TAPI record.
struct TapiRecordHeader {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
};

// A capabilities record: the whole used part when it fits into the caller's
// dwTotalSize; else as much as fits, with dwNeededSize telling the full size
// and the string at the given size/offset fields (byte offsets in the
// record) cleared, as it was cut off. dwTotalSize stays the caller's.
void AnswerCapsRecord(void* pDest, const void* pSource, size_t cbStringSizeField, size_t cbStringOffsetField);
// A status record of a fixed cbRecord bytes: copied when it fits, else only
// dwNeededSize is set. True when copied.
bool AnswerStatusRecord(void* pDest, const void* pSource, DWORD cbRecord);
