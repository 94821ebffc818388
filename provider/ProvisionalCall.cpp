#include "provider/ProvisionalCall.h"

#include "model/EventDelivery.h"
#include "model/LineTable.h"

CProvisionalCall::CProvisionalCall(LONG lLinePos, HTAPICALL htCall, DWORD dwOrigin, DWORD dwCallID) {
    LONG lCallPos = GenerateNewCall(static_cast<DWORD>(lLinePos), htCall, dwOrigin, 0, dwCallID, -1);
    if (lCallPos >= 0) m_pCall = GetPhoneCall(lLinePos, lCallPos);
}

CProvisionalCall::~CProvisionalCall() {
    if (m_pCall == nullptr) return;
    // The request failed, so TAPI keeps no handle of this call: the record can go at once.
    m_pCall->m_htCall = nullptr;
    RemovePhoneCall(m_pCall);
    // TAPI must not be left holding the handle of a removed record.
    if (m_lphdCall != nullptr) *m_lphdCall = nullptr;
}

void CProvisionalCall::HandTo(HDRVCALL* lphdCall) {
    if (m_pCall == nullptr || lphdCall == nullptr || IsBadWritePtr(lphdCall, sizeof(HDRVCALL))) return;
    *lphdCall = reinterpret_cast<HDRVCALL>(m_pCall);
    m_lphdCall = lphdCall;
}
