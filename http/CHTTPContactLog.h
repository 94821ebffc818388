// The client of the PBX requests: its trace lines go to the debug log.
#pragma once

#include "http/CHTTPContactBase.h"

class CHTTPContactLog : public CHTTPContactBase {
public:
    using CHTTPContactBase::CHTTPContactBase;
    // Writes "HTTPBASE.<text>" to TraceLog at the line's level.
    void OnTrace(DWORD dwLevel, const wchar_t* pszText) override;
};

// The process's clients, each with an answer buffer of ClientAnswerSize bytes.
constexpr DWORD ClientAnswerSize = 0x40000;
// Call commands (make-call, drop).
extern CHTTPContactLog g_CommandClient;
// Login, token refresh and the extension directory.
extern CHTTPContactLog g_SessionClient;
