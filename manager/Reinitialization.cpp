// A re-initialisation while the provider runs (the configuration dialog
// asked for it, or the lines could not be had at start-up): a new login and
// directory read, and the lines brought in line with the directory. The
// periodic directory refresh applies the directory the same way, without the
// new login.
#include <string>

#include "config/DiagnosticReports.h"
#include "log/Trace.h"
#include "manager/BackgroundThreads.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/CallEvidence.h"
#include "manager/DeviceSet.h"
#include "manager/ThreadRun.h"
#include "model/ProviderLock.h"
#include "pbx/ExtensionDirectory.h"
#include "pbx/Session.h"

void CGenericTSPIManager::ReinitializeDevices(bool bSettingsChanged) {
    CFuncTrace trace(2, L"CGenericTSPIManager::ReinitializeDevices");
    // Runs on the keep-alive thread: nothing may end it.
    try {
        if (bSettingsChanged) AllowLoginAgain();
        const std::wstring userBefore = CurrentUserName();
        const std::wstring customerBefore = CurrentCustomer();
        DWORD dwLinesInUse = 0;
        const DirectoryRead read = LogInAndSetLines(LockOwner::ReinitializeDevices, true, dwLinesInUse);
        if (read == DirectoryRead::LoginFailed || dwLinesInUse == 0) return trace.End();

        // The event stream belongs to the account it was opened for. The same
        // account keeps its running stream, so that no call event falls into
        // the gap of a reconnection; another account gets a stream of its own.
        const bool bOtherAccount = CurrentUserName() != userBefore || CurrentCustomer() != customerBefore;
        if (EventMonitorHandle() == nullptr || bOtherAccount) StartEventMonitor();
        StartKeepAlive();
        PrintTAPIApps(ProviderStopEvent());
        trace.Var(L"m_hMonitorThread", L"0x%p", EventMonitorHandle());
    } catch (...) {
        trace.Warning(L"Exception, re-initialisation abandoned");
    }
    trace.End();
}

void CGenericTSPIManager::RefreshDirectory() {
    CFuncTrace trace(2, L"CGenericTSPIManager::RefreshDirectory");
    // Runs on the keep-alive thread: nothing may end it.
    try {
        if (g_sBaseURL.empty()) return trace.End();
        // The calls before the read: the presences it brings speak of them only.
        std::vector<ShownCall> callsBefore;
        {
            CProviderLockGuard lock(LockOwner::RefreshDirectory);
            callsBefore = FindShownCalls(ShownCalls::All);
        }
        // Read without any lock; the token is renewed only when it needs it.
        std::vector<ExtensionInfo> directory;
        if (!ReadExtensionDirectory(directory)) {
            trace.Warning(L"Directory not read, the lines stay as they are");
            return trace.End();
        }
        DWORD dwLinesInUse = 0;
        DeviceSetChanges changes;
        {
            CProviderLockGuard lock(LockOwner::RefreshDirectory);
            if (!CurrentThreadMayAct()) return trace.End();
            changes = ApplyDirectory(directory);
            dwLinesInUse = CountLinesInUse();
        }
        trace.Var(L"changes", L"created %u removed %u renamed %u", changes.dwCreated, changes.dwRemoved,
                  changes.dwRenamed);
        EndCallsShownWithoutCall(callsBefore, directory, ShownCalls::All);
        // The first lines of an account that had none need the event stream.
        if (dwLinesInUse != 0 && EventMonitorHandle() == nullptr) StartEventMonitor();
    } catch (...) {
        trace.Warning(L"Exception, directory refresh abandoned");
    }
    trace.End();
}
