// Custom actions of the installer package (ORVOTSPSetup.dll, kept in the
// package's Binary table). The Windows Installer runs them deferred and
// without impersonation, in its own process: msiexec.exe in the system
// folder, as LocalSystem. That is where the library's installation steps
// agree to run, and where the library takes its standard name whatever its
// file is called. Each action loads the package's copy of the library, whose
// path the package hands over as the action's data, and calls one of the
// library's own steps:
//   InstallProvider  TUISPI_DllInstall: an earlier registration and copy go,
//                    the library is copied into the system folder and added
//                    to TAPI's providers
//   RemoveProvider   TUISPI_DllRemove: removed from TAPI's providers, the
//                    copy in the system folder deleted; then the provider's
//                    log folder goes too
// The library reports no failure of these steps, so InstallProvider checks
// the outcome: unless the system folder holds this package's library and TAPI
// lists the provider once, it takes the installation back out and fails, and
// the installer rolls the rest back. A removal never fails, so that an
// administrator can always get rid of the package; what it could not undo is
// written to the installer's log.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>

#include <cstdarg>
#include <iterator>
#include <memory>
#include <new>
#include <string>

#include "common/BoundedString.h"
#include "config/ProviderList.h"

namespace {
constexpr wchar_t kProviderFile[] = L"ORVOTSP.TSP";
constexpr char kProviderFileA[] = "ORVOTSP.TSP";
constexpr DWORD kTapiVersion = 0x00020002;

using LibraryStep = LONG(WINAPI*)(DWORD);

// One line in the installer's log ("msiexec /l*v"), marked so that it can be
// found among the installer's own.
void Log(MSIHANDLE hInstall, const wchar_t* pszFormat, ...) {
    wchar_t szText[1024] = L"ORVOTSP setup: ";
    const size_t cchPrefix = wcslen(szText);
    va_list args;
    va_start(args, pszFormat);
    BoundedFormatV(szText + cchPrefix, std::size(szText) - cchPrefix, pszFormat, args);
    va_end(args);
    PMSIHANDLE hRecord = MsiCreateRecord(1);
    // The text goes in as a field, so that brackets in a path are not taken
    // for installer properties.
    MsiRecordSetStringW(hRecord, 0, L"[1]");
    MsiRecordSetStringW(hRecord, 1, szText);
    MsiProcessMessage(hInstall, INSTALLMESSAGE_INFO, hRecord);
}

// A deferred action sees no installer properties, only the data the package
// set for it: here the full path of the package's copy of the library.
std::wstring ActionData(MSIHANDLE hInstall) {
    wchar_t szEmpty[1] = L"";
    DWORD cch = 0;
    if (MsiGetPropertyW(hInstall, L"CustomActionData", szEmpty, &cch) != ERROR_MORE_DATA) return L"";
    std::wstring data(cch + 1, L'\0');
    cch = static_cast<DWORD>(data.size());
    if (MsiGetPropertyW(hInstall, L"CustomActionData", data.data(), &cch) != ERROR_SUCCESS) return L"";
    data.resize(cch);
    return data;
}

// Runs an exported step of the library at the path. False when the library
// cannot be loaded or lacks the step; else the step's result is in *plResult.
bool RunLibraryStep(MSIHANDLE hInstall, const std::wstring& library, const char* pszStep, LONG* plResult) {
    HMODULE hLibrary = LoadLibraryExW(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (hLibrary == nullptr) {
        Log(hInstall, L"cannot load \"%s\": error %lu", library.c_str(), GetLastError());
        return false;
    }
    auto pfnStep = reinterpret_cast<LibraryStep>(reinterpret_cast<void*>(GetProcAddress(hLibrary, pszStep)));
    if (pfnStep != nullptr) {
        *plResult = pfnStep(0);
        Log(hInstall, L"%S of \"%s\" returned %ld", pszStep, library.c_str(), *plResult);
    } else {
        Log(hInstall, L"\"%s\" has no %S", library.c_str(), pszStep);
    }
    FreeLibrary(hLibrary);
    return pfnStep != nullptr;
}

std::wstring InstalledFile() {
    wchar_t szPath[MAX_PATH] = {};
    GetSystemDirectoryW(szPath, MAX_PATH);
    StrAppend(szPath, L"\\");
    StrAppend(szPath, kProviderFile);
    return szPath;
}

bool FileExists(const std::wstring& path) {
    const DWORD dwAttributes = GetFileAttributesW(path.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Closes a file handle on every way out.
struct FileCloser {
    void operator()(void* hFile) const { CloseHandle(hFile); }
};
using FileHandle = std::unique_ptr<void, FileCloser>;

FileHandle OpenForReading(const std::wstring& path) {
    HANDLE hFile = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return FileHandle(hFile != INVALID_HANDLE_VALUE ? hFile : nullptr);
}

// Whether both files hold the same bytes. A copy in the system folder that a
// running program holds cannot be replaced, and the library would leave the
// older one there without a word.
bool SameContents(const std::wstring& first, const std::wstring& second) {
    FileHandle hFirst = OpenForReading(first);
    FileHandle hSecond = OpenForReading(second);
    if (!hFirst || !hSecond) return false;
    constexpr DWORD kChunk = 65536;
    std::unique_ptr<BYTE[]> bufferFirst(new (std::nothrow) BYTE[kChunk]);
    std::unique_ptr<BYTE[]> bufferSecond(new (std::nothrow) BYTE[kChunk]);
    if (!bufferFirst || !bufferSecond) return false;
    for (;;) {
        DWORD cbFirst = 0;
        DWORD cbSecond = 0;
        if (!ReadFile(hFirst.get(), bufferFirst.get(), kChunk, &cbFirst, nullptr) ||
            !ReadFile(hSecond.get(), bufferSecond.get(), kChunk, &cbSecond, nullptr) || cbFirst != cbSecond ||
            memcmp(bufferFirst.get(), bufferSecond.get(), cbFirst) != 0)
            return false;
        if (cbFirst == 0) return true;
    }
}

// How many entries of TAPI's provider list name the provider's file; -1 when
// TAPI cannot give its list.
int CountListedProviders(MSIHANDLE hInstall) {
    HMODULE hTapi32 = LoadLibraryExW(L"TAPI32.DLL", nullptr, 0);
    auto pfnGetProviderList =
        hTapi32 != nullptr ? reinterpret_cast<PFN_lineGetProviderList>(
                                 reinterpret_cast<void*>(GetProcAddress(hTapi32, "lineGetProviderList")))
                           : nullptr;
    int nListed = -1;
    if (pfnGetProviderList == nullptr) {
        Log(hInstall, L"TAPI32.DLL or its lineGetProviderList cannot be had");
    } else {
        DWORD cbList = sizeof(LINEPROVIDERLIST);
        for (;;) {
            std::unique_ptr<BYTE[]> list(new (std::nothrow) BYTE[cbList]());
            if (!list) break;
            auto* pList = reinterpret_cast<LINEPROVIDERLIST*>(list.get());
            pList->dwTotalSize = cbList;
            const LONG lResult = pfnGetProviderList(kTapiVersion, pList);
            if (lResult != 0) {
                Log(hInstall, L"lineGetProviderList failed: 0x%08lX", static_cast<unsigned long>(lResult));
                break;
            }
            if (pList->dwNeededSize > pList->dwTotalSize) {
                cbList = pList->dwNeededSize;
                continue;
            }
            nListed = 0;
            ForEachListedProvider(pList, [&](DWORD dwID, const char* pszListed) {
                if (IsListedAs(pszListed, kProviderFileA)) {
                    Log(hInstall, L"TAPI lists \"%S\" as provider %lu", pszListed, dwID);
                    ++nListed;
                }
                return true;
            });
            break;
        }
    }
    if (hTapi32 != nullptr) FreeLibrary(hTapi32);
    return nListed;
}

// Why the installation is not complete, or null when it is.
const wchar_t* IncompleteInstallation(MSIHANDLE hInstall, const std::wstring& library) {
    const std::wstring installed = InstalledFile();
    if (!FileExists(installed)) return L"the library was not copied into the system folder";
    if (!SameContents(installed, library))
        return L"the library in the system folder could not be replaced: close the programs that use TAPI and "
               L"install again";
    const int nListed = CountListedProviders(hInstall);
    if (nListed < 0) return L"TAPI cannot list its providers: is the Telephony service disabled?";
    if (nListed != 1) return L"TAPI does not list the provider exactly once";
    return nullptr;
}

bool EndsWith(const wchar_t* pszName, const wchar_t* pszEnd) {
    const size_t cchName = wcslen(pszName);
    const size_t cchEnd = wcslen(pszEnd);
    return cchName >= cchEnd && _wcsicmp(pszName + cchName - cchEnd, pszEnd) == 0;
}

// The provider's log folder as the library names it under its standard name:
// <common application data>\ORVO\ORVO TAPI.
std::wstring LogFolder() {
    wchar_t szFolder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, szFolder))) return L"";
    return std::wstring(szFolder) + L"\\ORVO\\ORVO TAPI";
}

// Deletes the log and exchange files the provider wrote (ORVOTSP*.LOG,
// *_SEQUENCE.TXT) and then the folder and its parent where they are empty.
// A folder that is a link is left alone: it is not the one the provider made.
void DeleteLogFolder(MSIHANDLE hInstall) {
    const std::wstring folder = LogFolder();
    const DWORD dwAttributes = folder.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(folder.c_str());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES) return;
    if ((dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        Log(hInstall, L"\"%s\" is not a plain folder: left alone", folder.c_str());
        return;
    }
    for (const auto& [pszPattern, pszEnd] : {std::pair{L"\\ORVOTSP*.LOG", L".LOG"},
                                            std::pair{L"\\*_SEQUENCE.TXT", L"_SEQUENCE.TXT"}}) {
        WIN32_FIND_DATAW entry;
        HANDLE hFind = FindFirstFileW((folder + pszPattern).c_str(), &entry);
        if (hFind == INVALID_HANDLE_VALUE) continue;
        do {
            // The pattern also matches short names; the long name decides.
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !EndsWith(entry.cFileName, pszEnd))
                continue;
            const std::wstring file = folder + L"\\" + entry.cFileName;
            if (!DeleteFileW(file.c_str()))
                Log(hInstall, L"cannot delete \"%s\": error %lu", file.c_str(), GetLastError());
        } while (FindNextFileW(hFind, &entry));
        FindClose(hFind);
    }
    if (!RemoveDirectoryW(folder.c_str())) {
        Log(hInstall, L"\"%s\" kept: error %lu", folder.c_str(), GetLastError());
        return;
    }
    // The parent stays while another copy of the provider keeps its folder there.
    RemoveDirectoryW(folder.substr(0, folder.rfind(L'\\')).c_str());
}
}  // namespace

extern "C" {

UINT WINAPI InstallProvider(MSIHANDLE hInstall) {
    const std::wstring library = ActionData(hInstall);
    LONG lResult = -1;
    if (!RunLibraryStep(hInstall, library, "TUISPI_DllInstall", &lResult)) return ERROR_INSTALL_FAILURE;
    if (lResult != 0) {
        Log(hInstall, L"the library refused to install itself: the installer does not run from the system folder");
        return ERROR_INSTALL_FAILURE;
    }
    const wchar_t* pszIncomplete = IncompleteInstallation(hInstall, library);
    if (pszIncomplete == nullptr) return ERROR_SUCCESS;
    Log(hInstall, L"installation failed: %s (the library's log: ORVOTSPmsiexec_000.LOG)", pszIncomplete);
    // What the library did is taken back out: the installer's rollback knows
    // nothing of it.
    RunLibraryStep(hInstall, library, "TUISPI_DllRemove", &lResult);
    return ERROR_INSTALL_FAILURE;
}

UINT WINAPI RemoveProvider(MSIHANDLE hInstall) {
    const std::wstring library = ActionData(hInstall);
    LONG lResult = -1;
    if (RunLibraryStep(hInstall, library, "TUISPI_DllRemove", &lResult) && lResult != 0)
        Log(hInstall, L"the library refused to remove itself: the installer does not run from the system folder");
    const std::wstring installed = InstalledFile();
    if (FileExists(installed)) Log(hInstall, L"\"%s\" is still there", installed.c_str());
    if (CountListedProviders(hInstall) > 0) Log(hInstall, L"TAPI still lists the provider");
    DeleteLogFolder(hInstall);
    return ERROR_SUCCESS;
}

}  // extern "C"
