// The provider's manager: the operations of CTspiManager carried out against
// the cloud PBX. Exactly one exists per process (g_Manager); all its state is
// process-wide. Its operations live in the files of their concern:
//   CGenericTSPIManager.cpp  construction, the trace-only hooks
//   StartUp.cpp              AttachInstance, InitResource, ProviderInit(2), ProviderShutdown
//   Reinitialization.cpp     ReinitializeDevices, RefreshDirectory (the device set of
//                            DeviceSet.cpp brought in line with the PBX directory while running)
//   LineNames.cpp            GetFirstName, GetFirstAddress, GetFirstDeviceNumber
//   PermanentLineIDs.cpp     GetPermanentLineNumber
//   LineControl.cpp          LineOpen, LineClose
//   OutgoingCalls.cpp        LineMakeCall, LineDrop (to the PBX, completed by a reply thread)
//   BackgroundThreads.cpp    event monitor, keep-alive, network observer, reply requests
//   SettingsStore.cpp        the settings key: start-up read, dialog save, login state, log values
//   FormattedNumber.cpp      CreateFormattedNumber
//   ConfigDialog.cpp         ShowInfoDialog, CheckConnection, ShowLastLoginState
//   Installation.cpp         UpdateTSPFile, AfterProviderRemove
//   CallEventDispatcher.cpp  DispatchEvents, DropAllOtherCalls, CallEnded
//   (CallNumbers.cpp and DialtoneCloser.cpp hold the dispatcher's call numbers
//   and its dial-tone closer thread)
#pragma once

#include <string>
#include <vector>

#include "config/CRegTool.h"
#include "manager/CTspiManager.h"
#include "pbx/ExtensionDirectory.h"

// How far a login and directory read came.
enum class DirectoryRead { LoginFailed, DirectoryFailed, Read };

// Writes the permanent line numbers given since the last save in one
// registry write (none when nothing changed), and lets the next line that
// needs its number read the registry again (PermanentLineIDs.cpp): each start
// begins with what the registry holds, and a running provider keeps no copy.
void SavePermanentLineNumbers();

class CGenericTSPIManager : public CTspiManager, public CRegTool {
public:
    CGenericTSPIManager();
    ~CGenericTSPIManager() override;

    void AttachInstance() override;
    void InitResource() override;
    void ShowInfoDialog(HWND hwndOwner) override;
    const wchar_t* GetFirstAddress(DWORD dwDeviceIndex) override;
    const wchar_t* GetFirstName(DWORD dwDeviceIndex) override;
    const wchar_t* GetFirstDeviceNumber(DWORD dwDeviceIndex) override;

    // LineControl.cpp
    LONG LineClose(PhoneLine* pLine) override;
    LONG LineOpen(PhoneLine* pLine) override;
    // OutgoingCalls.cpp
    LONG LineMakeCall(PhoneLine* pLine, DWORD dwRequestID, const wchar_t* pszDestination) override;
    LONG LineDrop(PhoneCall* pCall, DWORD dwRequestID) override;

    void ProviderInit() override;
    void ProviderInit2() override;
    // Reinitialization.cpp: logs in again and reads the directory, without any
    // lock, then brings the lines in line with it in one step under the
    // ProviderLock (run by the keep-alive thread when a re-initialisation is
    // requested). A failed login or directory read changes no line.
    // bSettingsChanged: the dialog asked for it (its OK), so a login that
    // refused credentials held back is sent again.
    void ReinitializeDevices(bool bSettingsChanged = false);
    // Reinitialization.cpp: the periodic directory read (keep-alive thread):
    // the directory read without any lock and without a new login (the token
    // is renewed only when it needs it), applied like a re-initialisation's.
    // A failed read changes no line; the event stream is left running. Calls
    // shown before the read whose extension it shows "idle" or "offline" end.
    void RefreshDirectory();
    void ProviderInstall() override;
    void ProviderRemove() override;
    void ProviderShutdown() override;

    // Installation.cpp: the copy in the system folder.
    void UpdateTSPFile() override;
    void AfterProviderRemove() override;

    // Slot 42, added by this class; nothing calls it.
    virtual LONG Reserved42(void*, DWORD);

    // Reads the settings key into the shared record, the log limits, the
    // credentials and the PBX connection settings (start-up).
    void ReadRegistrySettings();
    // Writes the log file number and limits back (provider shutdown).
    void SaveLogSettings();
    // The dialog's OK: DebugLevel "5" or "0", the credentials (at most 62
    // characters each) and the formats into the registry and, only when all
    // of it was written, into the shared record. False when not saved (the
    // user may not write the key).
    bool GetSaveGUISettings(DWORD bDebugLog, const wchar_t* pszName, const wchar_t* pszPassword,
                            const wchar_t* pszNumberFormat, const wchar_t* pszLineFormat);
    void SetLastLoginState(const wchar_t* pszText);
    // StartUp.cpp: the login with the shared record's account and the directory
    // read, without any lock; the login state is recorded when the login fails.
    DirectoryRead LogInAndReadDirectory(std::vector<ExtensionInfo>& directory);
    // "Login successful", or "No TAPI devices present" without a line in use.
    void RecordLoginSuccess(DWORD dwLinesInUse);
    // Logs in and reads the directory without any lock, then sets the lines
    // under the lock (the whole set at start-up, or only the difference) and
    // records the login state; dwLinesInUse the lines afterwards.
    DirectoryRead LogInAndSetLines(DWORD dwOwnerCode, bool bApplyDifference, DWORD& dwLinesInUse);
    std::wstring ReadLastLoginState();
    // ConfigDialog.cpp: the dialog's connection test and status field.
    void CheckConnection();
    void ShowLastLoginState();
    // PermanentLineIDs.cpp: the low 16 bits of the permanent line ID of the
    // extension at the device index, remembered per extension in the registry
    // (a new extension gets dwPreferred when no extension ever had it, else a
    // number none ever had; written by SavePermanentLineNumbers); 0 when none
    // can be remembered.
    DWORD GetPermanentLineNumber(DWORD dwDeviceIndex, DWORD dwPreferred);
    // A number reported by the PBX in the user's chosen number format.
    std::wstring CreateFormattedNumber(const std::wstring& number);

    // CallEventDispatcher.cpp: one PBX call event, and the idling of a
    // call's copies still offered on the lines of other extensions once it is
    // answered or ended there. DispatchEvents returns when the event's
    // messages and pauses are over; PostEvents (the event monitor's) queues
    // the event and returns at once, so that the next one, of another line,
    // need not wait for this one's pauses.
    void DispatchEvents(std::wstring uuid, std::wstring extension, std::wstring caller, std::wstring callee,
                        std::wstring state, std::wstring direction);
    void PostEvents(std::wstring uuid, std::wstring extension, std::wstring caller, std::wstring callee,
                    std::wstring state, std::wstring direction);
    void DropAllOtherCalls(DWORD dwCallNumber, std::wstring extension);
    // A call ended towards TAPI, whatever ended it: its PBX call number is
    // forgotten once no line shows that PBX call any more.
    static void CallEnded(DWORD dwCallNumber);

    wchar_t m_szFileDescription[256] = {};  // of the library's version resource

private:
    // False when the extension is no line of ours (nothing is queued).
    bool QueueEvent(const std::wstring& uuid, const std::wstring& extension, const std::wstring& caller,
                    const std::wstring& callee, const std::wstring& state, const std::wstring& direction, bool bWait);
};

// The one manager of the process.
extern CGenericTSPIManager g_Manager;
// The same, for threads started without an argument.
extern CGenericTSPIManager* g_pManager;
