#include "config/CSharedMem.h"

#include <cwchar>
#include <cwctype>

#include "common/BoundedString.h"
#include "common/SecretWipe.h"
#include "config/CSimpleCRC.h"
#include "config/ProviderIdentity.h"
#include "log/ObjectSecurity.h"
#include "log/Trace.h"

namespace {
// Used until the section is mapped and whenever it cannot be: the process
// then works alone on its own copy.
ProviderSettings s_PrivateSettings{};

void AppendChecksum(wchar_t (&szName)[512], const wchar_t* pszText) {
    WORD wChecksum = CSimpleCRC().Checksum(reinterpret_cast<const BYTE*>(pszText), wcslen(pszText) * sizeof(wchar_t));
    wchar_t szNumber[16];
    StrFormat(szNumber, L"%d", static_cast<int>(wChecksum));
    StrAppend(szName, szNumber);
}

// Drive and folder of the library, upper case, without the closing backslash.
void GetModuleFolder(wchar_t (&szFolder)[260]) {
    wchar_t szDrive[8] = {};
    wchar_t szDir[260] = {};
    _wsplitpath_s(g_szModulePath, szDrive, 8, szDir, 260, nullptr, 0, nullptr, 0);
    StrCopy(szFolder, szDrive);
    StrAppend(szFolder, szDir);
    size_t cch = wcslen(szFolder);
    if (cch > 0 && szFolder[cch - 1] == L'\\') szFolder[cch - 1] = L'\0';
    for (wchar_t* p = szFolder; *p != L'\0'; ++p) *p = static_cast<wchar_t>(towupper(*p));
}

}  // namespace

ProviderSettings* g_pProviderSettings = &s_PrivateSettings;

CSharedMem::CSharedMem(DWORD bPerUser) : m_bPerUser(bPerUser) {}

CSharedMem::~CSharedMem() { Close(); }

void CSharedMem::SetName(const wchar_t* pszName) {
    BoundedCopy(m_szSuffix, 256, pszName, 255);
    for (wchar_t* p = m_szSuffix; *p != L'\0'; ++p)
        if (wcschr(L" &,.:", *p) != nullptr) *p = L'_';
}

void CSharedMem::BuildName(const wchar_t* pszExtra) {
    StrCopy(m_szName, SHARED_FILE_NAME);
    StrAppend(m_szName, m_szSuffix);
    if (m_bPerUser) {
        wchar_t szUser[128] = {};
        DWORD cchUser = 127;
        if (GetUserNameW(szUser, &cchUser)) StrAppend(m_szName, szUser);
    }
    if (m_bPerModule) {
        wchar_t szFolder[260];
        GetModuleFolder(szFolder);
        AppendChecksum(m_szName, szFolder);
    }
    if (pszExtra != nullptr) AppendChecksum(m_szName, pszExtra);
}

bool CSharedMem::OpenOrCreateMapping() {
    constexpr DWORD kAccess = FILE_MAP_READ | FILE_MAP_WRITE | READ_CONTROL;
    SetLastError(0);
    // Not inherited: a child process of the service must not get the password.
    m_hMapping.reset(OpenFileMappingW(kAccess, FALSE, m_szName));
    bool bCreated = false;
    if (!m_hMapping) {
        // Only the service accounts may open it: the password is in it.
        CObjectSecurity security(SecuredObject::SharedSection);
        SetLastError(0);
        if (security.Attributes() != nullptr)
            m_hMapping.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, security.Attributes(), PAGE_READWRITE, 0,
                                                sizeof(ProviderSettings), m_szName));
        // Another process may have created it since our open failed; its
        // record must not be wiped.
        bCreated = m_hMapping && GetLastError() != ERROR_ALREADY_EXISTS;
    }
    // One that exists was made by whoever came first: a section another
    // account owns, or that others may open, was planted to read the
    // password or to hand the service an account and a re-initialisation.
    if (m_hMapping && !bCreated && !IsSecuredAsMadeByProvider(m_hMapping.get(), SE_KERNEL_OBJECT, &m_pszRefusal)) {
        m_hMapping.reset();
        m_bRefused = 1;
    }
    return bCreated;
}

void CSharedMem::Open(DWORD bPerUser, DWORD bPerModule, const wchar_t* pszExtra) {
    CFuncTrace trace(3, L"CSharedMem::Open");
    if (!m_bPerUser) m_bPerUser = bPerUser;
    if (!m_bPerModule) m_bPerModule = bPerModule;
    Close();
    m_bRefused = 0;
    m_pszRefusal = L"";
    BuildName(pszExtra);
    trace.Var(L"m_szName", L"%s", m_szName);

    bool bCreated = OpenOrCreateMapping();
    if (m_hMapping) {
        SetLastError(0);
        m_view.reset(MapViewOfFile(m_hMapping.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
    }
    if (m_view) {
        if (bCreated) ZeroMemory(m_view.get(), sizeof(ProviderSettings));
        g_pProviderSettings = static_cast<ProviderSettings*>(m_view.get());
        m_bMapped = 1;
    } else {
        g_pProviderSettings = &s_PrivateSettings;
        if (m_bRefused)
            trace.Warning(L"Section refused, %s: private settings record", m_pszRefusal);
        else
            trace.Warning(L"Private settings record, error %u", GetLastError());
    }
    trace.Var(L"bCreated", L"%d", bCreated ? 1 : 0);
    trace.End();
}

void CSharedMem::Close() {
    // Readers after this (nothing of the provider runs any more at unload)
    // get the private record rather than an unmapped view.
    if (m_bMapped) g_pProviderSettings = &s_PrivateSettings;
    m_view.reset();
    m_hMapping.reset();
    m_bMapped = 0;
    WipeSecret(s_PrivateSettings.Password);
}
