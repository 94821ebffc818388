#include "model/LineService.h"

#include "log/Trace.h"
#include "model/EventDelivery.h"
#include "model/LineTable.h"

void SetLineInService(LONG lLinePos, bool bInService) {
    CFuncTrace trace(3, L"SetLineInService");
    trace.Param(L"_lLinePos", L"%d", lLinePos);
    trace.Param(L"_bInService", L"%d", bInService ? 1 : 0);
    PhoneLine* pLine = GetPhoneLine(lLinePos);
    if (pLine == nullptr || pLine->m_bRemoved) return trace.Line(L"Abort.No line");
    if ((pLine->m_bOutOfService == FALSE) == bInService) return trace.End();

    // The state is the line's own, whatever the application asked to hear:
    // a line that was not told still refuses calls while the PBX is away.
    pLine->m_bOutOfService = bInService ? FALSE : TRUE;
    if (pLine->m_pLineDevStatus != nullptr) {
        if (bInService)
            pLine->m_pLineDevStatus->dwDevStatusFlags |= LINEDEVSTATUSFLAGS_INSERVICE;
        else
            pLine->m_pLineDevStatus->dwDevStatusFlags &= ~static_cast<DWORD>(LINEDEVSTATUSFLAGS_INSERVICE);
    }
    const DWORD dwState = bInService ? LINEDEVSTATE_INSERVICE : LINEDEVSTATE_OUTOFSERVICE;
    trace.Info(L"Line %s %s", pLine->m_szAddress, bInService ? L"in service" : L"out of service");
    if (IsLineOpenToTapi(*pLine) && (pLine->m_dwLineStates & dwState) != 0)
        RaiseLineMsg(lLinePos, LINE_LINEDEVSTATE, dwState, 0, 0);
    trace.End();
}
