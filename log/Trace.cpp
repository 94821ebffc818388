#include "log/Trace.h"

#include <cstdarg>

#include "common/BoundedString.h"
#include "common/TapiErrorNames.h"

void Trace(DWORD dwLevel, const wchar_t* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    TraceLog.WriteV(dwLevel, pszFormat, args);
    va_end(args);
}

CFuncTrace::CFuncTrace(DWORD dwLevel, const wchar_t* pszName, TracePrefix prefix, bool bBegin)
    : m_dwLevel(dwLevel), m_pszName(pszName), m_prefix(prefix) {
    if (bBegin) Line(L"Begin");
}

void CFuncTrace::WriteV(const wchar_t* pszKind, const wchar_t* pszFormat, va_list args) const {
    if (!Enabled()) return;
    wchar_t szText[4096];
    BoundedFormatV(szText, 4096, pszFormat, args);
    TraceLog.Write(m_dwLevel, m_prefix == TracePrefix::Func ? L"Func.%s.%s%s" : L"%s.%s%s", m_pszName, pszKind, szText);
}

#define ORVO_TRACE_KIND(kind, text)            \
    va_list args;                               \
    va_start(args, text);                       \
    WriteV(kind, text, args);                   \
    va_end(args)

void CFuncTrace::Info(const wchar_t* pszFormat, ...) const { ORVO_TRACE_KIND(L"Info.", pszFormat); }
void CFuncTrace::Warning(const wchar_t* pszFormat, ...) const { ORVO_TRACE_KIND(L"Warning.", pszFormat); }
void CFuncTrace::Line(const wchar_t* pszSuffixFormat, ...) const { ORVO_TRACE_KIND(L"", pszSuffixFormat); }

void CFuncTrace::Param(const wchar_t* pszParam, const wchar_t* pszValueFormat, ...) const {
    if (!Enabled()) return;
    wchar_t szKind[160];
    StrFormat(szKind, L"Param.%s ", pszParam);
    ORVO_TRACE_KIND(szKind, pszValueFormat);
}

void CFuncTrace::Var(const wchar_t* pszVar, const wchar_t* pszValueFormat, ...) const {
    if (!Enabled()) return;
    wchar_t szKind[160];
    StrFormat(szKind, L"Var.%s ", pszVar);
    ORVO_TRACE_KIND(szKind, pszValueFormat);
}

LONG CFuncTrace::Abort(LONG lError, int nCheck) const {
    Line(L"Abort.Error.%s.#%d", TapiErrorName(lError).c_str(), nCheck);
    return lError;
}

LONG CFuncTrace::Abort(LONG lError, int nCheck, const wchar_t* pszTextFormat, ...) const {
    if (!Enabled()) return lError;
    wchar_t szKind[160];
    StrFormat(szKind, L"Abort.Error.%s.#%d.", TapiErrorName(lError).c_str(), nCheck);
    ORVO_TRACE_KIND(szKind, pszTextFormat);
    return lError;
}

void CFuncTrace::End() const { Line(L"End"); }

LONG CFuncTrace::End(LONG lResult) const {
    Line(L"End.Result 0x%08X", static_cast<DWORD>(lResult));
    return lResult;
}
