// Parses one UTF-16 JSON text whose root is an object and answers lookups of
// the root's members. PBX answers and call events are read only this way:
// a few top-level members each, missing or mistyped ones reading as empty.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "common/Types.h"
#include "json/JsonValue.h"

class CJsonParserBase {
public:
    // Arrays and objects nested deeper than this fail the parse, so that hostile
    // input cannot exhaust the stack of the thread parsing it.
    static constexpr int MaxNestingDepth = 64;
    // GetString gives at most this many characters of a member unless told otherwise.
    static constexpr size_t MaxStringLength = 2047;

    CJsonParserBase() = default;
    virtual ~CJsonParserBase() = default;

    CJsonParserBase(const CJsonParserBase&) = delete;
    CJsonParserBase& operator=(const CJsonParserBase&) = delete;

    // 1 when the NUL-terminated text is an object followed by nothing but white
    // space; 0 otherwise, and then no tree is held.
    BOOL Parse(const WCHAR* pszText);
    // Releases the tree; every lookup then gives its empty result.
    void Clear();

    // The member's text when it is a string, else empty. A text longer than
    // cchMax is cut there, or one unit before when the cut would split a
    // surrogate pair.
    std::wstring GetString(const WCHAR* pszKey, size_t cchMax = MaxStringLength) const;
    // The member truncated toward zero when it is a number, else 0; numbers
    // outside the 32-bit range give -2147483648.
    LONG GetInt(const WCHAR* pszKey) const;
    // The member when it is a bool, else 0.
    BOOL GetBool(const WCHAR* pszKey) const;

    // The grammar, used by Parse. A failed parse returns no node and releases
    // everything built for it; the position is left undefined then.

    // A whole text with a root of any kind, or null.
    static std::unique_ptr<JsonValue> ParseText(const WCHAR* pszText);
    // Whether ParseText would give a tree, without building one: a large
    // answer checked whole and then read in pieces.
    static BOOL IsJsonText(const WCHAR* pszText);
    // The value at the position (no white space skipped), advancing past it.
    // nDepth counts the arrays and objects already open around it.
    static std::unique_ptr<JsonValue> ParseValue(const WCHAR*& pszPos, int nDepth);
    // The string whose opening quote is just before the position; on success
    // the position is after the closing quote.
    static BOOL ParseString(const WCHAR*& pszPos, std::wstring& sText);
    // Skips blanks, TABs, CRs and LFs; 0 when the end of the text is reached.
    static BOOL SkipWhitespace(const WCHAR*& pszPos);

private:
    const JsonValue* Find(const WCHAR* pszKey) const;

    std::unique_ptr<JsonValue> m_pRoot;
    // The root object's members by key; the nodes belong to m_pRoot.
    std::map<std::wstring, const JsonValue*, std::less<>> m_Index;
};
