#include "support/TraceCapture.h"

#include <algorithm>

#include "log/Trace.h"

namespace {
void CloseLogFile() {
    EnterCriticalSection(&TraceLog.m_cs);
    TraceLog.m_hFile.reset();
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

bool CTraceCapture::Contains(const std::wstring& message) const {
    std::vector<std::wstring> messages = Messages();
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

std::vector<std::wstring> LogMessages(const std::string& fileBytes) {
    std::vector<std::wstring> messages;
    const std::wstring text = FromUtf8(fileBytes), marker = L") - ";
    for (size_t start = 0, end; start < text.size(); start = end + 2) {
        end = std::min(text.find(L"\r\n", start), text.size());
        size_t pos = text.find(marker, start);
        if (pos < end) messages.push_back(text.substr(pos + marker.size(), end - pos - marker.size()));
    }
    return messages;
}
