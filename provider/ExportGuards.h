// What the exports share: the run that lets no exception out (with or
// without the ProviderLock), turning device IDs and handles into positions,
// the refusal of removed lines, the call-handle checks and the TAPI manner of
// answering variable-size records.
#pragma once

#include <windows.h>

#include "log/Trace.h"
#include "model/PhoneCall.h"
#include "model/ProviderLock.h"
#include "model/TapiDefs.h"

// How an export is traced and which TAPI codes end it when its body throws.
struct ExportKind {
    DWORD dwTraceLevel;
    LONG lNoMemory;  // for std::bad_alloc
    LONG lFailed;    // for any other exception
};
constexpr ExportKind kLineExport{1, LINEERR_NOMEM, LINEERR_OPERATIONFAILED};
constexpr ExportKind kPhoneExport{5, PHONEERR_NOMEM, PHONEERR_OPERATIONFAILED};

// The result an exception ends an export with, traced under the export's
// name; called from inside a catch block.
LONG ExportExceptionResult(const wchar_t* pszExport, const ExportKind& kind) noexcept;

// Runs an export's body (LONG body(const CFuncTrace&)) between its Begin and
// End lines. Nothing is thrown across the exported interface: an allocation
// failure ends the export with LINEERR_NOMEM, any other exception with
// LINEERR_OPERATIONFAILED (the phone exports answer with their PHONEERR_
// codes), whether it comes from the body or from the tracing around it.
template <typename Body>
LONG RunExport(const wchar_t* pszExport, Body body, const ExportKind& kind = kLineExport) noexcept {
    try {
        CFuncTrace trace(kind.dwTraceLevel, pszExport);
        return trace.End(body(static_cast<const CFuncTrace&>(trace)));
    } catch (...) {
        return ExportExceptionResult(pszExport, kind);
    }
}

// The same inside the ProviderLock: the lock is entered before the first
// trace line and left after the End line, and also when the body throws.
template <typename Body>
LONG RunLockedExport(DWORD dwOwnerCode, const wchar_t* pszExport, Body body) noexcept {
    try {
        CProviderLockGuard lock(dwOwnerCode);
        CFuncTrace trace(kLineExport.dwTraceLevel, pszExport);
        return trace.End(body(static_cast<const CFuncTrace&>(trace)));
    } catch (...) {
        return ExportExceptionResult(pszExport, kLineExport);
    }
}

// Line position of a TAPI device ID, or -1 when it is not one of ours.
LONG LinePosFromDeviceID(DWORD dwDeviceID);

// The line record a line handle names, or null when it is none of the table's.
PhoneLine* LineRecordOf(HDRVLINE hdLine);

// A line whose extension left the PBX directory answers every request with
// LINEERR_NODEVICE, as TAPI does for a removed device, except the closing of
// the line and of its calls, with which TAPI lets go of them. Traced as the
// export's check nCheck; 0 for any other line (or none).
LONG RefuseRemovedLine(const CFuncTrace& trace, const PhoneLine* pLine, int nCheck);
LONG RefuseRemovedLine(const CFuncTrace& trace, LONG lLinePos, int nCheck);
// Whether TAPI has the line open: some line has the record's TAPI handle.
bool IsOpenLine(const PhoneLine* pLine);
// Whether a call handle names a call that is in its line's slots now. A
// handle TAPI kept after the call was removed is not one.
bool IsLiveCall(HDRVCALL hdCall);

// The refusal of a request the provider never offers: no checks, no lock.
LONG RefuseRequest(const wchar_t* pszExport);

// The call-handle checks one at a time, for the exports that put checks of
// their own between them; each takes the check number the export traces and
// returns 0 or the refusal (already traced):
//   1 Writable   the call record is writable       (else LINEERR_INVALCALLHANDLE)
//   2 HasLine    it belongs to a line of the table (else LINEERR_INVALCALLHANDLE),
//                which was not removed             (else LINEERR_NODEVICE)
//   3 InService  that line is in service           (else LINEERR_OPERATIONUNAVAIL)
//   4 InSlots    the call is in the line's slots   (else LINEERR_INVALCALLHANDLE)
//   5 Feature    the call may do the operation now (else the feature check's result)
// A few exports answer a failed check with another code; they pass it.
class CCallHandleChecks {
public:
    CCallHandleChecks(const CFuncTrace& trace, HDRVCALL hdCall)
        : m_trace(trace), m_pCall(reinterpret_cast<PhoneCall*>(hdCall)) {}

    LONG Writable(int nCheck, LONG lError = LINEERR_INVALCALLHANDLE);
    LONG HasLine(int nCheck, LONG lError = LINEERR_INVALCALLHANDLE);
    LONG InService(int nCheck);
    LONG InSlots(int nCheck, LONG lError = LINEERR_INVALCALLHANDLE) { return InSlotsOf(m_lLinePos, nCheck, lError); }
    // The same for the slots of another call's line.
    LONG InSlotsOf(LONG lLinePos, int nCheck, LONG lError = LINEERR_INVALCALLHANDLE);
    // Traced "FeatureCheck 0x%08X"; the export has no number for it.
    LONG Feature(DWORD dwFeature);
    // Checks 1 to 4 in a row, numbered from nFirstCheck.
    LONG Handle(int nFirstCheck);
    // Checks 1 to 5 of the requests that take one more pointer: a writable
    // call handle, the pointer (LINEERR_INVALPOINTER), the call's line, in
    // service, in its slots; then the feature.
    LONG HandlePointerAndFeature(const void* pPointer, DWORD dwFeature);

    PhoneCall* Call() const { return m_pCall; }
    LONG LinePos() const { return m_lLinePos; }  // after HasLine
    LONG CallPos() const { return m_lCallPos; }  // after InSlots
    // The call's current state (0 when unknown), after Writable.
    DWORD State() const;

private:
    const CFuncTrace& m_trace;
    PhoneCall* m_pCall;
    LONG m_lLinePos = -1;
    LONG m_lCallPos = -1;
};


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
