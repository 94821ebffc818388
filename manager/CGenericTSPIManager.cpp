#include "manager/CGenericTSPIManager.h"

#include "config/CSharedMem.h"
#include "log/Trace.h"
#include "manager/ProviderState.h"
#include "model/TapiDefs.h"

CGenericTSPIManager::CGenericTSPIManager() {
    g_pManager = this;
    g_dwDeviceCount = 0;
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
