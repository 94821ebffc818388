// The TAPI records kept per line (LINEDEVCAPS, LINEADDRESSCAPS, LINEDEVSTATUS,
// LINEADDRESSSTATUS) and per call (LINECALLINFO, LINECALLSTATUS): what the
// provider reports, byte for byte, and the functions that build them.
#pragma once

#include <windows.h>

#include "model/PhoneCall.h"
#include "model/PhoneLine.h"

// Buffer sizes: each fixed TAPI part plus room for its strings.
constexpr DWORD kDevCapsBufferSize = 524;
constexpr DWORD kAddressCapsBufferSize = 268;
constexpr DWORD kAddressStatusBufferSize = 128;

// The call-info changes announced for a new call.
constexpr DWORD kNewCallInfoStates = LINECALLINFOSTATE_OTHER | LINECALLINFOSTATE_BEARERMODE | LINECALLINFOSTATE_RATE |
                                     LINECALLINFOSTATE_MEDIAMODE | LINECALLINFOSTATE_CALLID |
                                     LINECALLINFOSTATE_ORIGIN;
// The call states the provider reports.
constexpr DWORD kReportedCallStates = LINECALLSTATE_IDLE | LINECALLSTATE_OFFERING | LINECALLSTATE_DIALTONE |
                                      LINECALLSTATE_DIALING | LINECALLSTATE_RINGBACK | LINECALLSTATE_CONNECTED |
                                      LINECALLSTATE_PROCEEDING | LINECALLSTATE_DISCONNECTED | LINECALLSTATE_UNKNOWN;
// The line-state changes a line reports, and the ones TAPI hears of until an
// application sets its own mask: the number of calls, and whether the line is
// in service (out of service while the PBX cannot be reached). 0x8C1.
constexpr DWORD kDefaultLineStates =
    LINEDEVSTATE_OTHER | LINEDEVSTATE_NUMCALLS | LINEDEVSTATE_INSERVICE | LINEDEVSTATE_OUTOFSERVICE;

// Builds the records of every line below the device count.
void LineCapsInit();
// Builds one line's records; the line's earlier records are released first.
// Its device identifier is the identifier base plus its position.
void LineCapsInitLine(LONG lPos);
// Releases every line's records and clears the line records.
void LineCapsDelete();

// The line's device identifier, in the line and in the records that carry it.
void SetLineDeviceID(DWORD dwPos, DWORD dwDeviceID);
void ChangeLineName(DWORD dwPos, const wchar_t* pszBaseName, const wchar_t* pszName);
void ChangeLineAddress(DWORD dwPos, const wchar_t* pszAddress);

// The records of a new call.
void FillNewCallInfo(LINECALLINFO* pInfo, const PhoneLine& line, DWORD dwOrigin, DWORD dwCallID);
void FillNewCallStatus(LINECALLSTATUS* pStatus);

// Writes a number into slot dwIndex (0..9) of the call's LINECALLINFO; with
// bSetSize the slot's size/offset pair is set too and the result tells
// whether the slot's text changed (non-zero) or not (0).
DWORD InsertNumberToCallInfo(PhoneCall* pPhoneCall, DWORD dwIndex, const wchar_t* pszNumber, BOOL bSetSize);
// The name of the party whose number is in slot dwNumberIndex (kNumberCaller,
// kNumberCalled or kNumberConnected) goes into the name slot after it, and
// LINECALLPARTYID_NAME joins the party's ID flags; an empty or null name
// empties the slot and leaves LINECALLPARTYID_ADDRESS alone. Non-zero when
// the name or the flags changed.
DWORD SetPartyName(PhoneCall* pPhoneCall, DWORD dwNumberIndex, const wchar_t* pszName);
// 0 when number slot dwIndex of the LINECALLINFO buffer already holds pszText.
int CompareCallNumber(const void* pStruct, DWORD dwIndex, const wchar_t* pszText);

// Writes pszText at a byte offset of a TAPI record: at most dwMaxLen units
// including dwCloseZeros terminating NULs; with two or more, "#" separators
// become NULs (a NUL-separated list). Returns the byte size for the record's
// size field.
DWORD CopyTapiDataIn(void* pStruct, DWORD dwOffset, const wchar_t* pszText, DWORD dwMaxLen, DWORD dwCloseZeros);
// Copies a string out of a TAPI record into pszText (dwMaxLen units).
// Returns its byte size including the NUL.
DWORD CopyTapiDataOut(const void* pStruct, DWORD dwOffset, wchar_t* pszText, DWORD dwMaxLen);
