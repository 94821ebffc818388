// TAPI's requests on a line carried to the model and the PBX: opening and
// closing a line.
#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"
#include "model/EventDelivery.h"
#include "model/LineTable.h"
#include "model/RetiredCalls.h"

LONG CGenericTSPIManager::LineOpen(PhoneLine* pLine) {
    CFuncTrace trace(2, L"CGenericTSPIManager::LineOpen");
    trace.Param(L"m_dwLinePos", L"%u", pLine->m_dwLinePos);
    return trace.End(0);
}

LONG CGenericTSPIManager::LineClose(PhoneLine* pLine) {
    CFuncTrace trace(2, L"CGenericTSPIManager::LineClose");
    LONG lLinePos = GetPosFromLineRecord(pLine);
    trace.Param(L"lLinePos", L"%d", lLinePos);
    // From the back: idling a call may remove it, and the slots behind it move down.
    for (LONG lCallPos = kCallSlots - 1; lCallPos >= 0; --lCallPos) SendIdleState(lLinePos, lCallPos);
    // TAPI's handles of the line's calls are void once it is closed.
    ReleaseRetiredCalls(pLine);
    return trace.End(0);
}
