#include "provider/ExportGuards.h"

#include <cstring>
#include <new>

#include "model/CallFeatures.h"
#include "model/LineTable.h"
#include "model/ProviderState.h"

LONG ExportExceptionResult(const wchar_t* pszExport, const ExportKind& kind) noexcept {
    LONG lResult = kind.lFailed;
    const wchar_t* pszWhat = L"Exception";
    try {
        throw;
    } catch (const std::bad_alloc&) {
        lResult = kind.lNoMemory;
        pszWhat = L"Exception.Out of memory";
    } catch (...) {
    }
    // Even the trace must not let anything out now.
    try {
        // Written from level 1 on: an export that met an exception is news for support.
        Trace(1, L"Func.%s.Warning.%s", pszExport, pszWhat);
        Trace(kind.dwTraceLevel, L"Func.%s.End.Result 0x%08X", pszExport, static_cast<DWORD>(lResult));
    } catch (...) {
    }
    return lResult;
}

LONG LinePosFromDeviceID(DWORD dwDeviceID) {
    // Each line keeps the identifier TAPI knows it by, also when lines before it were removed.
    return GetPosFromDeviceID(dwDeviceID);
}

PhoneLine* LineRecordOf(HDRVLINE hdLine) { return GetPhoneLine(GetPosFromLineRecord(hdLine)); }

LONG RefuseRemovedLine(const CFuncTrace& trace, const PhoneLine* pLine, int nCheck) {
    if (pLine == nullptr || !pLine->m_bRemoved) return 0;
    return trace.Abort(LINEERR_NODEVICE, nCheck, L"Line removed");
}

LONG RefuseRemovedLine(const CFuncTrace& trace, LONG lLinePos, int nCheck) {
    return RefuseRemovedLine(trace, GetPhoneLine(lLinePos), nCheck);
}

bool IsOpenLine(const PhoneLine* pLine) {
    return pLine != nullptr && pLine->m_htLine != nullptr && GetPosFromHtLine(pLine->m_htLine) >= 0;
}

bool IsLiveCall(HDRVCALL hdCall) {
    auto* pCall = reinterpret_cast<const PhoneCall*>(hdCall);
    LONG lLinePos = GetLinePosFromPPCall(pCall);
    return lLinePos >= 0 && GetCallPosition(static_cast<DWORD>(lLinePos), pCall) >= 0;
}

LONG RefuseRequest(const wchar_t* pszExport) {
    return RunExport(pszExport, [](const CFuncTrace&) -> LONG { return LINEERR_OPERATIONUNAVAIL; });
}

LONG CCallHandleChecks::Writable(int nCheck, LONG lError) {
    if (m_pCall == nullptr || IsBadWritePtr(m_pCall, sizeof(PhoneCall))) return m_trace.Abort(lError, nCheck);
    return 0;
}

LONG CCallHandleChecks::HasLine(int nCheck, LONG lError) {
    m_lLinePos = GetLinePosFromPPCall(m_pCall);
    if (m_lLinePos < 0) return m_trace.Abort(lError, nCheck);
    return RefuseRemovedLine(m_trace, m_lLinePos, nCheck);
}

LONG CCallHandleChecks::InService(int nCheck) {
    if (GetPhoneLine(m_lLinePos)->m_bOutOfService) return m_trace.Abort(LINEERR_OPERATIONUNAVAIL, nCheck, L"Out of service");
    return 0;
}

LONG CCallHandleChecks::InSlotsOf(LONG lLinePos, int nCheck, LONG lError) {
    m_lCallPos = lLinePos < 0 ? -1 : GetCallPosition(static_cast<DWORD>(lLinePos), m_pCall);
    if (m_lCallPos < 0) return m_trace.Abort(lError, nCheck);
    m_lLinePos = lLinePos;
    return 0;
}

LONG CCallHandleChecks::Feature(DWORD dwFeature) {
    LONG lResult = CheckTSPICommandCallFeatures(m_lLinePos, m_lCallPos, dwFeature);
    if (lResult != 0) m_trace.Line(L"Abort.Error.FeatureCheck 0x%08X", static_cast<DWORD>(lResult));
    return lResult;
}

DWORD CCallHandleChecks::State() const {
    return m_pCall->m_pLineCallStatus != nullptr ? m_pCall->m_pLineCallStatus->dwCallState : 0;
}

LONG CCallHandleChecks::Handle(int nFirstCheck) {
    if (LONG lResult = Writable(nFirstCheck)) return lResult;
    if (LONG lResult = HasLine(nFirstCheck + 1)) return lResult;
    if (LONG lResult = InService(nFirstCheck + 2)) return lResult;
    return InSlots(nFirstCheck + 3);
}

LONG CCallHandleChecks::HandlePointerAndFeature(const void* pPointer, DWORD dwFeature) {
    if (LONG lResult = Writable(1)) return lResult;
    if (pPointer == nullptr) return m_trace.Abort(LINEERR_INVALPOINTER, 2);
    if (LONG lResult = HasLine(3)) return lResult;
    if (LONG lResult = InService(4)) return lResult;
    if (LONG lResult = InSlots(5)) return lResult;
    return Feature(dwFeature);
}

void AnswerCapsRecord(void* pDest, const void* pSource, size_t cbStringSizeField, size_t cbStringOffsetField) {
    auto* pHeader = static_cast<TapiRecordHeader*>(pDest);
    const DWORD dwTotalSize = pHeader->dwTotalSize;
    const DWORD dwUsedSize = static_cast<const TapiRecordHeader*>(pSource)->dwUsedSize;
    if (dwUsedSize <= dwTotalSize) {
        std::memcpy(pDest, pSource, dwUsedSize);
    } else {
        std::memcpy(pDest, pSource, dwTotalSize);
        pHeader->dwNeededSize = dwUsedSize;
        pHeader->dwUsedSize = dwTotalSize;
        auto* pBytes = static_cast<BYTE*>(pDest);
        *reinterpret_cast<DWORD*>(pBytes + cbStringSizeField) = 0;
        *reinterpret_cast<DWORD*>(pBytes + cbStringOffsetField) = 0;
    }
    pHeader->dwTotalSize = dwTotalSize;
}

bool AnswerStatusRecord(void* pDest, const void* pSource, DWORD cbRecord) {
    auto* pHeader = static_cast<TapiRecordHeader*>(pDest);
    const DWORD dwTotalSize = pHeader->dwTotalSize;
    pHeader->dwNeededSize = cbRecord;
    if (dwTotalSize < cbRecord) return false;
    std::memcpy(pDest, pSource, cbRecord);
    pHeader->dwTotalSize = dwTotalSize;
    return true;
}
