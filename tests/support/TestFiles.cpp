#include "support/TestFiles.h"

#include <algorithm>

#include "common/BoundedString.h"

CTempDir::CTempDir(const wchar_t* pszTag) {
    wchar_t szTemp[MAX_PATH] = {}, szName[MAX_PATH];
    GetTempPathW(MAX_PATH, szTemp);
    static LONG s_nCounter = 0;
    StrFormat(szName, L"%s%s_%lu_%ld", szTemp, pszTag, GetCurrentProcessId(), InterlockedIncrement(&s_nCounter));
    CreateDirectoryW((m_path = szName).c_str(), nullptr);
}

CTempDir::~CTempDir() {
    for (const std::wstring& name : ListFiles(m_path)) DeleteFileW(File(name).c_str());
    RemoveDirectoryW(m_path.c_str());
}

namespace {
// Wine's own path conversions between the Windows and the Linux view.
template <typename Out, typename In>
Out WinePath(const char* pszExport, const In& path) {
    using Convert = decltype(Out().data())(CDECL*)(decltype(path.c_str()));
    auto pfn = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), pszExport)));
    auto psz = pfn != nullptr ? pfn(path.c_str()) : nullptr;
    if (psz == nullptr) return {};
    Out converted(psz);
    HeapFree(GetProcessHeap(), 0, psz);
    return converted;
}

// Runs a Linux program; Wine gives back no process handle, so the caller
// waits for the program's effect instead.
void StartLinuxProgram(const std::wstring& commandLine) {
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION process{};
    std::wstring command = commandLine;
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        if (process.hProcess != nullptr) CloseHandle(process.hProcess);
        if (process.hThread != nullptr) CloseHandle(process.hThread);
    }
}

bool WaitForAttributes(const std::wstring& path, bool bPresent) {
    for (ULONGLONG qwDeadline = GetTickCount64() + 20000; GetTickCount64() < qwDeadline; Sleep(20))
        if ((GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) == bPresent) return true;
    return false;
}

std::wstring Quoted(const std::string& unixPath) { return L" \"" + FromUtf8(unixPath) + L"\""; }
}  // namespace

std::string UnixPath(const std::wstring& dosPath) { return WinePath<std::string>("wine_get_unix_file_name", dosPath); }

std::wstring DosPath(const std::string& unixPath) {
    return WinePath<std::wstring>("wine_get_dos_file_name", unixPath);
}

CSymbolicLink::CSymbolicLink(const std::wstring& target, std::wstring link) : m_link(std::move(link)) {
    const std::string unixTarget = UnixPath(target), unixLink = UnixPath(m_link);
    if (unixTarget.empty() || unixLink.empty() || FileExists(m_link)) return;
    StartLinuxProgram(DosPath("/bin/ln") + L" -s" + Quoted(unixTarget) + Quoted(unixLink));
    m_bMade = WaitForAttributes(m_link, true);
}

CSymbolicLink::~CSymbolicLink() {
    if (!m_bMade) return;
    // Wine removes neither a linked folder nor, by DeleteFileW, the link itself.
    StartLinuxProgram(DosPath("/bin/rm") + Quoted(UnixPath(m_link)));
    WaitForAttributes(m_link, false);
}

std::string ReadFileBytes(const std::wstring& path) {
    HANDLE hFile = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    char buffer[65536];
    DWORD dwRead;
    while (ReadFile(hFile, buffer, sizeof(buffer), &dwRead, nullptr) && dwRead > 0) bytes.append(buffer, dwRead);
    CloseHandle(hFile);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE hFile = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return false;
    DWORD dwWritten = 0;
    BOOL bOk = WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &dwWritten, nullptr);
    return CloseHandle(hFile) && bOk && dwWritten == bytes.size();
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void RemoveFolderTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    HANDLE hFind = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName, path = folder + L"\\" + name;
            if (name == L"." || name == L"..") continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveFolderTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(hFind, &entry));
        FindClose(hFind);
    }
    RemoveDirectoryW(folder.c_str());
}

std::vector<std::wstring> ListFiles(const std::wstring& folder, const wchar_t* pszPattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE hFind = FindFirstFileW((folder + L"\\" + pszPattern).c_str(), &entry);
    if (hFind == INVALID_HANDLE_VALUE) return names;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(entry.cFileName);
    } while (FindNextFileW(hFind, &entry));
    FindClose(hFind);
    std::sort(names.begin(), names.end());
    return names;
}

std::string ToUtf8(const std::wstring& text) {
    const int cch = static_cast<int>(text.size());
    std::string out(cch == 0 ? 0 : WideCharToMultiByte(CP_UTF8, 0, text.data(), cch, nullptr, 0, nullptr, nullptr), '\0');
    if (cch > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), cch, out.data(), static_cast<int>(out.size()), nullptr, nullptr);
    return out;
}

std::wstring FromUtf8(const std::string& text) {
    const int cb = static_cast<int>(text.size());
    std::wstring out(cb == 0 ? 0 : MultiByteToWideChar(CP_UTF8, 0, text.data(), cb, nullptr, 0), L'\0');
    if (cb > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), cb, out.data(), static_cast<int>(out.size()));
    return out;
}

std::wstring GetEnv(const wchar_t* pszName) {
    wchar_t szValue[1024] = {};
    DWORD cch = GetEnvironmentVariableW(pszName, szValue, 1024);
    return cch > 0 && cch < 1024 ? std::wstring(szValue) : std::wstring();
}

std::wstring FullPath(const wchar_t* pszVariable) {
    wchar_t szFull[MAX_PATH] = {};
    GetFullPathNameW(GetEnv(pszVariable).c_str(), MAX_PATH, szFull, nullptr);
    return szFull;
}
