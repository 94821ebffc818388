#include "support/TraceCapture.h"

#include "log/Trace.h"

namespace {
void CloseLogFile() {
    EnterCriticalSection(&TraceLog.m_cs);
    if (TraceLog.m_hFile != INVALID_HANDLE_VALUE) CloseHandle(TraceLog.m_hFile);
    TraceLog.m_hFile = INVALID_HANDLE_VALUE;
    LeaveCriticalSection(&TraceLog.m_cs);
}
}  // namespace

CTraceCapture::CTraceCapture(unsigned long dwLevel)
    : m_dir(L"trace"), m_savedPattern(TraceLog.m_szFileNamePattern), m_savedLevel(TraceLog.m_dwDebugLevel) {
    CloseLogFile();
    TraceLog.SetFileNamePattern((m_dir.Path() + L"\\trace_%03d.LOG").c_str());
    TraceLog.m_dwLogFileNr = 0;
    TraceLog.m_dwDebugLevel = dwLevel;
}

CTraceCapture::~CTraceCapture() {
    CloseLogFile();
    TraceLog.SetFileNamePattern(m_savedPattern.c_str());
    TraceLog.m_dwDebugLevel = m_savedLevel;
}

std::vector<std::wstring> CTraceCapture::Messages() const {
    EnterCriticalSection(&TraceLog.m_cs);
    std::string bytes = ReadFileBytes(m_dir.File(L"trace_000.LOG"));
    LeaveCriticalSection(&TraceLog.m_cs);
    return LogMessages(bytes);
}

bool CTraceCapture::Contains(const std::wstring& message) const { return IndexOf(message) >= 0; }

int CTraceCapture::IndexOf(const std::wstring& message, int from) const {
    std::vector<std::wstring> messages = Messages();
    for (int i = from; i < static_cast<int>(messages.size()); ++i)
        if (messages[i] == message) return i;
    return -1;
}

void CTraceCapture::Clear() {
    CloseLogFile();
    DeleteFileW(m_dir.File(L"trace_000.LOG").c_str());
}

std::vector<std::wstring> LogMessages(const std::string& fileBytes) {
    std::vector<std::wstring> messages;
    std::wstring text = FromUtf8(fileBytes);
    const std::wstring marker = L") - ";
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        size_t pos = line.find(marker);
        if (pos != std::wstring::npos) messages.push_back(line.substr(pos + marker.size()));
        start = end + 2;
    }
    return messages;
}
