// A test that stops making progress would otherwise run into CTest's time-out
// and end without a word about where it stood. The watchdog notices a test
// that has run too long and, before it ends the run, shows the stack of every
// thread of the process (through Wine's debugger, which reads the DWARF of
// our modules) and the end of the provider's newest log file. A test that
// fails shows that log too, when the provider wrote it during the test.
#include "support/TestDiagnostics.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>

#include "log/ExeName.h"
#include "support/ChildProcess.h"
#include "support/ProviderFolders.h"
#include "support/TestFiles.h"

namespace {

constexpr DWORD kDefaultLimitSeconds = 150;  // the longest test takes about 45 s

void PrintFile(const wchar_t* pszWhat, const std::wstring& path, size_t cbTail) {
    std::string text = ReadFileBytes(path);
    if (text.size() > cbTail) text.erase(0, text.size() - cbTail);
    // stdout adds its own carriage returns.
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    printf("----- %ls %ls (last %zu bytes) -----\n%s\n", pszWhat, path.c_str(), text.size(), text.c_str());
}

// Wine's debugger attaches, prints one backtrace per thread and detaches again.
void PrintThreadStacks() {
    CTempDir dir(L"hang");
    std::string script;
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {sizeof(entry)};
    for (BOOL bMore = Thread32First(hSnapshot, &entry); bMore; bMore = Thread32Next(hSnapshot, &entry)) {
        char szLine[32];
        snprintf(szLine, sizeof(szLine), "bt 0x%lx\n", static_cast<unsigned long>(entry.th32ThreadID));
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) script += szLine;
    }
    CloseHandle(hSnapshot);
    const std::wstring scriptPath = dir.File(L"stacks.dbg"), outputPath = dir.File(L"stacks.txt");
    WriteFileBytes(scriptPath, script + "detach\nquit\n");
    const int nExit = RunProcess(L"cmd.exe /c winedbg --file \"" + scriptPath + L"\" " +
                                     std::to_wstring(GetCurrentProcessId()) + L" > \"" + outputPath + L"\" 2>&1",
                                 60000);
    printf("----- thread stacks (winedbg exit %d) -----\n", nExit);
    PrintFile(L"debugger output", outputPath, static_cast<size_t>(-1));
}

// The provider's log of this program that was written last, in any folder
// below ORVO's (a copy of the provider logs in a folder of its own), when
// that was after the given time.
void PrintNewestProviderLog(FILETIME newestTime = {}) {
    std::wstring newest;
    WIN32_FIND_DATAW folder;
    HANDLE hFind = FindFirstFileW((OrvoDataFolder() + L"\\*").c_str(), &folder);
    for (BOOL bMore = hFind != INVALID_HANDLE_VALUE; bMore; bMore = FindNextFileW(hFind, &folder)) {
        const std::wstring path = OrvoDataFolder() + L"\\" + folder.cFileName + L"\\";
        for (const std::wstring& name : ListFiles(path, (L"*" + std::wstring(GetExeName()) + L"_*.LOG").c_str())) {
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (GetFileAttributesExW((path + name).c_str(), GetFileExInfoStandard, &data) &&
                CompareFileTime(&data.ftLastWriteTime, &newestTime) > 0) {
                newestTime = data.ftLastWriteTime;
                newest = path + name;
            }
        }
    }
    if (hFind != INVALID_HANDLE_VALUE) FindClose(hFind);
    if (!newest.empty()) PrintFile(L"provider log", newest, 12000);
}

class TestDiagnostics : public testing::EmptyTestEventListener {
public:
    explicit TestDiagnostics(DWORD dwLimitSeconds) : m_dwLimitMs(dwLimitSeconds * 1000) {
        CloseHandle(CreateThread(nullptr, 0, &TestDiagnostics::Watch, this, 0, nullptr));
    }

    void OnTestStart(const testing::TestInfo& info) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_current = std::string(info.test_suite_name()) + "." + info.name();
        m_qwStarted = GetTickCount64();
        GetSystemTimeAsFileTime(&m_startedAt);
    }
    void OnTestEnd(const testing::TestInfo& info) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_current.clear();
        }
        if (info.result()->Failed()) PrintNewestProviderLog(m_startedAt);
    }

private:
    static DWORD WINAPI Watch(LPVOID pParam) {
        auto* self = static_cast<TestDiagnostics*>(pParam);
        for (;;) {
            Sleep(1000);
            std::string hung;
            {
                std::lock_guard<std::mutex> lock(self->m_mutex);
                if (!self->m_current.empty() && GetTickCount64() - self->m_qwStarted > self->m_dwLimitMs)
                    hung = self->m_current;
            }
            if (hung.empty()) continue;
            fflush(stdout);
            printf("[  HANG    ] %s still runs after %lu s; what every thread is doing follows\n", hung.c_str(),
                   static_cast<unsigned long>(self->m_dwLimitMs / 1000));
            PrintThreadStacks();
            PrintNewestProviderLog();
            printf("[  FAILED  ] %s (hung)\n", hung.c_str());
            fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }

    const DWORD m_dwLimitMs;
    std::mutex m_mutex;
    std::string m_current;
    ULONGLONG m_qwStarted = 0;
    FILETIME m_startedAt = {};
};

}  // namespace

void InstallTestDiagnostics() {
    const DWORD dwSeconds = static_cast<DWORD>(_wtoi(GetEnv(L"ORVO_TEST_HANG_SECONDS").c_str()));
    testing::UnitTest::GetInstance()->listeners().Append(
        new TestDiagnostics(dwSeconds != 0 ? dwSeconds : kDefaultLimitSeconds));
}
