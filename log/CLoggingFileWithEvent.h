// The log kept as a numbered series: each new file is 000, and the older ones
// move up a number, the oldest beyond MaxFiles being deleted.
#pragma once

#include <string>
#include <vector>

#include "log/CLoggingFile.h"

class CLoggingFileWithEvent : public CLoggingFile {
public:
    void OnRotate() override;

private:
    void CollectLogFiles();
    void DeleteSurplusLogFiles();
    void ShiftLogFiles();
};

// Folder of the log and exchange files of this provider.
extern wchar_t g_szLogPath[260];
// This process's log files, rebuilt at every rotation.
extern std::vector<std::wstring> g_LogFileList;
