// A call record that a refused supplementary request builds anyway, so that
// TAPI sees the consultation or conference call a provider able to do the
// request would create; it is handed to TAPI and removed again when the
// request ends. Removal raises no call-state event.
#pragma once

#include <windows.h>

#include "model/TapiDefs.h"

struct PhoneCall;

class CProvisionalCall {
public:
    CProvisionalCall(LONG lLinePos, HTAPICALL htCall, DWORD dwOrigin, DWORD dwCallID);
    ~CProvisionalCall();
    CProvisionalCall(const CProvisionalCall&) = delete;
    CProvisionalCall& operator=(const CProvisionalCall&) = delete;

    bool Created() const { return m_pCall != nullptr; }
    // Writes the call's handle where TAPI asked for it; cleared again on removal.
    void HandTo(HDRVCALL* lphdCall);

private:
    PhoneCall* m_pCall = nullptr;
    HDRVCALL* m_lphdCall = nullptr;
};
