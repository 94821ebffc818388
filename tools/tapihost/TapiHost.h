// A stand-in for the Windows telephony service: loads a service provider by
// path and drives it the way tapisrv does, recording every callback it gets.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "model/TapiDefs.h"

// One callback received from the provider, or what the host did about a
// device message (as tapisrv does, later, on a thread of its own):
//   DeviceCreated  TSPI_providerCreateLineDevice for a LINE_CREATE:
//                  dwParam1 the temporary ID, dwParam2 the device ID, lResult
//   DeviceClosed   the line of a LINE_REMOVE closed (only a line the host
//                  had open): dwParam1 the device ID, lResult of TSPI_lineClose
struct HostEvent {
    enum Kind { LineEvent, Completion, LineCreate, PhoneCreate, DeviceCreated, DeviceClosed } kind;
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

    // Device messages. A LINE_CREATE is answered with
    // TSPI_providerCreateLineDevice and the next free device ID; a LINE_REMOVE
    // closes the line if the host has it open (its calls that are not idle
    // first). Both run on the host's device thread, after the provider's
    // callback has returned.
    // Device IDs handed out so far: the lines of TSPI_providerEnumDevices and the created ones.
    DWORD DeviceCount() const;
    // Device IDs the provider removed with LINE_REMOVE, in order.
    std::vector<DWORD> RemovedDevices() const;
    // Device IDs given to created lines, in order.
    std::vector<DWORD> CreatedDevices() const;

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
    // What tapisrv does when the applications let go of a call.
    LONG CloseCall(HDRVCALL hdCall);
    LONG GetCallInfo(HDRVCALL hdCall, DWORD dwTotalSize, std::vector<BYTE>* pRecord);
    std::vector<HostEvent> Events() const;
    // The events from the nFirst-th on, and how many there are in all.
    std::vector<HostEvent> EventsFrom(size_t nFirst) const;
    size_t EventCount() const;
    // Only the line and call events, in arrival order.
    std::vector<HostEvent> LineEvents() const;
    void ClearEvents();
    // The events recorded so far, which the host then forgets (a long run's
    // memory stays flat).
    std::vector<HostEvent> TakeEvents();
    // Waits until an event satisfies the predicate; false at the deadline.
    bool WaitForEvent(const std::function<bool(const HostEvent&)>& predicate, DWORD dwTimeoutMs) const;

    // Waits until at least nCount events are recorded; false on time-out.
    bool WaitForEventCount(size_t nCount, DWORD dwTimeoutMs) const;
    // How many recorded events satisfy the predicate.
    size_t CountEvents(const std::function<bool(const HostEvent&)>& predicate) const;
    // Waits until at least nCount recorded events satisfy the predicate; false at the deadline.
    bool WaitForCount(const std::function<bool(const HostEvent&)>& predicate, size_t nCount, DWORD dwTimeoutMs) const;
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
    // The LINE_CREATE and LINE_REMOVE messages, queued for the device thread.
    void QueueDeviceMessage(DWORD dwMsg, DWORD_PTR dwParam);
    void DeviceThread();
    void StartDeviceThread();
    void StopDeviceThread();
    void CreateDevice(DWORD_PTR dwTempID);
    void CloseRemovedDevice(DWORD dwDeviceID);
    // The calls the host knows on a line it opened that are not idle.
    std::vector<HDRVCALL> ActiveCallsOf(HTAPILINE htLine) const;

    // A buffer of max(dwTotalSize, cbFixed) bytes with dwTotalSize set, handed to read.
    template <typename Read>
    LONG ReadRecord(DWORD dwTotalSize, DWORD cbFixed, std::vector<BYTE>* pRecord, Read read);

    HMODULE m_hProvider = nullptr;
    ULONG_PTR m_nextCallHandle = 0x10000;
    DWORD m_dwVersion = 0;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<HostEvent> m_events;

    // The provider is called one call at a time, as it asks with
    // LINETSPIOPTION_NONREENTRANT; recursive for the device thread's closes.
    std::recursive_mutex m_callMutex;
    // The lines the host opened, by device ID, and its calls' handles, both under m_mutex.
    struct OpenLineEntry {
        HDRVLINE hdLine;
        HTAPILINE htLine;
    };
    std::map<DWORD, OpenLineEntry> m_openLines;
    struct KnownCall {
        HDRVCALL hdCall;
        HTAPILINE htLine;
        DWORD dwLastState;  // the last LINE_CALLSTATE, 0 before the first
    };
    std::map<HTAPICALL, KnownCall> m_calls;
    DWORD m_dwNextDeviceID = kLineDeviceIDBase;
    std::vector<DWORD> m_createdDevices;
    std::vector<DWORD> m_removedDevices;
    // The device thread and its queue of (message, parameter), under m_mutex.
    std::deque<std::pair<DWORD, DWORD_PTR>> m_deviceMessages;
    bool m_bDeviceThreadStop = false;
    std::thread m_deviceThread;
};

// Name of a LINE_* message, for printing.
const wchar_t* LineMessageName(DWORD dwMsg);
// The text a size and offset of a record point to, up to its first zero.
std::wstring RecordText(const std::vector<BYTE>& record, DWORD dwSize, DWORD dwOffset);
