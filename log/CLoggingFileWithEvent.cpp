#include "log/CLoggingFileWithEvent.h"

#include <algorithm>
#include <cwchar>
#include <functional>

#include "common/BoundedString.h"
#include "log/ExeName.h"

wchar_t g_szLogPath[260] = {};

void CLoggingFileWithEvent::OnRotate() {
    CollectLogFiles();
    DeleteSurplusLogFiles();
    ShiftLogFiles();
    m_dwLogFileNr = 0;
}

void CLoggingFileWithEvent::CollectLogFiles() {
    g_LogFileList.clear();
    std::wstring folder = g_szLogPath;
    // Without a log folder there is no series; never look anywhere else.
    if (folder.empty()) return;
    std::wstring pattern = folder + L"\\*.log";
    const wchar_t* pszExe = GetExeName();

    WIN32_FIND_DATAW entry;
    HANDLE hFind = FindFirstFileW(pattern.c_str(), &entry);
    if (hFind == INVALID_HANDLE_VALUE) return;
    do {
        // Only this executable's series: other hosts' files are left alone.
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && wcsstr(entry.cFileName, pszExe) != nullptr)
            g_LogFileList.push_back(folder + L"\\" + entry.cFileName);
    } while (FindNextFileW(hFind, &entry));
    FindClose(hFind);
}

// Beyond MaxFiles the oldest files go (the highest numbers), never the newest.
void CLoggingFileWithEvent::DeleteSurplusLogFiles() {
    std::sort(g_LogFileList.begin(), g_LogFileList.end());
    while (g_LogFileList.size() > m_dwMaxFiles) {
        DeleteFileW(g_LogFileList.back().c_str());
        g_LogFileList.pop_back();
    }
}

void CLoggingFileWithEvent::ShiftLogFiles() {
    std::sort(g_LogFileList.begin(), g_LogFileList.end(), std::greater<>());
    if (g_LogFileList.empty()) return;
    // A full series makes room for the new file 000 by dropping its oldest.
    if (g_LogFileList.size() >= m_dwMaxFiles) {
        DeleteFileW(g_LogFileList.front().c_str());
        g_LogFileList.erase(g_LogFileList.begin());
    }

    // From the highest number down, so that every target name is free.
    std::wstring marker = std::wstring(GetExeName()) + L"_";
    for (const std::wstring& path : g_LogFileList) {
        size_t pos = path.find(marker);
        if (pos == std::wstring::npos) continue;
        size_t numberStart = pos + marker.size();
        unsigned long nNumber = wcstoul(path.c_str() + numberStart, nullptr, 10);
        wchar_t szSuffix[32];
        StrFormat(szSuffix, L"%03d.LOG", static_cast<int>(nNumber + 1));
        std::wstring target = path.substr(0, numberStart) + szSuffix;
        MoveFileW(path.c_str(), target.c_str());
    }
}
