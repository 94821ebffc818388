// Points the process's TraceLog at a fresh file for one test, at a chosen
// level, and reads the messages back (the text after the line header).
#pragma once

#include <string>
#include <vector>

#include "support/TestFiles.h"

class CTraceCapture {
public:
    explicit CTraceCapture(unsigned long dwLevel = 6);
    ~CTraceCapture();

    // Messages written since the capture started, in order.
    std::vector<std::wstring> Messages() const;
    // Whether some message equals the text exactly.
    bool Contains(const std::wstring& message) const;

private:
    CTempDir m_dir;
    std::wstring m_savedPattern;
    unsigned long m_savedLevel;
};

// The message part of log lines "YYYY-MM-DD hh:mm:ss.mmm (ppppp:ttttt) - message".
std::vector<std::wstring> LogMessages(const std::string& fileBytes);
