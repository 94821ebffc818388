// The named section through which the telephony service and the processes
// showing the configuration dialog share one ProviderSettings record.
#pragma once

#include <windows.h>

#include "common/UniqueHandle.h"
#include "common/UniqueMappedView.h"
#include "config/ProviderSettings.h"

#define SHARED_FILE_NAME L"Global\\SharedMemORVOAPITSP"

class CSharedMem {
public:
    explicit CSharedMem(DWORD bPerUser = 0);
    virtual ~CSharedMem();
    CSharedMem(const CSharedMem&) = delete;
    CSharedMem& operator=(const CSharedMem&) = delete;

    // The part of the name that tells provider copies apart (the library's
    // base name); blanks and "&,.:" become "_".
    void SetName(const wchar_t* pszName);
    // Opens the section, or creates and zeroes it with a DACL that admits the
    // service accounts only, owned by Administrators, and points
    // g_pProviderSettings at it; falls back to the private record, also when
    // a section of the name exists that another account owns or others may
    // open (it was planted). No handle of it is inherited by child processes.
    void Open(DWORD bPerUser, DWORD bPerModule, const wchar_t* pszExtra);
    // Lets go of the section and unmaps its view; the settings are the
    // private record from here on, wiped of the password.
    void Close();

    const wchar_t* Name() const { return m_szName; }
    bool IsMapped() const { return m_bMapped != 0; }
    // The last Open found a section of the name that another account owns
    // or others may open too; RefusalReason says which.
    bool WasRefused() const { return m_bRefused != 0; }
    const wchar_t* RefusalReason() const { return m_pszRefusal; }

    DWORD m_bMapped = 0;
    DWORD m_bPerUser = 0;
    DWORD m_bPerModule = 0;
    UniqueHandle m_hMapping;
    UniqueMappedView m_view;
    wchar_t m_szSuffix[256] = {};
    wchar_t m_szName[512] = {};  // the full name of the last Open
    DWORD m_bRefused = 0;
    const wchar_t* m_pszRefusal = L"";

private:
    void BuildName(const wchar_t* pszExtra);
    // Returns whether the section was newly created.
    bool OpenOrCreateMapping();
};

// The process's one shared-state object.
extern CSharedMem g_SharedMem;
