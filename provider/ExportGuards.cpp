#include "provider/ExportGuards.h"

#include <cstring>

#include "manager/ProviderState.h"
#include "model/CallFeatures.h"
#include "model/LineTable.h"

LONG LinePosFromDeviceID(DWORD dwDeviceID) {
    // Unsigned: IDs below the base wrap around and are refused too.
    DWORD dwPos = dwDeviceID - g_dwLineDeviceIDBase;
    return dwPos < g_dwDeviceCount && dwPos < g_PhoneLines.size() ? static_cast<LONG>(dwPos) : -1;
}

LONG CheckCallHandle(const CFuncTrace& trace, HDRVCALL hdCall, int nFirstCheck, CallPosition* pPosition) {
    auto* pCall = reinterpret_cast<PhoneCall*>(hdCall);
    if (pCall == nullptr || IsBadWritePtr(pCall, sizeof(PhoneCall)))
        return trace.Abort(LINEERR_INVALCALLHANDLE, nFirstCheck);
    LONG lLinePos = GetLinePosFromPPCall(pCall);
    if (lLinePos < 0) return trace.Abort(LINEERR_INVALCALLHANDLE, nFirstCheck + 1);
    if (GetPhoneLine(lLinePos)->m_bOutOfService)
        return trace.Abort(LINEERR_OPERATIONUNAVAIL, nFirstCheck + 2, L"Out of service");
    LONG lCallPos = GetCallPosition(static_cast<DWORD>(lLinePos), pCall);
    if (lCallPos < 0) return trace.Abort(LINEERR_INVALCALLHANDLE, nFirstCheck + 3);
    *pPosition = CallPosition{lLinePos, lCallPos};
    return 0;
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
