// The line device exports: opening and closing a line, its capability and
// status records, identifiers and icon, the event filters, and the media and
// device-specific requests the provider refuses.
#include <cstddef>
#include <cstring>
#include <cwchar>

#include "common/BoundedString.h"
#include "manager/CGenericTSPIManager.h"
#include "model/CallFeatures.h"
#include "model/EventDelivery.h"
#include "model/LineCaps.h"
#include "model/LineTable.h"
#include "model/ProviderState.h"
#include "provider/ExportGuards.h"
#include "provider/TspiExports.h"

namespace {
constexpr DWORD kDeviceIDAnswerSize = sizeof(VARSTRING) + sizeof(DWORD);
constexpr size_t kMaxDeviceClassChars = 127;

PhoneLine* LineOf(HDRVLINE hdLine) { return GetPhoneLine(GetPosFromLineRecord(hdLine)); }

// The device ID TAPI knows the line or the call's line by, for lineGetID.
LONG SelectedDeviceID(const CFuncTrace& trace, HDRVLINE hdLine, HDRVCALL hdCall, DWORD dwSelect, DWORD* pdwDeviceID) {
    LONG lLinePos = -1;
    switch (dwSelect) {
        case LINECALLSELECT_LINE:
            lLinePos = GetPosFromLineRecord(hdLine);
            if (lLinePos < 0) return trace.Abort(LINEERR_INVALLINEHANDLE, 4);
            break;
        case LINECALLSELECT_CALL: {
            auto* pCall = reinterpret_cast<PhoneCall*>(hdCall);
            lLinePos = GetLinePosFromPPCall(pCall);
            if (lLinePos < 0 || GetCallPosition(static_cast<DWORD>(lLinePos), pCall) < 0)
                return trace.Abort(LINEERR_INVALCALLHANDLE, 4);
            break;
        }
        default:
            return trace.Abort(LINEERR_INVALPARAM, 4);
    }
    if (LONG lResult = RefuseRemovedLine(trace, lLinePos, 4)) return lResult;
    *pdwDeviceID = GetPhoneLine(lLinePos)->m_dwDeviceID;
    return 0;
}
}  // namespace

extern "C" {

LONG TSPIAPI TSPI_lineOpen(DWORD dwDeviceID, HTAPILINE htLine, HDRVLINE* lphdLine, DWORD dwTSPIVersion,
                           LINEEVENT lpfnEventProc) {
    return RunLockedExport(LockOwner::lineOpen, L"TSPI_lineOpen", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_dwDeviceID", L"%u", dwDeviceID);
        trace.Param(L"_htLine", L"%p", htLine);
        if (lphdLine == nullptr || IsBadWritePtr(lphdLine, sizeof(HDRVLINE))) return trace.Abort(LINEERR_INVALPOINTER, 1);
        if (htLine == nullptr) return trace.Abort(LINEERR_INVALLINEHANDLE, 2);
        LONG lLinePos = LinePosFromDeviceID(dwDeviceID);
        if (lLinePos < 0) return trace.Abort(LINEERR_BADDEVICEID, 3);
        if (LONG lResult = RefuseRemovedLine(trace, lLinePos, 3)) return lResult;
        PhoneLine* pLine = GetPhoneLine(lLinePos);
        if (pLine->m_pLineDevCaps == nullptr) return trace.Abort(LINEERR_NOMEM, 4);
        if (pLine->m_pLineDevStatus == nullptr) return trace.Abort(LINEERR_NOMEM, 5);
        if (pLine->m_pLineAddressCaps == nullptr) return trace.Abort(LINEERR_NOMEM, 6);
        if (pLine->m_pLineAddressStatus == nullptr) return trace.Abort(LINEERR_NOMEM, 7);
        LONG lResult = g_Manager.LineOpen(pLine);
        if (lResult != 0) {
            trace.Line(L"Abort.Error.0x%08X", static_cast<DWORD>(lResult));
            return lResult;
        }
        // One procedure serves all lines; the latest open wins.
        g_pLineEventProc = lpfnEventProc;
        pLine->m_htLine = htLine;
        ++pLine->m_pLineDevStatus->dwNumOpens;
        *lphdLine = reinterpret_cast<HDRVLINE>(pLine);
        // Calls already on the line are announced with their features.
        UpdateAllFeatures(lLinePos, 1);
        return 0;
    });
}

LONG TSPIAPI TSPI_lineClose(HDRVLINE hdLine) {
    return RunLockedExport(LockOwner::lineClose, L"TSPI_lineClose", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdLine", L"%p", hdLine);
        PhoneLine* pLine = LineOf(hdLine);
        if (pLine == nullptr) return trace.Abort(LINEERR_INVALLINEHANDLE, 1);
        // Closed first, so that the calls' idle events reach nobody and remove the calls.
        pLine->m_htLine = nullptr;
        if (pLine->m_pLineDevStatus != nullptr && pLine->m_pLineDevStatus->dwNumOpens > 0)
            --pLine->m_pLineDevStatus->dwNumOpens;
        return g_Manager.LineClose(pLine);
    });
}

LONG TSPIAPI TSPI_lineGetDevCaps(DWORD dwDeviceID, DWORD dwTSPIVersion, DWORD dwExtVersion, LINEDEVCAPS* lpLineDevCaps) {
    return RunLockedExport(LockOwner::lineGetDevCaps, L"TSPI_lineGetDevCaps", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_dwDeviceID", L"%u", dwDeviceID);
        if (lpLineDevCaps == nullptr || IsBadWritePtr(lpLineDevCaps, sizeof(LINEDEVCAPS)))
            return trace.Abort(LINEERR_INVALPOINTER, 1);
        PhoneLine* pLine = GetPhoneLine(LinePosFromDeviceID(dwDeviceID));
        if (pLine == nullptr) return trace.Abort(LINEERR_NODEVICE, 2);
        if (LONG lResult = RefuseRemovedLine(trace, pLine, 2)) return lResult;
        if (pLine->m_pLineDevCaps == nullptr) return trace.Abort(LINEERR_OPERATIONFAILED, 3);
        AnswerCapsRecord(lpLineDevCaps, pLine->m_pLineDevCaps, offsetof(LINEDEVCAPS, dwLineNameSize),
                         offsetof(LINEDEVCAPS, dwLineNameOffset));
        return 0;
    });
}

LONG TSPIAPI TSPI_lineGetAddressCaps(DWORD dwDeviceID, DWORD dwAddressID, DWORD dwTSPIVersion, DWORD dwExtVersion,
                                     LINEADDRESSCAPS* lpAddressCaps) {
    return RunLockedExport(LockOwner::lineGetAddressCaps, L"TSPI_lineGetAddressCaps", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_dwDeviceID", L"%u", dwDeviceID);
        trace.Param(L"_dwAddressID", L"%u", dwAddressID);
        if (dwAddressID != 0) return trace.Abort(LINEERR_INVALADDRESSID, 1);
        if (lpAddressCaps == nullptr || IsBadWritePtr(lpAddressCaps, sizeof(LINEADDRESSCAPS)))
            return trace.Abort(LINEERR_INVALPOINTER, 2);
        PhoneLine* pLine = GetPhoneLine(LinePosFromDeviceID(dwDeviceID));
        if (pLine == nullptr) return trace.Abort(LINEERR_NODEVICE, 3);
        if (LONG lResult = RefuseRemovedLine(trace, pLine, 3)) return lResult;
        if (pLine->m_pLineAddressCaps == nullptr) return trace.Abort(LINEERR_OPERATIONFAILED, 4);
        AnswerCapsRecord(lpAddressCaps, pLine->m_pLineAddressCaps, offsetof(LINEADDRESSCAPS, dwAddressSize),
                         offsetof(LINEADDRESSCAPS, dwAddressOffset));
        return 0;
    });
}

LONG TSPIAPI TSPI_lineGetAddressStatus(HDRVLINE hdLine, DWORD dwAddressID, LINEADDRESSSTATUS* lpAddressStatus) {
    return RunLockedExport(LockOwner::lineGetAddressStatus, L"TSPI_lineGetAddressStatus", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdLine", L"%p", hdLine);
        trace.Param(L"_dwAddressID", L"%u", dwAddressID);
        if (hdLine == nullptr) return trace.Abort(LINEERR_INVALLINEHANDLE, 1);
        if (lpAddressStatus == nullptr || IsBadWritePtr(lpAddressStatus, sizeof(LINEADDRESSSTATUS)))
            return trace.Abort(LINEERR_INVALPOINTER, 2);
        if (dwAddressID != 0) return trace.Abort(LINEERR_INVALADDRESSID, 4);
        PhoneLine* pLine = LineOf(hdLine);
        if (pLine == nullptr) return trace.Abort(LINEERR_INVALPOINTER, 3);
        if (LONG lResult = RefuseRemovedLine(trace, pLine, 3)) return lResult;
        if (pLine->m_pLineAddressStatus == nullptr) return trace.Abort(LINEERR_INVALPOINTER, 4);
        if (!AnswerStatusRecord(lpAddressStatus, pLine->m_pLineAddressStatus, kAddressStatusBufferSize))
            trace.Info(L"Structure too small");
        return 0;
    });
}

LONG TSPIAPI TSPI_lineGetLineDevStatus(HDRVLINE hdLine, LINEDEVSTATUS* lpLineDevStatus) {
    return RunLockedExport(LockOwner::lineGetLineDevStatus, L"TSPI_lineGetLineDevStatus", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdLine", L"%p", hdLine);
        PhoneLine* pLine = LineOf(hdLine);
        if (pLine == nullptr) return trace.Abort(LINEERR_INVALPOINTER, 3);
        if (LONG lResult = RefuseRemovedLine(trace, pLine, 3)) return lResult;
        if (pLine->m_pLineDevStatus == nullptr) return trace.Abort(LINEERR_INVALPOINTER, 4);
        if (lpLineDevStatus == nullptr || IsBadWritePtr(lpLineDevStatus, sizeof(LINEDEVSTATUS)))
            return trace.Abort(LINEERR_INVALPOINTER, 2);
        if (!AnswerStatusRecord(lpLineDevStatus, pLine->m_pLineDevStatus, sizeof(LINEDEVSTATUS)))
            trace.Info(L"Structure too small");
        return 0;
    });
}

LONG TSPIAPI TSPI_lineGetAddressID(HDRVLINE hdLine, LPDWORD lpdwAddressID, DWORD dwAddressMode, LPCWSTR lpsAddress,
                                   DWORD dwSize) {
    return RunLockedExport(LockOwner::lineGetAddressID, L"TSPI_lineGetAddressID", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdLine", L"%p", hdLine);
        if (LineOf(hdLine) == nullptr) return trace.Abort(LINEERR_INVALLINEHANDLE, 1);
        if (LONG lResult = RefuseRemovedLine(trace, LineOf(hdLine), 1)) return lResult;
        if (lpdwAddressID == nullptr || IsBadWritePtr(lpdwAddressID, sizeof(DWORD)))
            return trace.Abort(LINEERR_INVALPOINTER, 2);
        // Every line has exactly one address.
        *lpdwAddressID = 0;
        return 0;
    });
}

LONG TSPIAPI TSPI_lineGetNumAddressIDs(HDRVLINE hdLine, LPDWORD lpdwNumAddressIDs) {
    return RunExport(L"TSPI_lineGetNumAddressIDs", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdLine", L"%p", hdLine);
        if (hdLine == nullptr) return trace.Abort(LINEERR_INVALLINEHANDLE, 1);
        if (lpdwNumAddressIDs == nullptr || IsBadWritePtr(lpdwNumAddressIDs, sizeof(DWORD)))
            return trace.Abort(LINEERR_INVALPOINTER, 2);
        *lpdwNumAddressIDs = 1;
        return 0;
    });
}

LONG TSPIAPI TSPI_lineGetExtensionID(DWORD dwDeviceID, DWORD dwTSPIVersion, LINEEXTENSIONID* lpExtensionID) {
    return RunLockedExport(LockOwner::lineGetExtensionID, L"TSPI_lineGetExtensionID", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_dwDeviceID", L"%u", dwDeviceID);
        // No provider-specific extensions.
        if (lpExtensionID != nullptr && !IsBadWritePtr(lpExtensionID, sizeof(LINEEXTENSIONID)))
            std::memset(lpExtensionID, 0, sizeof(LINEEXTENSIONID));
        return 0;
    });
}

LONG TSPIAPI TSPI_lineGetIcon(DWORD dwDeviceID, LPCWSTR lpszDeviceClass, HICON* lphIcon) {
    return RunExport(L"TSPI_lineGetIcon", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_dwDeviceID", L"%u", dwDeviceID);
        if (lphIcon != nullptr && !IsBadWritePtr(lphIcon, sizeof(HICON))) *lphIcon = g_hIconPhone;
        return 0;
    });
}

LONG TSPIAPI TSPI_lineGetID(HDRVLINE hdLine, DWORD dwAddressID, HDRVCALL hdCall, DWORD dwSelect, VARSTRING* lpDeviceID,
                            LPCWSTR lpszDeviceClass, HANDLE hTargetProcess) {
    return RunLockedExport(LockOwner::lineGetID, L"TSPI_lineGetID", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_dwSelect", L"0x%08X", dwSelect);
        if (lpszDeviceClass == nullptr || IsBadStringPtrW(lpszDeviceClass, kMaxDeviceClassChars + 1))
            return trace.Abort(LINEERR_INVALPOINTER, 1);
        if (lpDeviceID == nullptr || IsBadWritePtr(lpDeviceID, sizeof(VARSTRING))) return trace.Abort(LINEERR_INVALPOINTER, 2);
        lpDeviceID->dwNeededSize = kDeviceIDAnswerSize;
        if (lpDeviceID->dwTotalSize < kDeviceIDAnswerSize) {
            trace.Abort(LINEERR_STRUCTURETOOSMALL, 3);
            return 0;
        }

        wchar_t szClass[kMaxDeviceClassChars + 1];
        StrCopy(szClass, lpszDeviceClass);
        trace.Param(L"_lpszDeviceClass", L"%s", szClass);
        if (_wcsicmp(szClass, L"tapi/phone") == 0) {
            trace.Info(L"No phone devices.#5");
            return LINEERR_OPERATIONUNAVAIL;
        }
        if (_wcsicmp(szClass, L"tapi/line") != 0) {
            trace.Line(L"Abort.Error.LINEERR_INVALDEVICECLASS %s", szClass);
            return LINEERR_INVALDEVICECLASS;
        }

        DWORD dwDeviceID = 0;
        if (LONG lResult = SelectedDeviceID(trace, hdLine, hdCall, dwSelect, &dwDeviceID); lResult != 0) return lResult;
        lpDeviceID->dwUsedSize = kDeviceIDAnswerSize;
        lpDeviceID->dwStringFormat = STRINGFORMAT_BINARY;
        lpDeviceID->dwStringSize = sizeof(DWORD);
        lpDeviceID->dwStringOffset = sizeof(VARSTRING);
        std::memcpy(reinterpret_cast<BYTE*>(lpDeviceID) + sizeof(VARSTRING), &dwDeviceID, sizeof(DWORD));
        trace.Var(L"dwDeviceID", L"%u", dwDeviceID);
        return 0;
    });
}

LONG TSPIAPI TSPI_lineSetStatusMessages(HDRVLINE hdLine, DWORD dwLineStates, DWORD dwAddressStates) {
    return RunLockedExport(LockOwner::lineSetStatusMessages, L"TSPI_lineSetStatusMessages", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_dwLineStates", L"0x%08X", dwLineStates);
        trace.Param(L"_dwAddressStates", L"0x%08X", dwAddressStates);
        PhoneLine* pLine = LineOf(hdLine);
        if (pLine == nullptr) return trace.Abort(LINEERR_INVALLINEHANDLE, 1);
        if (LONG lResult = RefuseRemovedLine(trace, pLine, 1)) return lResult;
        pLine->m_dwLineStates = dwLineStates;
        pLine->m_dwAddressStates = dwAddressStates;
        return 0;
    });
}

LONG TSPIAPI TSPI_lineSetDefaultMediaDetection(HDRVLINE hdLine, DWORD dwMediaModes) {
    return RunExport(L"TSPI_lineSetDefaultMediaDetection", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_dwMediaModes", L"0x%08X", dwMediaModes);
        if (dwMediaModes != LINEMEDIAMODE_INTERACTIVEVOICE) return trace.Abort(LINEERR_INVALMEDIAMODE, 1);
        return 0;
    });
}

LONG TSPIAPI TSPI_lineConditionalMediaDetection(HDRVLINE hdLine, DWORD dwMediaModes, const LINECALLPARAMS* lpCallParams) {
    return RunLockedExport(LockOwner::lineConditionalMediaDetection, L"TSPI_lineConditionalMediaDetection",
                           [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_dwMediaModes", L"0x%08X", dwMediaModes);
        if (hdLine == nullptr) return trace.Abort(LINEERR_INVALPOINTER, 1);
        if (LONG lResult = RefuseRemovedLine(trace, LineOf(hdLine), 1)) return lResult;
        if ((dwMediaModes & LINEMEDIAMODE_INTERACTIVEVOICE) == 0) return trace.Abort(LINEERR_INVALMEDIAMODE, 2);
        if (lpCallParams == nullptr || IsBadReadPtr(lpCallParams, offsetof(LINECALLPARAMS, DialParams)))
            return trace.Abort(LINEERR_INVALPOINTER, 3);
        if ((lpCallParams->dwAddressMode & LINEADDRESSMODE_DIALABLEADDR) == 0)
            return trace.Abort(LINEERR_OPERATIONUNAVAIL, 3);
        if ((lpCallParams->dwBearerMode & (LINEBEARERMODE_VOICE | LINEBEARERMODE_SPEECH)) == 0)
            return trace.Abort(LINEERR_OPERATIONUNAVAIL, 4);
        if (lpCallParams->dwMediaMode != LINEMEDIAMODE_INTERACTIVEVOICE) return trace.Abort(LINEERR_INVALMEDIAMODE, 5);
        if (lpCallParams->dwCallParamFlags != 0) return trace.Abort(LINEERR_OPERATIONUNAVAIL, 6);
        return 0;
    });
}

// Locked, unlike the other digit requests: it looks the call up in the
// tables, which a re-initialisation may change at any time.
LONG TSPIAPI TSPI_lineMonitorDigits(HDRVCALL hdCall, DWORD dwDigitModes) {
    return RunLockedExport(LockOwner::lineMonitorDigits, L"TSPI_lineMonitorDigits", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_hdCall", L"%p", hdCall);
        CCallHandleChecks checks(trace, hdCall);
        if (LONG lResult = checks.Handle(1)) return lResult;
        if (LONG lResult = checks.Feature(LINECALLFEATURE_MONITORDIGITS)) return lResult;
        checks.Call()->m_bMonitorDigits = TRUE;
        return 0;
    });
}

LONG TSPIAPI TSPI_lineDevSpecificFeature(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD dwFeature, LPVOID lpParams,
                                         DWORD dwSize) {
    return RunLockedExport(LockOwner::lineDevSpecificFeature, L"TSPI_lineDevSpecificFeature", [&](const CFuncTrace& trace) -> LONG {
        trace.Param(L"_dwFeature", L"0x%08X", dwFeature);
        auto* pLine = reinterpret_cast<PhoneLine*>(hdLine);
        if (LineOf(hdLine) == nullptr) return trace.Abort(LINEERR_INVALPOINTER, 1);
        if (LONG lResult = RefuseRemovedLine(trace, pLine, 1)) return lResult;
        // Only an open line has a TAPI handle to be found by.
        if (pLine->m_htLine == nullptr || GetPosFromHtLine(pLine->m_htLine) < 0)
            return trace.Abort(LINEERR_INVALLINEHANDLE, 2);
        DWORD dwLineFeatures = pLine->m_pLineDevStatus != nullptr ? pLine->m_pLineDevStatus->dwLineFeatures : 0;
        if ((dwLineFeatures & LINEFEATURE_DEVSPECIFICFEAT) == 0) return trace.Abort(LINEERR_OPERATIONUNAVAIL, 3);
        return LINEERR_OPERATIONUNAVAIL;
    });
}

// Media control, terminals, device configuration and device-specific requests: not offered.
LONG TSPIAPI TSPI_lineGetDevConfig(DWORD, VARSTRING*, LPCWSTR) { return RefuseRequest(L"TSPI_lineGetDevConfig"); }
LONG TSPIAPI TSPI_lineSetDevConfig(DWORD, LPVOID const, DWORD, LPCWSTR) {
    return RefuseRequest(L"TSPI_lineSetDevConfig");
}
LONG TSPIAPI TSPI_lineSetLineDevStatus(DRV_REQUESTID, HDRVLINE, DWORD, DWORD) {
    return RefuseRequest(L"TSPI_lineSetLineDevStatus");
}
LONG TSPIAPI TSPI_lineSetTerminal(DRV_REQUESTID, HDRVLINE, DWORD, HDRVCALL, DWORD, DWORD, DWORD, DWORD) {
    return RefuseRequest(L"TSPI_lineSetTerminal");
}
LONG TSPIAPI TSPI_lineDevSpecific(DRV_REQUESTID, HDRVLINE, DWORD, HDRVCALL, LPVOID, DWORD) {
    return RefuseRequest(L"TSPI_lineDevSpecific");
}
LONG TSPIAPI TSPI_lineSetMediaControl(HDRVLINE, DWORD, HDRVCALL, DWORD, LPVOID const, DWORD, LPVOID const, DWORD,
                                      LPVOID const, DWORD, LPVOID const, DWORD) {
    return RefuseRequest(L"TSPI_lineSetMediaControl");
}
LONG TSPIAPI TSPI_lineMonitorMedia(HDRVCALL, DWORD) { return RefuseRequest(L"TSPI_lineMonitorMedia"); }
LONG TSPIAPI TSPI_lineMonitorTones(HDRVCALL, DWORD, LPVOID const, DWORD) {
    return RefuseRequest(L"TSPI_lineMonitorTones");
}

}  // extern "C"
