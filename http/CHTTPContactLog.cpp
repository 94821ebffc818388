#include "http/CHTTPContactLog.h"

#include "log/Trace.h"

void CHTTPContactLog::OnTrace(DWORD dwLevel, const wchar_t* pszText) {
    TraceLog.Write(dwLevel, L"HTTPBASE.%s", pszText);
}
