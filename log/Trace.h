// Trace lines in the provider's one format, written to the process's log:
//   Func.<name>.Begin / .Param.<p> <v> / .Var.<v> <v> / .Info.<text> /
//   .Warning.<text> / .Abort.Error.<TAPI error>.#<check>[.<text>] /
//   .End / .End.Result <result>
// A CFuncTrace per traced function keeps the name and level, so a body reads
// as its logic: trace.Param(...); ... return trace.Abort(LINEERR_x, 3);
#pragma once

#include <windows.h>

#include "log/CLoggingFileWithEvent.h"

// The process's debug log.
extern CLoggingFileWithEvent TraceLog;

// A free-form line at a level.
void Trace(DWORD dwLevel, const wchar_t* pszFormat, ...);

enum class TracePrefix { Func, None };

class CFuncTrace {
public:
    // Writes the Begin line unless told not to. Thread procedures and a few
    // manager lines go without the "Func." prefix. The name is kept, not
    // copied: a literal, or text that outlives the trace.
    CFuncTrace(DWORD dwLevel, const wchar_t* pszName, TracePrefix prefix = TracePrefix::Func, bool bBegin = true);

    void Param(const wchar_t* pszParam, const wchar_t* pszValueFormat, ...) const;
    void Var(const wchar_t* pszVar, const wchar_t* pszValueFormat, ...) const;
    void Info(const wchar_t* pszFormat, ...) const;
    void Warning(const wchar_t* pszFormat, ...) const;
    // "<name>.<suffix>" for the lines that fit no other kind ("Abort", "Abort.Warning.Bad line pos").
    void Line(const wchar_t* pszSuffixFormat, ...) const;

    // "Abort.Error.<name of lError>.#<nCheck>" with an optional ".<text>"; returns lError.
    LONG Abort(LONG lError, int nCheck) const;
    LONG Abort(LONG lError, int nCheck, const wchar_t* pszTextFormat, ...) const;

    void End() const;
    // "End.Result 0x%08X"; returns lResult.
    LONG End(LONG lResult) const;

    DWORD Level() const { return m_dwLevel; }

private:
    // Nothing is formatted for a line the log does not take.
    bool Enabled() const { return TraceLog.IsEnabled(m_dwLevel); }
    void WriteV(const wchar_t* pszKind, const wchar_t* pszFormat, va_list args) const;

    DWORD m_dwLevel;
    const wchar_t* m_pszName;
    TracePrefix m_prefix;
};
