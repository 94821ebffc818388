// The line table and its calls: the records, their slots and every lookup.
// The table only stores: nothing here tells TAPI anything (a new call is
// announced, a removed one followed by feature updates, in EventDelivery.h).
// None of these take the ProviderLock; their callers hold it.
#pragma once

#include <windows.h>

#include <deque>
#include <string>
#include <unordered_map>

#include "model/PhoneCall.h"
#include "model/PhoneLine.h"

// A deque: records handed to TAPI as line handles stay where they are when a
// re-initialisation appends lines. Bounded by the most lines the account had
// at once, plus removed lines TAPI still has open: a new line takes the place
// of a removed one TAPI is done with (manager/DeviceSet.cpp).
extern std::deque<PhoneLine> g_PhoneLines;
extern DWORD g_dwNextCallID;      // count of call ids the provider invented (see common/CallIdRanges.h)
extern DWORD g_dwPBXCallCounter;  // running number of generated calls, starts at 1

// Appends zero-filled records until the table holds dwCount lines.
void EnsureLineRecords(DWORD dwCount);
// Lookups by address go through an index; whoever changes a line's
// m_szAddress (ChangeLineAddress) calls this afterwards.
void LineAddressesChanged();

// The record at a valid position (0 .. g_dwDeviceCount-1), else null.
PhoneLine* GetPhoneLine(LONG lLinePos);
// The call in a slot of a valid line, else null.
PhoneCall* GetPhoneCall(LONG lLinePos, LONG lCallPos);
// Position of a line record handed in as a handle; -1 unless it is one of
// the table's records below the device count (removed lines included).
LONG GetPosFromLineRecord(const void* pLine);
// Position of the line TAPI knows by this device identifier (removed lines
// included), else -1.
LONG GetPosFromDeviceID(DWORD dwDeviceID);
// Whether TAPI hears of the line's events: it has the line open, and the line
// was not removed.
bool IsLineOpenToTapi(const PhoneLine& line);

// A call's slot: taken (the first free one; -1 when none), given up (the
// calls behind move down), or given up with the record freed or, while TAPI
// may still hold its handle, retired (RetiredCalls.h).
LONG InsertLineCallPointer(PhoneLine* pPhoneLine, PhoneCall* pPhoneCall);
void RemoveLineCallPointer(PhoneCall* pPhoneCall);
void RemovePhoneCallSilent(PhoneCall* pPhoneCall);

// Lookups: slots are scanned 0, 1, 2 and the first match wins. Lines are
// found by TAPI handle or address only while they were not removed.
LONG GetPosFromHtLine(HTAPILINE htLine);
LONG GetPosFromAddress(const wchar_t* pszAddress);
LONG GetLinePosFromPPCall(const PhoneCall* pPhoneCall);
LONG GetCallPosition(DWORD dwLinePos, const PhoneCall* pPhoneCall);
DWORD GetCallCount(DWORD dwLinePos);
DWORD GetCallCountWithState(DWORD dwLinePos, DWORD dwStates);
DWORD GetCallStateMask(DWORD dwLinePos);
DWORD GetCallState(LONG lLinePos, LONG lCallPos);
LONG GetFirstCallPosWithState(DWORD dwLinePos, DWORD dwState);
LONG GetFirstCallPosWithCallID(DWORD dwLinePos, DWORD dwCallID);
LONG GetCallPosWithPartnerCallID(DWORD dwLinePos, LONG lPartner, DWORD dwCallID);
LONG GetCallPosWithPartnerState(DWORD dwLinePos, LONG lPartner, DWORD dwState);
DWORD GetNumCallsWithPartner(DWORD dwLinePos, LONG lPartner);
