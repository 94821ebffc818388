// The record of one TAPI line. Its address is the provider's line handle
// (HDRVLINE), so a record never moves while the provider runs.
#pragma once

#include <windows.h>

#include <memory>

#include "model/TapiDefs.h"

struct PhoneCall;

// Calls per line; the slots are kept packed at the front.
constexpr int kCallSlots = 3;

struct PhoneLine {
    wchar_t m_szAddress[20];       // dialable address (extension number), at most 18 characters
    wchar_t m_szDeviceNumber[20];  // at most 18 characters
    wchar_t m_szName[64];          // line name, at most 62 characters
    HTAPILINE m_htLine;            // TAPI's handle while the line is open, else 0
    DWORD m_dwLinePos;             // own position in g_PhoneLines
    PhoneCall* m_pPhoneCall[kCallSlots];
    DWORD m_dwAddressStates;       // LINEADDRESSSTATE_* TAPI wants to hear about
    DWORD m_dwLineStates;          // LINEDEVSTATE_* TAPI wants to hear about
    BOOL m_bOutOfService;
    LINEDEVCAPS* m_pLineDevCaps;              // 524-byte buffer
    LINEADDRESSCAPS* m_pLineAddressCaps;      // 268-byte buffer
    LINEDEVSTATUS* m_pLineDevStatus;          // 88 bytes
    LINEADDRESSSTATUS* m_pLineAddressStatus;  // 128-byte buffer
    // The memory of the four records above, which point into it: they go
    // when the record is cleared or replaced.
    std::unique_ptr<BYTE[]> m_pRecordMemory;
    DWORD m_dwPBXIndex;
    // TAPI's device identifier of the line: the identifier base plus the
    // position for the lines TAPI counted at start-up; for a line created
    // while running, the one TAPI gives in TSPI_providerCreateLineDevice
    // (kNoDeviceID until then).
    DWORD m_dwDeviceID;
    // Its extension left the PBX directory: TAPI heard LINE_REMOVE, and the
    // record stays, doing nothing, so that the handles TAPI still holds of it
    // and its calls lead somewhere.
    BOOL m_bRemoved;
};

// The device identifier of a line TAPI has not numbered yet (never a
// device identifier: it is INITIALIZE_NEGOTIATION).
constexpr DWORD kNoDeviceID = 0xFFFFFFFF;

// Text limits of the record's fields (characters without the terminator).
constexpr size_t kMaxAddressChars = 18;
constexpr size_t kMaxLineNameChars = 62;
