// CJsonParserBase and its value tree: the grammar PBX answers and call events
// are read with, the top-level lookups, and robustness against broken input.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "json/CJsonParserBase.h"

namespace {

constexpr LONG OutOfRangeInt = -2147483647 - 1;

// Also holds the check that builds nothing to the parse's verdict.
bool Parses(const std::wstring& sText) {
    EXPECT_EQ(CJsonParserBase::IsJsonText(sText.c_str()) == TRUE, CJsonParserBase::ParseText(sText.c_str()) != nullptr);
    CJsonParserBase parser;
    return parser.Parse(sText.c_str()) == TRUE;
}

std::wstring Repeat(const wchar_t* pszPiece, size_t nCount) {
    std::wstring s;
    for (size_t i = 0; i < nCount; ++i) s += pszPiece;
    return s;
}

struct ParseCase { std::wstring sText; bool bParses; };

void ExpectParses(const std::vector<ParseCase>& cases, const std::wstring& sBefore, const std::wstring& sAfter) {
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.sText);
        EXPECT_EQ(Parses(sBefore + c.sText + sAfter), c.bParses);
    }
}

// One row per rule of the grammar: an object root followed by white space,
// then numbers as array items, strings as values and as keys.
TEST(JsonParse, AcceptsOnlyTheGrammarOfAnObjectRootItsNumbersAndStrings) {
    ExpectParses({{L" \t\r\n{\"a\" : 1 , \"b\" :\n\"x\" } \r\n\t", true}, {L"{\"a\":1}x", false},
                  {L"{\"a\":1}\f", false},  // form feed is not white space here
                  {L"[1,2]", false},      {L"", false},             {L"{\"a\"}", false},
                  {L"{a:1}", false},      {L"{\"a\":1,}", false},   {L"{\"a\":[ 1, 2 ,{ \n }]}", true},
                  {L"{\"a\":[1,]}", false}, {L"{\"a\":[1 2]}", false},
                  {L"{\"a\":TRUE}", true},  // the words in any letter case
                  {L"{\"a\":truex}", false}, {L"{\"a\":nul", false}},
                 L"", L"");
    ExpectParses({{L"-2.5e-02", true}, {L"+1", false}, {L"01", false}, {L"1.", false}, {L"1e+", false}},
                 L"{\"n\":[", L"]}");
    const std::vector<ParseCase> strings = {
        {L"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00E9\"", true}, {L"\"tab\tinside\u20ac\"", true},
        {L"\"\\u00eg\"", false},  // not four hex digits
        {L"\"\\x41\"", false},    // unknown escape letter
        {L"\"line\nend\"", false},  // raw control characters other than TAB
        {L"\"ends in escape\\", false},
    };
    ExpectParses(strings, L"{\"s\":", L"}");
    ExpectParses(strings, L"{", L":1}");
}

// Each row: a document, a key, and what the three lookups give for it.
TEST(JsonLookup, StringIntAndBoolOfTopLevelMembers) {
    struct Case { const wchar_t* pszText; const wchar_t* pszKey; std::wstring sString; LONG lInt; BOOL bBool; };
    const Case cases[] = {
        {L"{\"s\":\"15\"}", L"s", L"15", 0, FALSE},  // digits in a string are no number
        {L"{\"n\":-2.9}", L"n", L"", -2, FALSE},      // truncated toward zero
        {L"{\"n\":2147483648}", L"n", L"", OutOfRangeInt, FALSE},
        {L"{\"n\":150E-1}", L"n", L"", 15, FALSE},
        {L"{\"n\":123.456e1}", L"n", L"", 1234, FALSE},
        {L"{\"n\":-0.000001}", L"n", L"", 0, FALSE},
        {L"{\"b\":tRuE}", L"b", L"", 0, TRUE},
        {L"{\"b\":1}", L"b", L"", 1, FALSE},  // a number is no bool
        {L"{\"o\":{\"inner\":\"x\"}}", L"inner", L"", 0, FALSE},  // only top-level members
        {L"{\"Key\":\"v\"}", L"key", L"", 0, FALSE},              // keys are case-sensitive
        {L"{\"k\":\"first\",\"k\":7}", L"k", L"", 7, FALSE},      // the last of a repeated key
        {L"{\"e\":\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\"}", L"e", L"\"\\/\b\f\n\r\t\u00e9", 0, FALSE},
        {L"{\"s\":\"x\"}", nullptr, L"", 0, FALSE},
        // Escaped non-ASCII as the JSON encoders of Python, PHP and .NET write
        // it: a surrogate pair gives its two units, a lone surrogate U+FFFD.
        {L"{\"n\":\"Max M\\u00fcller \\ud83d\\uDE00\"}", L"n", L"Max M\u00fcller \xD83D\xDE00", 0, FALSE},
        {L"{\"n\":\"a\\ud83db\\ude00c\\ud83d\\u0041\\ud83d\"}", L"n", L"a\xFFFD" L"b\xFFFD" L"c\xFFFD" L"A\xFFFD", 0, FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszText);
        CJsonParserBase parser;
        ASSERT_TRUE(parser.Parse(c.pszText));
        EXPECT_EQ(parser.GetString(c.pszKey), c.sString);
        EXPECT_EQ(parser.GetInt(c.pszKey), c.lInt);
        EXPECT_EQ(parser.GetBool(c.pszKey), c.bBool);
    }
}

// Long string members are cut at the limit, but never inside a surrogate pair.
TEST(JsonLookup, LongStringsAreCutBetweenCharacters) {
    const std::wstring pair = L"\xD83D\xDE00";  // one character outside the basic plane
    const struct {
        const char* pszName;
        std::wstring sValue;
        size_t cchMax;
        std::wstring sExpected;
    } cases[] = {
        {"3000 units", Repeat(L"a", 3000), CJsonParserBase::MaxStringLength, Repeat(L"a", 2047)},
        {"pair across the limit", Repeat(L"a", 2046) + pair + L"b", CJsonParserBase::MaxStringLength, Repeat(L"a", 2046)},
        {"pair just within the limit", Repeat(L"a", 2045) + pair + L"b", CJsonParserBase::MaxStringLength,
         Repeat(L"a", 2045) + pair},
        {"exactly at the limit", Repeat(L"a", 2045) + pair, CJsonParserBase::MaxStringLength, Repeat(L"a", 2045) + pair},
        {"a lone high surrogate at the limit stays", Repeat(L"a", 2046) + L"\xD83D" + L"b",
         CJsonParserBase::MaxStringLength, Repeat(L"a", 2046) + L"\xD83D"},
        {"a longer limit asked for", Repeat(L"t", 5000), 8000, Repeat(L"t", 5000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        CJsonParserBase parser;
        ASSERT_TRUE(parser.Parse((L"{\"s\":\"" + c.sValue + L"\"}").c_str()));
        EXPECT_EQ(parser.GetString(L"s", c.cchMax), c.sExpected);
    }
}

void ExpectNoMembers(const CJsonParserBase& parser, const std::vector<std::wstring>& keys) {
    for (const std::wstring& sKey : keys) {
        EXPECT_EQ(parser.GetString(sKey.c_str()), L"") << "key " << sKey;
        EXPECT_EQ(parser.GetInt(sKey.c_str()), 0) << "key " << sKey;
        EXPECT_EQ(parser.GetBool(sKey.c_str()), FALSE) << "key " << sKey;
    }
}

// A failed parse, a clear and a new parse leave nothing of the document before.
TEST(JsonLookup, FailureClearAndReparseLeaveNoOldMembers) {
    const wchar_t* pszGood = L"{\"s\":\"text\",\"n\":5,\"b\":true}";
    for (const auto& forget : {+[](CJsonParserBase& p) { EXPECT_FALSE(p.Parse(L"[\"s\",5]")); },
                               +[](CJsonParserBase& p) { p.Clear(); },
                               +[](CJsonParserBase& p) { ASSERT_TRUE(p.Parse(L"{\"x\":\"two\"}")); }}) {
        CJsonParserBase parser;
        ASSERT_TRUE(parser.Parse(pszGood));
        forget(parser);
        ExpectNoMembers(parser, {L"s", L"n", L"b"});
    }
}

// An exponent of billions must not cost billions of steps.
TEST(JsonTree, HugeExponentsAreReadQuickly) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; ++i) {
        std::unique_ptr<JsonValue> pBig = CJsonParserBase::ParseText(L"[4e4294967295, 4e-4294967295, 4e4294967296]");
        ASSERT_NE(pBig, nullptr);
        const JsonValue::ArrayItems& items = *pBig->GetIf<JsonValue::Array>();
        EXPECT_TRUE(std::isinf(*items[0]->GetIf<JsonValue::Number>()));
        EXPECT_EQ(*items[1]->GetIf<JsonValue::Number>(), 0.0);
        EXPECT_TRUE(std::isinf(*items[2]->GetIf<JsonValue::Number>()));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(JsonNesting, LimitIsEnforcedAtTheBoundary) {
    const size_t nMax = CJsonParserBase::MaxNestingDepth;
    auto nested = [](size_t n) { return L"{\"a\":" + Repeat(L"[", n) + Repeat(L"]", n) + L"}"; };
    // The root object is one level, so member "a" may hold nMax - 1 levels of arrays.
    EXPECT_TRUE(Parses(nested(nMax - 1)));
    EXPECT_FALSE(Parses(nested(nMax)));
    EXPECT_NE(CJsonParserBase::ParseText((Repeat(L"[", nMax) + Repeat(L"]", nMax)).c_str()), nullptr);
    EXPECT_EQ(CJsonParserBase::ParseText((Repeat(L"[", nMax + 1) + Repeat(L"]", nMax + 1)).c_str()), nullptr);
    const std::wstring sObjects = Repeat(L"{\"o\":", nMax - 1) + L"{}" + Repeat(L"}", nMax - 1);
    EXPECT_TRUE(Parses(sObjects));
    EXPECT_FALSE(Parses(L"{\"o\":" + sObjects + L"}"));

    // Very deep input fails instead of overflowing the stack.
    const size_t nDeep = 100000;
    EXPECT_FALSE(Parses(nested(nDeep)));
    EXPECT_FALSE(Parses(Repeat(L"{\"a\":", nDeep) + L"1" + Repeat(L"}", nDeep)));
    EXPECT_FALSE(Parses(L"{\"a\":" + Repeat(L"[{\"b\":", nDeep)));
}

// Valid documents like the ones the PBX sends, with their top-level keys.
struct Sample { const wchar_t* pszText; std::vector<std::wstring> keys; };
const Sample Samples[] = {
    {L"{\"uuid\":\"6f1c-22\",\"caller\":\"+4930123\",\"state\":\"ring\"}", {L"uuid", L"caller", L"state"}},
    {L"{\"access-token\":\"aGVh.cGF5\",\"expires\":3600}", {L"access-token", L"expires"}},
    {L"{ \"a\" : [1,-2.5e3,true,null,{\"b\":\"\\u00e9\\n\"},[ ]] , \"t\" : TRUE }", {L"a", L"t"}},
};

TEST(JsonRobustness, EveryTruncationFailsAndLeavesNoTree) {
    for (const Sample& sample : Samples) {
        const std::wstring sDocument = sample.pszText;
        CJsonParserBase parser;
        for (size_t cch = 0; cch < sDocument.size(); ++cch) {
            SCOPED_TRACE(sDocument.substr(0, cch));
            ASSERT_TRUE(parser.Parse(sDocument.c_str()));
            EXPECT_FALSE(parser.Parse(sDocument.substr(0, cch).c_str()));
            ExpectNoMembers(parser, sample.keys);
        }
    }
}

}  // namespace
