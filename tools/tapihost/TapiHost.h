// A stand-in for the Windows telephony service: loads a service provider by
// path and drives it the way tapisrv does, recording every callback it gets.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "model/TapiDefs.h"

// One callback received from the provider.
struct HostEvent {
    enum Kind { LineEvent, Completion, LineCreate, PhoneCreate } kind;
    std::chrono::steady_clock::time_point time;
    ULONGLONG qwWallTime;  // FILETIME ticks of the same moment (tools/tapihost/WallClock.h)
    HTAPILINE htLine;
    HTAPICALL htCall;
    DWORD dwMsg;
    DWORD_PTR dwParam1, dwParam2, dwParam3;
    DWORD dwRequestID;  // completions
    LONG lResult;       // completions
};

class CTapiHost {
public:
    static constexpr DWORD kPermanentProviderID = 7;
    static constexpr DWORD kLineDeviceIDBase = 0;

    CTapiHost();
    ~CTapiHost();
    CTapiHost(const CTapiHost&) = delete;
    CTapiHost& operator=(const CTapiHost&) = delete;

    bool Load(const std::wstring& path);
    void Unload();
    bool IsLoaded() const { return m_hProvider != nullptr; }
    HMODULE Module() const { return m_hProvider; }

    // Looks up an export; null when the provider lacks it.
    FARPROC Export(const char* pszName) const;
    template <typename Fn>
    Fn ExportAs(const char* pszName) const {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(Export(pszName)));
    }

    // The start-up order of tapisrv.
    LONG NegotiateTSPIVersion(DWORD dwDeviceID, DWORD dwLow, DWORD dwHigh, DWORD* pdwVersion);
    LONG EnumDevices(DWORD* pdwNumLines, DWORD* pdwNumPhones);
    LONG Init(DWORD dwNumLines, DWORD* pdwTSPIOptions);
    LONG Shutdown();
    // Negotiate, enumerate and initialise; returns the first failure.
    LONG Start(DWORD* pdwNumLines = nullptr);

    // Lines. The host's event procedure is handed to every open; it answers
    // LINE_NEWCALL by writing a fresh call handle, as tapisrv does.
    LONG OpenLine(DWORD dwDeviceID, HTAPILINE htLine, HDRVLINE* phdLine);
    LONG CloseLine(HDRVLINE hdLine);
    // Records read into a buffer whose dwTotalSize is the chosen size (the
    // buffer itself is at least the record's fixed size, as TAPI's are).
    LONG GetDevCaps(DWORD dwDeviceID, DWORD dwTotalSize, std::vector<BYTE>* pRecord);
    LONG GetAddressCaps(DWORD dwDeviceID, DWORD dwAddressID, DWORD dwTotalSize, std::vector<BYTE>* pRecord);
    LONG GetLineDevStatus(HDRVLINE hdLine, DWORD dwTotalSize, std::vector<BYTE>* pRecord);
    LONG GetAddressStatus(HDRVLINE hdLine, DWORD dwAddressID, DWORD dwTotalSize, std::vector<BYTE>* pRecord);
    LONG GetLineID(HDRVLINE hdLine, HDRVCALL hdCall, DWORD dwSelect, const wchar_t* pszDeviceClass, DWORD dwTotalSize,
                   std::vector<BYTE>* pRecord);

    // Asynchronous: a positive result is the request identifier, whose
    // completion arrives as a Completion event.
    LONG MakeCall(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, HTAPICALL htCall, HDRVCALL* phdCall,
                  const wchar_t* pszDestination);
    LONG Drop(DRV_REQUESTID dwRequestID, HDRVCALL hdCall);
    // What tapisrv does once no application refers to the call any more.
    LONG CloseCall(HDRVCALL hdCall);
    LONG GetCallInfo(HDRVCALL hdCall, DWORD dwTotalSize, std::vector<BYTE>* pRecord);
    std::vector<HostEvent> Events() const;
    // The events from the nFirst-th on, and how many there are in all.
    std::vector<HostEvent> EventsFrom(size_t nFirst) const;
    size_t EventCount() const;
    // Only the line and call events, in arrival order.
    std::vector<HostEvent> LineEvents() const;
    void ClearEvents();
    // Waits until an event satisfies the predicate; false at the deadline.
    bool WaitForEvent(const std::function<bool(const HostEvent&)>& predicate, DWORD dwTimeoutMs) const;

    // Waits until at least nCount events are recorded; false on time-out.
    bool WaitForEventCount(size_t nCount, DWORD dwTimeoutMs) const;
    DWORD NegotiatedVersion() const { return m_dwVersion; }

    // The host object the provider calls back into (one at a time per process).
    static CTapiHost* Current();

private:
    static void CALLBACK OnCompletion(DRV_REQUESTID dwRequestID, LONG lResult);
    static void CALLBACK OnLineEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1,
                                     DWORD_PTR dwParam2, DWORD_PTR dwParam3);
    static void CALLBACK OnLineCreate(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1,
                                      DWORD_PTR dwParam2, DWORD_PTR dwParam3);
    static void CALLBACK OnPhoneCreate(HTAPIPHONE htPhone, DWORD dwMsg, DWORD_PTR dwParam1, DWORD_PTR dwParam2,
                                       DWORD_PTR dwParam3);
    void Record(HostEvent event);

    // A buffer of max(dwTotalSize, cbFixed) bytes with dwTotalSize set, handed to read.
    template <typename Read>
    static LONG ReadRecord(DWORD dwTotalSize, DWORD cbFixed, std::vector<BYTE>* pRecord, Read read);

    HMODULE m_hProvider = nullptr;
    ULONG_PTR m_nextCallHandle = 0x10000;
    DWORD m_dwVersion = 0;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<HostEvent> m_events;
};

// Name of a LINE_* message, for printing.
const wchar_t* LineMessageName(DWORD dwMsg);
// The text a size and offset of a record point to, up to its first zero.
std::wstring RecordText(const std::vector<BYTE>& record, DWORD dwSize, DWORD dwOffset);
