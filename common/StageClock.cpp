#include "common/StageClock.h"

#include <array>
#include <mutex>
#include <string>
#include <vector>

#include "common/SlimLock.h"
#include "common/UniqueHandle.h"

namespace {
constexpr DWORD kLineCallState = 2;  // LINE_CALLSTATE; common/ sees no TAPI headers
constexpr size_t kMaxRecords = 100000;

std::wstring StageFile() {
    wchar_t szPath[MAX_PATH] = {};
    const DWORD cch = GetEnvironmentVariableW(L"ORVO_STAGE_CLOCK", szPath, MAX_PATH);
    return cch > 0 && cch < MAX_PATH ? std::wstring(szPath, cch) : std::wstring();
}

ULONGLONG Now() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

struct Record {
    DWORD dwState;
    std::array<ULONGLONG, static_cast<size_t>(Stage::Count) + 1> stamps;
};

// Written to the file when the library unloads.
class CStageRecords {
public:
    explicit CStageRecords(std::wstring path) : m_path(std::move(path)) {}
    ~CStageRecords() {
        if (m_path.empty()) return;
        std::string text;
        for (const Record& record : m_records) {
            text += std::to_string(record.dwState);
            for (ULONGLONG qwStamp : record.stamps) text += ' ' + std::to_string(qwStamp);
            text += '\n';
        }
        UniqueFileHandle file(
            CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD cbWritten = 0;
        if (file) WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &cbWritten, nullptr);
    }
    bool On() const { return !m_path.empty(); }
    void Mark(Stage stage) { m_current[static_cast<size_t>(stage)] = Now(); }
    void End(DWORD dwState) {
        const ULONGLONG qwReturned = Now();
        std::lock_guard<SlimMutex> lock(m_lock);
        if (m_records.size() >= kMaxRecords) return;
        Record record{dwState, {}};
        for (size_t i = 0; i < m_current.size(); ++i) record.stamps[i] = m_current[i];
        record.stamps.back() = qwReturned;
        m_records.push_back(record);
    }

private:
    const std::wstring m_path;
    std::array<volatile ULONGLONG, static_cast<size_t>(Stage::Count)> m_current{};
    SlimMutex m_lock;
    std::vector<Record> m_records;
};

CStageRecords g_StageRecords(StageFile());
}  // namespace

const bool g_bStageClock = g_StageRecords.On();

void MarkStageNow(Stage stage) { g_StageRecords.Mark(stage); }

void EndStagesNow(DWORD dwMessage, DWORD_PTR dwParam1) {
    if (dwMessage == kLineCallState) g_StageRecords.End(static_cast<DWORD>(dwParam1));
}
