// The provider's manager: the operations of CTspiManager carried out against
// the cloud PBX. Exactly one exists per process (g_Manager); all its state is
// process-wide. Its operations live in the files of their concern:
//   CGenericTSPIManager.cpp  construction, the trace-only hooks
//   StartUp.cpp              AttachInstance, InitResource, ProviderInit(2), ProviderShutdown
//   LineNames.cpp            GetFirstName, GetFirstAddress, GetFirstDeviceNumber
#pragma once

#include "config/CRegTool.h"
#include "manager/CTspiManager.h"

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

    void ProviderInit() override;
    void ProviderInit2() override;
    void ProviderInstall() override;
    void ProviderRemove() override;
    void ProviderShutdown() override;

    // Slot 42, added by this class; nothing calls it.
    virtual LONG Reserved42(void*, DWORD);
};

// The one manager of the process.
extern CGenericTSPIManager g_Manager;
