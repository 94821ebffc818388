#include "support/LineModelFixture.h"

#include "support/TraceCapture.h"

#include "common/BoundedString.h"
#include "config/ProviderSettings.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/CallNumbers.h"
#include "manager/RequestThreads.h"
#include "model/CallFeatures.h"
#include "model/EventDelivery.h"
#include "model/LineCaps.h"
#include "model/ProviderLock.h"
#include "model/ProviderState.h"
#include "pbx/ExtensionDirectory.h"
#include "provider/TspiExports.h"

std::vector<RecordedEvent> CEventRecorder::s_events;
std::vector<std::pair<DWORD, LONG>> CEventRecorder::s_completions;
std::vector<RecordedEvent> CEventRecorder::s_lineCreates;
std::vector<std::pair<DWORD, DWORD_PTR>> CEventRecorder::s_arrivals;
ULONG_PTR CEventRecorder::s_nextCallHandle = 0x5000;
size_t CEventRecorder::s_callbacksInsideLock = 0;
std::recursive_mutex CEventRecorder::s_mutex;

namespace {
void NoteArrival(DWORD dwMsg, DWORD_PTR dwParam1) {
    CEventRecorder::s_arrivals.emplace_back(dwMsg, dwParam1);
    if (ProviderLockHeldBy(GetCurrentThreadId())) ++CEventRecorder::s_callbacksInsideLock;
}
}  // namespace

void CEventRecorder::Reset() {
    std::lock_guard<std::recursive_mutex> guard(s_mutex);
    s_events.clear();
    s_completions.clear();
    s_lineCreates.clear();
    s_arrivals.clear();
}

void CALLBACK CEventRecorder::LineEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1,
                                        DWORD_PTR dwParam2, DWORD_PTR dwParam3) {
    std::lock_guard<std::recursive_mutex> guard(s_mutex);
    NoteArrival(dwMsg, dwParam1);
    s_events.push_back({htLine, htCall, dwMsg, dwParam1, dwParam2, dwParam3});
    if (dwMsg == LINE_NEWCALL) *reinterpret_cast<HTAPICALL*>(dwParam2) = reinterpret_cast<HTAPICALL>(++s_nextCallHandle);
}

void CALLBACK CEventRecorder::SecondLineEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1,
                                              DWORD_PTR dwParam2, DWORD_PTR dwParam3) {
    std::lock_guard<std::recursive_mutex> guard(s_mutex);
    LineEvent(htLine, htCall, dwMsg, dwParam1, dwParam2, dwParam3);
    s_events.back().dwMsg |= kSecondProc;
}

void CALLBACK CEventRecorder::LineCreate(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1,
                                         DWORD_PTR dwParam2, DWORD_PTR dwParam3) {
    std::lock_guard<std::recursive_mutex> guard(s_mutex);
    NoteArrival(dwMsg, dwParam1);
    s_lineCreates.push_back({htLine, htCall, dwMsg, dwParam1, dwParam2, dwParam3});
}

void CALLBACK CEventRecorder::Completion(DRV_REQUESTID dwRequestID, LONG lResult) {
    std::lock_guard<std::recursive_mutex> guard(s_mutex);
    NoteArrival(kCompletion, dwRequestID);
    s_completions.emplace_back(dwRequestID, lResult);
}

void LineModelFixture::RemoveAllCalls() {
    for (PhoneLine& line : g_PhoneLines)
        while (line.m_pPhoneCall[0] != nullptr) RemovePhoneCallSilent(line.m_pPhoneCall[0]);
}

void LineModelFixture::SetUp() {
    RemoveAllCalls();
    LineCapsDelete();
    g_dwDeviceCount = 0;
    g_dwLineDeviceIDBase = kDeviceIDBase;
    g_dwPermanentProviderID = kPermanentProviderID;
    g_pLineEventProc = &CEventRecorder::LineEvent;
    g_pfnLineCreateProc = &CEventRecorder::LineCreate;
    g_pfnAsyncCompletion = &CEventRecorder::Completion;
    StrCopy(g_pProviderSettings->Name, L"Lena Muster");
    StrCopy(g_pProviderSettings->LineFormat, L"0");
    BuildLines({L"21", L"22", L"23"});
    g_dwNextCallNumber = 1;
    g_mapCallNumber.clear();
    g_mapCallUuid.clear();
    g_mapCallLines.clear();
    g_RingsSeen.Clear();
    CEventRecorder::Reset();
    CEventRecorder::s_callbacksInsideLock = 0;
}

void LineModelFixture::TearDown() {
    // A dial-tone closer or drop a test started must not run into the next test.
    EndRequestThreads();
    EXPECT_EQ(CEventRecorder::s_callbacksInsideLock, 0u) << "TAPI was called back inside the ProviderLock";
    RemoveAllCalls();
    LineCapsDelete();
    g_dwDeviceCount = 0;
    g_Extensions.clear();
    g_pLineEventProc = nullptr;
    g_pfnLineCreateProc = nullptr;
    g_pfnAsyncCompletion = nullptr;
    CEventRecorder::Reset();
}

void LineModelFixture::BuildLines(const std::vector<std::wstring>& numbers) {
    RemoveAllCalls();
    g_Extensions.clear();
    for (const std::wstring& number : numbers)
        g_Extensions.push_back(ExtensionInfo{L"uuid-" + number, number, L"Ext " + number, L""});
    g_dwDeviceCount = static_cast<DWORD>(numbers.size());
    EnsureLineRecords(g_dwDeviceCount);
    LineCapsInit();
}

void LineModelFixture::Event(const wchar_t* uuid, const wchar_t* extension, const wchar_t* state,
                             const wchar_t* direction, const wchar_t* caller, const wchar_t* callee) {
    g_Manager.DispatchEvents(uuid, extension, caller, callee, state, direction);
}

HTAPILINE LineModelFixture::OpenLine(LONG lLinePos) {
    HTAPILINE htLine = reinterpret_cast<HTAPILINE>(static_cast<ULONG_PTR>(0x1000 + lLinePos));
    HDRVLINE hdLine = nullptr;
    EXPECT_EQ(TSPI_lineOpen(lLinePos + kDeviceIDBase, htLine, &hdLine, 0x00020002, &CEventRecorder::LineEvent), 0);
    EXPECT_EQ(hdLine, reinterpret_cast<HDRVLINE>(&Line(lLinePos)));
    return htLine;
}

LONG LineModelFixture::AddCall(LONG lLinePos, DWORD dwState) {
    CProviderLockGuard lock(LockOwner::DispatchEvents);
    LONG lCallPos = GenerateNewCall(static_cast<DWORD>(lLinePos), nullptr, LINECALLORIGIN_INBOUND, 0, 0, -1);
    if (lCallPos >= 0 && dwState != 0) SetState(lLinePos, lCallPos, dwState);
    return lCallPos;
}

void LineModelFixture::SetState(LONG lLinePos, LONG lCallPos, DWORD dwState) {
    RaiseCallMsg(lLinePos, lCallPos, LINE_CALLSTATE, dwState, 0, 0);
}

void LineModelFixture::EnableAllCallFeatures(LONG lLinePos) {
    Line(lLinePos).m_pLineAddressCaps->dwCallFeatures = 0xFFFFFFFF;
    Line(lLinePos).m_pLineAddressCaps->dwCallFeatures2 = 0xFFFFFFFF;
}

std::vector<RecordedEvent> LineModelFixture::EventsOf(DWORD dwMsg) const {
    std::vector<RecordedEvent> matching;
    for (const RecordedEvent& event : CEventRecorder::s_events)
        if (event.dwMsg == dwMsg) matching.push_back(event);
    return matching;
}

bool LineModelFixture::LockIsFree() {
    HANDLE hThread = CreateThread(
        nullptr, 0,
        [](LPVOID) -> DWORD {
            if (!TryEnterCriticalSection(&ProviderLock)) return 0;
            LeaveCriticalSection(&ProviderLock);
            return 1;
        },
        nullptr, 0, nullptr);
    WaitForSingleObject(hThread, 10000);
    DWORD dwFree = 0;
    GetExitCodeThread(hThread, &dwFree);
    CloseHandle(hThread);
    return dwFree == 1;
}

std::wstring AbortLine(const wchar_t* pszExport, const wchar_t* pszError, int nCheck, const wchar_t* pszText) {
    std::wstring line = std::wstring(L"Func.") + pszExport + L".Abort.Error." + pszError + L".#" + std::to_wstring(nCheck);
    if (pszText != nullptr) line += std::wstring(L".") + pszText;
    return line;
}

std::wstring TextAt(const void* pRecord, DWORD dwOffset) {
    return reinterpret_cast<const wchar_t*>(static_cast<const BYTE*>(pRecord) + dwOffset);
}

std::optional<LONG> RecordedCompletion(DWORD dwRequestID) {
    std::lock_guard<std::recursive_mutex> guard(CEventRecorder::s_mutex);
    for (const auto& [dwID, lResult] : CEventRecorder::s_completions)
        if (dwID == dwRequestID) return lResult;
    return std::nullopt;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD dwWatchdogMs) {
    const ULONGLONG qwDeadline = GetTickCount64() + dwWatchdogMs;
    while (!condition()) {
        if (GetTickCount64() > qwDeadline || testing::Test::HasFailure()) return false;
        Sleep(5);
    }
    return true;
}

std::vector<BYTE> LineModelFixture::Snapshot() {
    std::vector<BYTE> bytes;
    auto append = [&](const void* p, size_t cb) {
        if (p != nullptr) bytes.insert(bytes.end(), static_cast<const BYTE*>(p), static_cast<const BYTE*>(p) + cb);
    };
    for (DWORD pos = 0; pos < g_dwDeviceCount; ++pos) {
        const PhoneLine& line = g_PhoneLines[pos];
        append(&line, sizeof(line));
        append(line.m_pLineDevCaps, kDevCapsBufferSize);
        append(line.m_pLineAddressCaps, kAddressCapsBufferSize);
        append(line.m_pLineDevStatus, sizeof(LINEDEVSTATUS));
        append(line.m_pLineAddressStatus, kAddressStatusBufferSize);
        for (const PhoneCall* pCall : line.m_pPhoneCall) {
            if (pCall == nullptr) continue;
            append(pCall, sizeof(PhoneCall));
            append(pCall->m_pLineCallInfo, kCallInfoBufferSize);
            append(pCall->m_pLineCallStatus, sizeof(LINECALLSTATUS));
        }
    }
    append(&g_pLineEventProc, sizeof(g_pLineEventProc));
    return bytes;
}

void LineModelFixture::ExpectRefusals(const std::vector<Refusal>& refusals) {
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.pszName);
        const std::vector<BYTE> before = Snapshot();
        CTraceCapture capture(6);
        EXPECT_EQ(r.run(), r.lExpected);
        EXPECT_TRUE(capture.Contains(r.abortLine)) << testing::PrintToString(r.abortLine);
        EXPECT_TRUE(Snapshot() == before) << "the model changed";
        EXPECT_TRUE(LockIsFree());
    }
}
