// A device set put in place directly, without a PBX: extensions in the
// directory list, the device count, TAPI's identifiers, and lines built by
// LineCapsInit, with no call numbers given yet; TAPI's event and completion
// callbacks record what they get.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "model/EventDelivery.h"
#include "model/LineTable.h"
#include "model/TapiDefs.h"

// One callback as TAPI received it.
struct RecordedEvent {
    HTAPILINE htLine;
    HTAPICALL htCall;
    DWORD dwMsg;
    DWORD_PTR dwParam1, dwParam2, dwParam3;
};

// Events of every kind in arrival order; LINE_NEWCALL is answered as TAPI
// does, by writing a fresh call handle where dwParam2 points. Every callback
// that runs while its thread holds the ProviderLock is counted: the fixture
// fails a test that lets one happen.
class CEventRecorder {
public:
    static std::vector<RecordedEvent> s_events;
    static std::vector<std::pair<DWORD, LONG>> s_completions;
    static std::vector<RecordedEvent> s_lineCreates;
    // Every callback in arrival order: the message (kCompletion for a
    // completion) and its first parameter (the request ID for a completion).
    static std::vector<std::pair<DWORD, DWORD_PTR>> s_arrivals;
    static ULONG_PTR s_nextCallHandle;
    static size_t s_callbacksInsideLock;
    // Held while a callback records; TAPI is called back outside the
    // ProviderLock, so a test reading what another thread records takes it.
    static std::recursive_mutex s_mutex;
    static constexpr DWORD kCompletion = 0xC0000000;

    static void Reset();
    static void CALLBACK LineEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1,
                                   DWORD_PTR dwParam2, DWORD_PTR dwParam3);
    static void CALLBACK SecondLineEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1,
                                         DWORD_PTR dwParam2, DWORD_PTR dwParam3);
    static void CALLBACK LineCreate(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1,
                                    DWORD_PTR dwParam2, DWORD_PTR dwParam3);
    static void CALLBACK Completion(DRV_REQUESTID dwRequestID, LONG lResult);
    // Events from SecondLineEvent are recorded with this bit set in dwMsg.
    static constexpr DWORD kSecondProc = 0x80000000;
};

// One refused request: its result and the trace line naming the check,
// "Func.<export>.Abort.Error.<error>.#<check>[.<text>]".
struct Refusal {
    const char* pszName;
    std::function<LONG()> run;
    LONG lExpected;
    std::wstring abortLine;
};
std::wstring AbortLine(const wchar_t* pszExport, const wchar_t* pszError, int nCheck, const wchar_t* pszText = nullptr);

// The text a TAPI record holds at a byte offset.
std::wstring TextAt(const void* pRecord, DWORD dwOffset);

// The result TAPI's completion procedure received for the request, if it came.
std::optional<LONG> RecordedCompletion(DWORD dwRequestID);

// Waits for the condition; false after a generous watchdog (a hang, not a slow machine).
bool WaitUntil(const std::function<bool()>& condition, DWORD dwWatchdogMs = 10000);

class LineModelFixture : public testing::Test {
protected:
    static constexpr DWORD kDeviceIDBase = 100;
    static constexpr DWORD kPermanentProviderID = 7;

    void SetUp() override;
    void TearDown() override;

    // Replaces the device set with lines for these extension numbers (named "Ext <number>").
    void BuildLines(const std::vector<std::wstring>& numbers);
    // Opens a line through TSPI_lineOpen with the recording event procedure.
    HTAPILINE OpenLine(LONG lLinePos);
    // A new inbound call on a line, moved to dwState (skipped for 0); its slot.
    LONG AddCall(LONG lLinePos, DWORD dwState);
    void SetState(LONG lLinePos, LONG lCallPos, DWORD dwState);
    // A PBX call event, handled at once.
    static void Event(const wchar_t* uuid, const wchar_t* extension, const wchar_t* state, const wchar_t* direction,
                      const wchar_t* caller = L"0301234567", const wchar_t* callee = L"21");
    // Lets every call feature through the line's address capabilities.
    void EnableAllCallFeatures(LONG lLinePos);

    // Each refusal answers its result, traces its check, leaves the model
    // as it was and the ProviderLock free.
    static void ExpectRefusals(const std::vector<Refusal>& refusals);

    PhoneLine& Line(LONG lLinePos) { return g_PhoneLines[lLinePos]; }
    static HDRVLINE LineHandle(LONG lLinePos) { return reinterpret_cast<HDRVLINE>(&g_PhoneLines[lLinePos]); }
    HDRVCALL CallHandle(LONG lLinePos, LONG lCallPos) { return reinterpret_cast<HDRVCALL>(Call(lLinePos, lCallPos)); }
    PhoneCall* Call(LONG lLinePos, LONG lCallPos) { return g_PhoneLines[lLinePos].m_pPhoneCall[lCallPos]; }
    DWORD Features(LONG lLinePos, LONG lCallPos) { return Call(lLinePos, lCallPos)->m_pLineCallStatus->dwCallFeatures; }
    std::vector<RecordedEvent>& Events() { return CEventRecorder::s_events; }
    // Only the events with this message.
    std::vector<RecordedEvent> EventsOf(DWORD dwMsg) const;

    static void RemoveAllCalls();
    // Every byte the model keeps for the lines and their calls.
    static std::vector<BYTE> Snapshot();
    // Whether another thread can take the ProviderLock now (it is re-entrant for this one).
    static bool LockIsFree();
};
