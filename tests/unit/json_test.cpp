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

bool Parses(const std::wstring& sText) {
    CJsonParserBase parser;
    return parser.Parse(sText.c_str()) == TRUE;
}

std::wstring Repeat(const wchar_t* pszPiece, size_t nCount) {
    std::wstring s;
    for (size_t i = 0; i < nCount; ++i) s += pszPiece;
    return s;
}

struct ParseCase {
    std::wstring sText;
    bool bParses;
};

void ExpectParses(const std::vector<ParseCase>& cases, const std::wstring& sBefore, const std::wstring& sAfter) {
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.sText);
        EXPECT_EQ(Parses(sBefore + c.sText + sAfter), c.bParses);
    }
}

TEST(JsonParse, AcceptsOnlyAnObjectRootFollowedByWhiteSpace) {
    ExpectParses({{L"{}", true},         {L" \t\r\n{\"a\" : 1 , \"b\" :\n\"x\" } \r\n\t", true},
                  {L"{\"a\":1}x", false}, {L"{\"a\":1}{\"b\":2}", false},
                  {L"{\"a\":1}\f", false},  // form feed is not white space here
                  {L"[1,2]", false},      {L"42", false},           {L"", false},
                  {L" \r\n\t", false},   {L"{", false},            {L"{\"a\"}", false},
                  {L"{\"a\":}", false},   {L"{a:1}", false},        {L"{,\"a\":1}", false},
                  {L"{\"a\":1,}", false}, {L"{\"a\":1 \"b\":2}", false},
                  {L"{\"a\":[ \r\n\t ]}", true}, {L"{\"a\":{ \n }}", true}, {L"{\"a\":[1, 2 ,3]}", true},
                  {L"{\"a\":[,1]}", false}, {L"{\"a\":[1,]}", false}, {L"{\"a\":[1 2]}", false},
                  {L"{\"a\":{]}", false},
                  {L"{\"a\":TRUE}", true}, {L"{\"a\":nULL}", true},  // the words in any letter case
                  {L"{\"a\":truex}", false},  // a letter after the word is left behind
                  {L"{\"a\":tru}", false}, {L"{\"a\":nul", false}},
                 L"", L"");
}

TEST(JsonParse, NumberGrammar) {
    const std::vector<ParseCase> cases = {
        {L"0", true},    {L"-12", true},    {L"0.25", true},   {L"1E+3", true},  {L"-2.5e-02", true},
        {L"+1", false},  {L"-", false},     {L"01", false},    {L"1.", false},   {L".5", false},
        {L"1.e3", false}, {L"1e", false},   {L"1e+", false},   {L"1.5.2", false}, {L"NaN", false},
    };
    ExpectParses(cases, L"{\"n\":", L"}");
    ExpectParses(cases, L"{\"n\":[", L"]}");
}

TEST(JsonParse, StringGrammarForValuesAndKeys) {
    const std::vector<ParseCase> cases = {
        {L"\"\"", true}, {L"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", true}, {L"\"\\u00e9\\u00E9\"", true},
        {L"\"tab\tinside\u20ac\"", true},
        {L"\"\\u00e\"", false}, {L"\"\\u00eg\"", false},  // not four hex digits
        {L"\"\\x41\"", false},                          // unknown escape letter
        {L"\"line\nend\"", false}, {L"\"\x01\"", false},  // raw control characters other than TAB
        {L"\"unterminated", false}, {L"\"ends in escape\\", false}, {L"\"ends in u\\u00", false},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.sText);
        EXPECT_EQ(Parses(L"{\"s\":" + c.sText + L"}"), c.bParses);
        EXPECT_EQ(Parses(L"{" + c.sText + L":1}"), c.bParses);
    }
}

// Each row: a document, a key, and what the three lookups give for it.
TEST(JsonLookup, StringIntAndBoolOfTopLevelMembers) {
    struct Case {
        const wchar_t* pszText;
        const wchar_t* pszKey;
        std::wstring sString;
        LONG lInt;
        BOOL bBool;
    };
    const Case cases[] = {
        {L"{\"s\":\"15\"}", L"s", L"15", 0, FALSE},  // digits in a string are no number
        {L"{\"n\":1.5e1}", L"n", L"", 15, FALSE},
        {L"{\"n\":-2.9}", L"n", L"", -2, FALSE},      // truncated toward zero
        {L"{\"n\":2147483647.9}", L"n", L"", 2147483647, FALSE},
        {L"{\"n\":-2147483647.9}", L"n", L"", -2147483647, FALSE},
        {L"{\"n\":2147483648}", L"n", L"", OutOfRangeInt, FALSE},
        {L"{\"n\":-2147483649}", L"n", L"", OutOfRangeInt, FALSE},
        {L"{\"n\":1e400}", L"n", L"", OutOfRangeInt, FALSE},  // infinity
        {L"{\"n\":-7e-99999999999999999999}", L"n", L"", 0, FALSE},
        {L"{\"b\":tRuE}", L"b", L"", 0, TRUE},
        {L"{\"b\":1}", L"b", L"", 1, FALSE},  // a number is no bool
        {L"{\"b\":\"true\"}", L"b", L"true", 0, FALSE},
        {L"{\"z\":null}", L"z", L"", 0, FALSE},
        {L"{\"o\":{\"inner\":\"x\"}}", L"inner", L"", 0, FALSE},  // only top-level members
        {L"{\"Key\":\"v\"}", L"key", L"", 0, FALSE},              // keys are case-sensitive
        {L"{\"k\":\"first\",\"k\":7}", L"k", L"", 7, FALSE},      // the last of a repeated key
        {L"{\"e\":\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\"}", L"e", L"\"\\/\b\f\n\r\t\u00e9", 0, FALSE},
        {L"{\"e\":\"a\\u0000b\"}", L"e", std::wstring(L"a\0b", 3), 0, FALSE},
        // \u escapes give single UTF-16 units: a pair needs two escapes and is not checked.
        {L"{\"u\":\"\\uD83D\\uDE00x\\ud83d\\uFFFF\"}", L"u",
         std::wstring({wchar_t(0xD83D), wchar_t(0xDE00), L'x', wchar_t(0xD83D), wchar_t(0xFFFF)}), 0, FALSE},
        {L"{\"q\\\"k\":\"v\"}", L"q\"k", L"v", 0, FALSE},  // escapes in keys
        {L"{\"s\":\"x\"}", nullptr, L"", 0, FALSE},
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

TEST(JsonLookup, LongStringsAreCutTo2047Characters) {
    const std::wstring sLong(3000, L'a');
    const std::wstring sLimit(2047, L'b');
    CJsonParserBase parser;
    ASSERT_TRUE(parser.Parse((L"{\"long\":\"" + sLong + L"\",\"limit\":\"" + sLimit + L"\"}").c_str()));
    EXPECT_EQ(parser.GetString(L"long"), sLong.substr(0, 2047));
    EXPECT_EQ(parser.GetString(L"limit"), sLimit);
}

void ExpectNoMembers(const CJsonParserBase& parser, const std::vector<std::wstring>& keys) {
    for (const std::wstring& sKey : keys) {
        EXPECT_EQ(parser.GetString(sKey.c_str()), L"") << "key " << sKey;
        EXPECT_EQ(parser.GetInt(sKey.c_str()), 0) << "key " << sKey;
        EXPECT_EQ(parser.GetBool(sKey.c_str()), FALSE) << "key " << sKey;
    }
}

TEST(JsonLookup, FailureClearAndReparseLeaveNoOldMembers) {
    const wchar_t* pszGood = L"{\"s\":\"text\",\"n\":5,\"b\":true}";
    const std::vector<std::wstring> keys = {L"s", L"n", L"b"};
    for (const wchar_t* pszBad : {L"{\"s\":\"other\"", L"[\"s\",5]", L"{\"s\":1}x"}) {
        SCOPED_TRACE(pszBad);
        CJsonParserBase parser;
        ASSERT_TRUE(parser.Parse(pszGood));
        EXPECT_FALSE(parser.Parse(pszBad));
        ExpectNoMembers(parser, keys);
    }
    CJsonParserBase parser;
    ASSERT_TRUE(parser.Parse(pszGood));
    parser.Clear();
    ExpectNoMembers(parser, keys);
    EXPECT_FALSE(parser.Parse(nullptr));

    ASSERT_TRUE(parser.Parse(pszGood));
    ASSERT_TRUE(parser.Parse(L"{\"s\":\"two\"}"));
    EXPECT_EQ(parser.GetString(L"s"), L"two");
    EXPECT_EQ(parser.GetInt(L"n"), 0);
}

TEST(JsonTree, HoldsKindsValuesAndOrder) {
    std::unique_ptr<JsonValue> pRoot =
        CJsonParserBase::ParseText(L" [\"s\", TRUE, false, NULL, [ ], {\"z\":1,\"a\":2,\"z\":3}] ");
    ASSERT_NE(pRoot, nullptr);
    const JsonValue::ArrayItems* pItems = pRoot->GetIf<JsonValue::Array>();
    ASSERT_NE(pItems, nullptr);
    ASSERT_EQ(pItems->size(), 6u);
    const JsonValue::ArrayItems& items = *pItems;
    ASSERT_NE(items[0]->GetIf<JsonValue::String>(), nullptr);
    EXPECT_EQ(*items[0]->GetIf<JsonValue::String>(), L"s");
    EXPECT_EQ(items[0]->GetIf<JsonValue::Number>(), nullptr);  // a node answers only for its own kind
    ASSERT_EQ(items[1]->GetKind(), JsonValue::Bool);
    EXPECT_TRUE(*items[1]->GetIf<JsonValue::Bool>());
    ASSERT_EQ(items[2]->GetKind(), JsonValue::Bool);
    EXPECT_FALSE(*items[2]->GetIf<JsonValue::Bool>());
    EXPECT_EQ(items[3]->GetKind(), JsonValue::Null);
    ASSERT_EQ(items[4]->GetKind(), JsonValue::Array);
    EXPECT_TRUE(items[4]->GetIf<JsonValue::Array>()->empty());

    const JsonValue::ObjectMembers* pMembers = items[5]->GetIf<JsonValue::Object>();
    ASSERT_NE(pMembers, nullptr);
    ASSERT_EQ(pMembers->size(), 2u);  // one entry per key, ordered by key
    EXPECT_EQ(pMembers->begin()->first, L"a");
    EXPECT_EQ(pMembers->rbegin()->first, L"z");
    EXPECT_EQ(*pMembers->rbegin()->second->GetIf<JsonValue::Number>(), 3.0);
}

TEST(JsonTree, NumberValues) {
    struct Case {
        const wchar_t* pszText;
        double dValue;
    };
    const Case cases[] = {
        {L"-0", -0.0},       {L"-15", -15.0},     {L"150E-1", 15.0},        {L"12.5e2", 1250.0},
        {L"3.14159", 3.14159}, {L"2.5e-3", 0.0025}, {L"123.456e1", 1234.56}, {L"0.000001", 1e-6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszText);
        std::unique_ptr<JsonValue> pValue = CJsonParserBase::ParseText(c.pszText);
        ASSERT_NE(pValue, nullptr);
        ASSERT_EQ(pValue->GetKind(), JsonValue::Number);
        const double dValue = *pValue->GetIf<JsonValue::Number>();
        // Computed digit by digit: longer fractions are close, not exact.
        EXPECT_NEAR(dValue, c.dValue, 1e-12 * (1 + std::fabs(c.dValue)));
        EXPECT_EQ(std::signbit(dValue), std::signbit(c.dValue));
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

TEST(JsonTree, ParseTextRefusesTrailingTextForEveryRootKind) {
    for (const wchar_t* pszRoot : {L"null", L"\"s\"", L"true", L"-1.5", L"[1]", L"{}"}) {
        SCOPED_TRACE(pszRoot);
        EXPECT_NE(CJsonParserBase::ParseText((std::wstring(L"\n ") + pszRoot + L" \r\n").c_str()), nullptr);
        EXPECT_EQ(CJsonParserBase::ParseText((std::wstring(pszRoot) + L" x").c_str()), nullptr);
    }
    EXPECT_EQ(CJsonParserBase::ParseText(nullptr), nullptr);
    EXPECT_EQ(CJsonParserBase::ParseText(L"0123"), nullptr);  // "0" then stray digits
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
struct Sample {
    const wchar_t* pszText;
    std::vector<std::wstring> keys;
};
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
