#include "manager/CGenericTSPIManager.h"

#include "config/CSharedMem.h"
#include "log/Trace.h"
#include "manager/ThreadRun.h"
#include "model/CallEndNotice.h"
#include "model/LineDirectory.h"
#include "model/ProviderState.h"
#include "model/TapiDefs.h"
#include "pbx/CallEventSink.h"

CGenericTSPIManager* g_pManager = nullptr;

CGenericTSPIManager::CGenericTSPIManager() {
    g_pManager = this;
    g_dwDeviceCount = 0;
    // What the line records and the event stream need of the manager.
    g_LineDirectory = {[](DWORD dwDeviceIndex) { return g_pManager->GetFirstName(dwDeviceIndex); },
                       [](DWORD dwDeviceIndex) { return g_pManager->GetFirstAddress(dwDeviceIndex); },
                       [](DWORD dwDeviceIndex) { return g_pManager->GetFirstDeviceNumber(dwDeviceIndex); },
                       [](DWORD dwDeviceIndex, DWORD dwPreferred) {
                           return g_pManager->GetPermanentLineNumber(dwDeviceIndex, dwPreferred);
                       }};
    g_pfnCallEnded = &CGenericTSPIManager::CallEnded;
    // A monitor that outlived its run hands nothing on to the next one.
    g_CallEventSink = {[](const std::wstring& number) { return g_pManager->CreateFormattedNumber(number); },
                       [](const CallEvent& e) {
                           if (CurrentThreadMayAct())
                               g_pManager->DispatchEvents(e.uuid, e.extension, e.caller, e.callee, e.state, e.direction);
                       },
                       [](const CallEvent& e) {
                           if (CurrentThreadMayAct())
                               g_pManager->PostEvents(e.uuid, e.extension, e.caller, e.callee, e.state, e.direction);
                       }};
}

CGenericTSPIManager::~CGenericTSPIManager() {
    Trace(0, L"CGenericTSPIManager::~CGenericTSPIManager.Begin");
    g_SharedMem.Close();
    Trace(0, L"CGenericTSPIManager::~CGenericTSPIManager.End");
}

void CGenericTSPIManager::ProviderInstall() {
    CFuncTrace trace(2, L"CGenericTSPIManager::ProviderInstall");
    trace.End();
}

void CGenericTSPIManager::ProviderRemove() {
    CFuncTrace trace(2, L"CGenericTSPIManager::ProviderRemove");
    trace.End();
}

LONG CGenericTSPIManager::Reserved42(void*, DWORD) { return LINEERR_OPERATIONUNAVAIL; }
