// The record of one call. Its address is the provider's call handle
// (HDRVCALL); m_htCall comes first so that the same address is where TAPI
// writes its own handle when it learns of the call through LINE_NEWCALL.
#pragma once

#include <windows.h>

#include <cstddef>

#include "model/TapiDefs.h"

struct PhoneLine;

struct PhoneCall {
    HTAPICALL m_htCall;
    DWORD m_dwPBXCall;                  // PBX-call number, 0 for a call placed through TAPI
    LONG m_lPartnerID;                  // line position of the other end on this provider, -1 for none
    PhoneLine* m_pPhoneLine;
    LINECALLINFO* m_pLineCallInfo;      // 724-byte buffer: fixed part and ten number slots
    LINECALLSTATUS* m_pLineCallStatus;  // 56 bytes
    BOOL m_bMonitorDigits;
    DWORD m_dwLastState;                // last LINECALLSTATE_* delivered to TAPI
    ULONGLONG m_qwReportedFeatures;     // dwCallFeatures << 32 | dwCallFeatures2, as last announced
    DWORD m_dwCloseFlags;
    // Tells this record from an earlier one at the same address: a request
    // that outlives its call (a dial-tone closer) names the call by both.
    DWORD m_dwSerial;
};

static_assert(offsetof(PhoneCall, m_htCall) == 0, "TAPI writes its handle at the record's address");
static_assert(sizeof(PhoneCall) == 64, "the call-handle check tests 64 bytes");

// Bit 0 of m_dwCloseFlags: TAPI closed the handle before the call was idle.
constexpr DWORD kCallClosedByTapi = 0x1;

// LINECALLINFO buffer: the fixed part, then ten number slots of 20 units.
constexpr DWORD kCallInfoSlotChars = 20;
constexpr DWORD kCallInfoSlotBytes = kCallInfoSlotChars * sizeof(wchar_t);
constexpr DWORD kCallInfoSlots = 10;
constexpr DWORD kCallInfoBufferSize = sizeof(LINECALLINFO) + kCallInfoSlots * kCallInfoSlotBytes;  // 724
static_assert(kCallInfoBufferSize == 724, "call info buffer");

// Number slots the provider writes.
constexpr DWORD kNumberCaller = 0;
constexpr DWORD kNumberCalled = 2;
constexpr DWORD kNumberConnected = 4;
