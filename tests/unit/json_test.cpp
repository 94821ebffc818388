// CJsonParserBase and its value tree: the grammar PBX answers and call events
// are read with, the top-level lookups, and robustness against broken input.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "json/CJsonParserBase.h"

namespace {

constexpr LONG OutOfRangeInt = std::numeric_limits<int32_t>::min();

bool Parses(const std::wstring& sText) {
    CJsonParserBase parser;
    return parser.Parse(sText.c_str()) == TRUE;
}

std::wstring Repeat(const wchar_t* pszPiece, size_t nCount) {
    std::wstring s;
    for (size_t i = 0; i < nCount; ++i) s += pszPiece;
    return s;
}

// Arrays nested nCount deep as the value of member "a".
std::wstring NestedArrays(size_t nCount) {
    return L"{\"a\":" + Repeat(L"[", nCount) + Repeat(L"]", nCount) + L"}";
}

TEST(JsonParse, AcceptsOnlyAnObjectRootFollowedByWhiteSpace) {
    struct Case {
        const wchar_t* pszText;
        bool bParses;
    };
    const Case cases[] = {
        {L"{}", true},
        {L"{ }", true},
        {L" \t\r\n{\"a\":1}", true},
        {L"{\"a\":1} \r\n\t \n", true},
        {L"{\"a\" : 1 , \"b\" :\n\"x\" }", true},
        {L"{\"a\":1}x", false},
        {L"{\"a\":1}{\"b\":2}", false},
        {L"{\"a\":1},", false},
        {L"{\"a\":1}\f", false},        // form feed is not white space here
        {L"{\"a\":1}\v", false},
        {L"{\"a\":1}\u00a0", false},    // nor is the no-break space
        {L"[1,2]", false},
        {L"42", false},
        {L"\"text\"", false},
        {L"true", false},
        {L"null", false},
        {L"", false},
        {L" \r\n\t", false},
        {L"{", false},
        {L"}", false},
        {L"{\"a\"}", false},
        {L"{\"a\":}", false},
        {L"{\"a\" 1}", false},
        {L"{a:1}", false},
        {L"{'a':1}", false},
        {L"{,}", false},
        {L"{,\"a\":1}", false},
        {L"{\"a\":1,}", false},
        {L"{\"a\":1 \"b\":2}", false},
        {L"{\"a\":1;\"b\":2}", false},
        {L"{\"a\":[]}", true},
        {L"{\"a\":[ \r\n\t ]}", true},
        {L"{\"a\":{ \n }}", true},
        {L"{\"a\":[1, 2 ,3]}", true},
        {L"{\"a\":[,]}", false},
        {L"{\"a\":[,1]}", false},
        {L"{\"a\":[1,]}", false},
        {L"{\"a\":[1 2]}", false},
        {L"{\"a\":[1}", false},
        {L"{\"a\":{]}", false},
        {L"{\"a\":true}", true},
        {L"{\"a\":TRUE}", true},
        {L"{\"a\":False}", true},
        {L"{\"a\":Null}", true},
        {L"{\"a\":nULL}", true},
        {L"{\"a\":truex}", false},      // a letter after the word is left behind
        {L"{\"a\":nullx}", false},
        {L"{\"a\":tru}", false},
        {L"{\"a\":nul", false},
        {L"{\"a\":yes}", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszText);
        EXPECT_EQ(Parses(c.pszText), c.bParses);
    }
}

TEST(JsonParse, NumberGrammar) {
    struct Case {
        const wchar_t* pszNumber;
        bool bParses;
    };
    const Case cases[] = {
        {L"0", true},     {L"-0", true},     {L"7", true},       {L"-12", true},
        {L"1.5", true},   {L"0.25", true},   {L"1e3", true},     {L"1E3", true},
        {L"1e+3", true},  {L"1e-3", true},   {L"-2.5E-02", true}, {L"123456789012345678901234567890", true},
        {L"+1", false},   {L"-", false},     {L"--1", false},    {L"-a", false},
        {L"01", false},   {L"-01", false},   {L"00", false},     {L"1.", false},
        {L".5", false},   {L"1.e3", false},  {L"1e", false},     {L"1e+", false},
        {L"1e-", false},  {L"1ee3", false},  {L"1.5.2", false},  {L"0x10", false},
        {L"1 5", false},  {L"- 1", false},   {L"Infinity", false}, {L"NaN", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszNumber);
        EXPECT_EQ(Parses(std::wstring(L"{\"n\":") + c.pszNumber + L"}"), c.bParses);
        EXPECT_EQ(Parses(std::wstring(L"{\"n\":[") + c.pszNumber + L"]}"), c.bParses);
    }
}

TEST(JsonParse, StringGrammar) {
    struct Case {
        std::wstring sLiteral;  // the quoted string as it stands in the text
        bool bParses;
    };
    const Case cases[] = {
        {L"\"plain\"", true},
        {L"\"\"", true},
        {L"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", true},
        {L"\"\\u00e9\\u00E9\"", true},
        {L"\"tab\tinside\"", true},
        {L"\"\u00e9\u20ac\"", true},
        {L"\"\x7f\"", true},
        {L"\"\\u00e\"", false},         // three hex digits
        {L"\"\\u00eg\"", false},
        {L"\"\\u\"", false},
        {L"\"\\x41\"", false},          // unknown escape letter
        {L"\"\\a\"", false},
        {L"\"\\U00e9\"", false},
        {L"\"\\'\"", false},
        {L"\"line\nend\"", false},      // raw LF
        {L"\"line\rend\"", false},      // raw CR
        {L"\"\x01\"", false},
        {L"\"\x1f\"", false},
        {L"\"unterminated", false},
        {L"\"ends in escape\\", false},
        {L"\"ends in u\\u00", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sLiteral);
        EXPECT_EQ(Parses(L"{\"s\":" + c.sLiteral + L"}"), c.bParses);
        EXPECT_EQ(Parses(L"{" + c.sLiteral + L":1}"), c.bParses);  // the same rules for keys
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
        {L"{\"s\":\"hello\"}", L"s", L"hello", 0, FALSE},
        {L"{\"s\":\"15\"}", L"s", L"15", 0, FALSE},  // digits in a string are no number
        {L"{\"n\":15}", L"n", L"", 15, FALSE},        // a number is no string
        {L"{\"n\":1.5e1}", L"n", L"", 15, FALSE},
        {L"{\"n\":-2.9}", L"n", L"", -2, FALSE},
        {L"{\"n\":2.9}", L"n", L"", 2, FALSE},
        {L"{\"n\":-0}", L"n", L"", 0, FALSE},
        {L"{\"n\":25e-1}", L"n", L"", 2, FALSE},
        {L"{\"n\":1E2}", L"n", L"", 100, FALSE},
        {L"{\"n\":2147483647}", L"n", L"", 2147483647, FALSE},
        {L"{\"n\":2147483647.9}", L"n", L"", 2147483647, FALSE},
        {L"{\"n\":-2147483648}", L"n", L"", -2147483647 - 1, FALSE},
        {L"{\"n\":-2147483648.5}", L"n", L"", -2147483647 - 1, FALSE},
        {L"{\"n\":2147483648}", L"n", L"", OutOfRangeInt, FALSE},
        {L"{\"n\":-2147483649}", L"n", L"", OutOfRangeInt, FALSE},
        {L"{\"n\":1e10}", L"n", L"", OutOfRangeInt, FALSE},
        {L"{\"n\":1e400}", L"n", L"", OutOfRangeInt, FALSE},    // infinity
        {L"{\"n\":-1e400}", L"n", L"", OutOfRangeInt, FALSE},
        {L"{\"n\":1e-400}", L"n", L"", 0, FALSE},
        {L"{\"n\":1e99999999999999999999}", L"n", L"", OutOfRangeInt, FALSE},
        {L"{\"n\":-7e-99999999999999999999}", L"n", L"", 0, FALSE},
        {L"{\"n\":0e99999999999999999999}", L"n", L"", 0, FALSE},
        {L"{\"exp\":1900000000,\"customer\":\"c-42\"}", L"exp", L"", 1900000000, FALSE},
        {L"{\"b\":true}", L"b", L"", 0, TRUE},
        {L"{\"b\":TRUE}", L"b", L"", 0, TRUE},
        {L"{\"b\":tRuE}", L"b", L"", 0, TRUE},
        {L"{\"b\":false}", L"b", L"", 0, FALSE},
        {L"{\"b\":1}", L"b", L"", 1, FALSE},          // a number is no bool
        {L"{\"b\":\"true\"}", L"b", L"true", 0, FALSE},
        {L"{\"z\":null}", L"z", L"", 0, FALSE},
        {L"{\"z\":NULL}", L"z", L"", 0, FALSE},
        {L"{\"a\":[\"x\"]}", L"a", L"", 0, FALSE},
        {L"{\"o\":{\"inner\":\"x\"}}", L"inner", L"", 0, FALSE},  // only top-level members
        {L"{\"Key\":\"v\"}", L"key", L"", 0, FALSE},              // keys are case-sensitive
        {L"{\"key\":\"v\"}", L"key ", L"", 0, FALSE},
        {L"{\"k\":\"first\",\"k\":\"second\"}", L"k", L"second", 0, FALSE},
        {L"{\"k\":\"first\",\"k\":7}", L"k", L"", 7, FALSE},
        {L"{\"k\":{\"deep\":[1,2]},\"k\":true}", L"k", L"", 0, TRUE},
        {L"{\"e\":\"\\u00e9\"}", L"e", L"\u00e9", 0, FALSE},
        {L"{\"e\":\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"}", L"e", L"\"\\/\b\f\n\r\t", 0, FALSE},
        {L"{\"t\":\"a\tb\"}", L"t", L"a\tb", 0, FALSE},
        {L"{\"u\":\"\u00e9\u20ac\"}", L"u", L"\u00e9\u20ac", 0, FALSE},
        {L"{\"q\\\"k\":\"v\"}", L"q\"k", L"v", 0, FALSE},          // escapes in keys
        {L"{\"\":\"empty key\"}", L"", L"empty key", 0, FALSE},
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

TEST(JsonLookup, EscapedNulStaysInsideTheString) {
    CJsonParserBase parser;
    ASSERT_TRUE(parser.Parse(L"{\"s\":\"a\\u0000b\"}"));
    EXPECT_EQ(parser.GetString(L"s"), std::wstring(L"a\0b", 3));
}

TEST(JsonLookup, EveryLookupIsEmptyAfterFailureOrClear) {
    const wchar_t* pszGood = L"{\"s\":\"text\",\"n\":5,\"b\":true}";
    const wchar_t* badTexts[] = {L"{\"s\":\"other\"", L"[\"s\",5]", L"5", L"\"s\"", L"{\"s\":1}x", L""};
    for (const wchar_t* pszBad : badTexts) {
        SCOPED_TRACE(pszBad);
        CJsonParserBase parser;
        ASSERT_TRUE(parser.Parse(pszGood));
        EXPECT_FALSE(parser.Parse(pszBad));
        EXPECT_EQ(parser.GetString(L"s"), L"");
        EXPECT_EQ(parser.GetInt(L"n"), 0);
        EXPECT_EQ(parser.GetBool(L"b"), FALSE);
    }

    CJsonParserBase parser;
    ASSERT_TRUE(parser.Parse(pszGood));
    EXPECT_EQ(parser.GetString(L"s"), L"text");
    parser.Clear();
    EXPECT_EQ(parser.GetString(L"s"), L"");
    EXPECT_EQ(parser.GetInt(L"n"), 0);
    EXPECT_EQ(parser.GetBool(L"b"), FALSE);

    EXPECT_FALSE(parser.Parse(nullptr));
    CJsonParserBase fresh;
    EXPECT_EQ(fresh.GetString(L"s"), L"");
    EXPECT_EQ(fresh.GetInt(L"n"), 0);
    EXPECT_EQ(fresh.GetBool(L"b"), FALSE);
}

TEST(JsonLookup, ASecondParseReplacesTheFirstTree) {
    CJsonParserBase parser;
    ASSERT_TRUE(parser.Parse(L"{\"a\":\"one\",\"b\":1}"));
    ASSERT_TRUE(parser.Parse(L"{\"a\":\"two\"}"));
    EXPECT_EQ(parser.GetString(L"a"), L"two");
    EXPECT_EQ(parser.GetInt(L"b"), 0);
}

TEST(JsonTree, HoldsKindsValuesAndOrder) {
    std::unique_ptr<JsonValue> pRoot =
        CJsonParserBase::ParseText(L" [\"s\", TRUE, false, NULL, -1.5E1, [ ], {\"z\":1,\"a\":2,\"z\":3}] ");
    ASSERT_NE(pRoot, nullptr);
    const JsonValue::ArrayItems* pItems = pRoot->GetIf<JsonValue::Array>();
    ASSERT_NE(pItems, nullptr);
    ASSERT_EQ(pItems->size(), 7u);

    const JsonValue& s = *(*pItems)[0];
    ASSERT_EQ(s.GetKind(), JsonValue::String);
    EXPECT_EQ(*s.GetIf<JsonValue::String>(), L"s");
    ASSERT_EQ((*pItems)[1]->GetKind(), JsonValue::Bool);
    EXPECT_TRUE(*(*pItems)[1]->GetIf<JsonValue::Bool>());
    ASSERT_EQ((*pItems)[2]->GetKind(), JsonValue::Bool);
    EXPECT_FALSE(*(*pItems)[2]->GetIf<JsonValue::Bool>());
    EXPECT_EQ((*pItems)[3]->GetKind(), JsonValue::Null);
    ASSERT_EQ((*pItems)[4]->GetKind(), JsonValue::Number);
    EXPECT_EQ(*(*pItems)[4]->GetIf<JsonValue::Number>(), -15.0);
    ASSERT_EQ((*pItems)[5]->GetKind(), JsonValue::Array);
    EXPECT_TRUE((*pItems)[5]->GetIf<JsonValue::Array>()->empty());

    const JsonValue::ObjectMembers* pMembers = (*pItems)[6]->GetIf<JsonValue::Object>();
    ASSERT_NE(pMembers, nullptr);
    ASSERT_EQ(pMembers->size(), 2u);  // one entry per key, ordered by key
    EXPECT_EQ(pMembers->begin()->first, L"a");
    EXPECT_EQ(*pMembers->begin()->second->GetIf<JsonValue::Number>(), 2.0);
    EXPECT_EQ(pMembers->rbegin()->first, L"z");
    EXPECT_EQ(*pMembers->rbegin()->second->GetIf<JsonValue::Number>(), 3.0);

    // A node answers only for its own kind.
    EXPECT_EQ(s.GetIf<JsonValue::Number>(), nullptr);
    EXPECT_EQ((*pItems)[3]->GetIf<JsonValue::String>(), nullptr);
}

TEST(JsonTree, KindsAreNumberedInTreeOrder) {
    const JsonValue::Kind kinds[] = {JsonValue::Null,   JsonValue::String, JsonValue::Bool,
                                     JsonValue::Number, JsonValue::Array,  JsonValue::Object};
    const wchar_t* texts[] = {L"null", L"\"\"", L"true", L"0", L"[]", L"{}"};
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(texts[i]);
        EXPECT_EQ(static_cast<size_t>(kinds[i]), i);
        std::unique_ptr<JsonValue> pValue = CJsonParserBase::ParseText(texts[i]);
        ASSERT_NE(pValue, nullptr);
        EXPECT_EQ(pValue->GetKind(), kinds[i]);
    }
}

TEST(JsonTree, NumbersFollowTheDigitByDigitComputation) {
    struct Case {
        const wchar_t* pszText;
        double dValue;
    };
    // Values that come out exactly whatever the rounding of the single steps.
    const Case cases[] = {
        {L"0", 0.0},      {L"-0", -0.0},     {L"15", 15.0},    {L"-15", -15.0},
        {L"1.5", 1.5},    {L"1.5e1", 15.0},  {L"150E-1", 15.0}, {L"0.5", 0.5},
        {L"2e+3", 2000.0}, {L"12.5e2", 1250.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszText);
        std::unique_ptr<JsonValue> pValue = CJsonParserBase::ParseText(c.pszText);
        ASSERT_NE(pValue, nullptr);
        ASSERT_EQ(pValue->GetKind(), JsonValue::Number);
        const double dValue = *pValue->GetIf<JsonValue::Number>();
        EXPECT_EQ(dValue, c.dValue);
        EXPECT_EQ(std::signbit(dValue), std::signbit(c.dValue));
    }
}

// Longer fractions and exponents are not exact in double precision, but close.
TEST(JsonTree, FractionsAndExponentsComeOutClose) {
    struct Case {
        const wchar_t* pszText;
        double dValue;
    };
    const Case cases[] = {
        {L"0.25", 0.25},       {L"3.14159", 3.14159},   {L"-0.125", -0.125},
        {L"2.5e-3", 0.0025},   {L"-1.5E+2", -150.0},    {L"123.456e1", 1234.56},
        {L"0.000001", 1e-6},   {L"9.87654321", 9.87654321},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszText);
        std::unique_ptr<JsonValue> pValue = CJsonParserBase::ParseText(c.pszText);
        ASSERT_NE(pValue, nullptr);
        ASSERT_EQ(pValue->GetKind(), JsonValue::Number);
        EXPECT_NEAR(*pValue->GetIf<JsonValue::Number>(), c.dValue, 1e-12 * (1 + std::fabs(c.dValue)));
    }
}

// An exponent of billions must not cost billions of steps: every value has
// reached zero or infinity long before.
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

// \u escapes give single UTF-16 units: a pair needs two escapes and is not checked.
TEST(JsonTree, UnicodeEscapesGiveSingleUnits) {
    struct Case {
        const wchar_t* pszText;
        std::vector<unsigned> units;
    };
    const Case cases[] = {
        {L"\"\\u00e9\"", {0xE9}},
        {L"\"\\u00E9x\"", {0xE9, 'x'}},
        {L"\"\\uD83D\\uDE00\"", {0xD83D, 0xDE00}},
        {L"\"\\ud83d\"", {0xD83D}},  // a lone surrogate is kept as it is
        {L"\"\\uFFFF\\u0041\"", {0xFFFF, 0x41}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszText);
        std::unique_ptr<JsonValue> pValue = CJsonParserBase::ParseText(c.pszText);
        ASSERT_NE(pValue, nullptr);
        const std::wstring* psText = pValue->GetIf<JsonValue::String>();
        ASSERT_NE(psText, nullptr);
        ASSERT_EQ(psText->size(), c.units.size());
        for (size_t i = 0; i < c.units.size(); ++i) EXPECT_EQ(static_cast<unsigned>((*psText)[i]), c.units[i]);
    }
}

TEST(JsonTree, ParseTextRefusesTrailingTextForEveryRootKind) {
    const wchar_t* roots[] = {L"null", L"\"s\"", L"true", L"-1.5", L"[1]", L"{}"};
    for (const wchar_t* pszRoot : roots) {
        SCOPED_TRACE(pszRoot);
        EXPECT_NE(CJsonParserBase::ParseText((std::wstring(L"\n ") + pszRoot + L" \r\n").c_str()), nullptr);
        EXPECT_EQ(CJsonParserBase::ParseText((std::wstring(pszRoot) + L" x").c_str()), nullptr);
        EXPECT_EQ(CJsonParserBase::ParseText((std::wstring(pszRoot) + L",").c_str()), nullptr);
    }
    EXPECT_EQ(CJsonParserBase::ParseText(nullptr), nullptr);
    EXPECT_EQ(CJsonParserBase::ParseText(L"0123"), nullptr);  // "0" then stray digits
}

TEST(JsonNesting, LimitIsEnforcedAtTheBoundary) {
    const size_t nMax = CJsonParserBase::MaxNestingDepth;
    // The root object is one level, so member "a" may hold nMax - 1 levels of arrays.
    EXPECT_TRUE(Parses(NestedArrays(nMax - 1)));
    EXPECT_FALSE(Parses(NestedArrays(nMax)));

    EXPECT_NE(CJsonParserBase::ParseText((Repeat(L"[", nMax) + Repeat(L"]", nMax)).c_str()), nullptr);
    EXPECT_EQ(CJsonParserBase::ParseText((Repeat(L"[", nMax + 1) + Repeat(L"]", nMax + 1)).c_str()), nullptr);

    const std::wstring sObjects = Repeat(L"{\"o\":", nMax - 1) + L"{}" + Repeat(L"}", nMax - 1);
    EXPECT_TRUE(Parses(sObjects));
    EXPECT_FALSE(Parses(L"{\"o\":" + sObjects + L"}"));
}

TEST(JsonNesting, VeryDeepInputFailsInsteadOfOverflowingTheStack) {
    const size_t nDeep = 100000;
    EXPECT_FALSE(Parses(Repeat(L"[", nDeep)));
    EXPECT_FALSE(Parses(L"{\"a\":" + Repeat(L"[", nDeep)));
    EXPECT_FALSE(Parses(NestedArrays(nDeep)));
    EXPECT_FALSE(Parses(Repeat(L"{\"a\":", nDeep) + L"1" + Repeat(L"}", nDeep)));
    EXPECT_FALSE(Parses(L"{\"a\":" + Repeat(L"[{\"b\":", nDeep)));
}

// The member names of a valid object document, read through the tree.
std::vector<std::wstring> TopLevelKeys(const std::wstring& sDocument) {
    std::vector<std::wstring> keys;
    std::unique_ptr<JsonValue> pRoot = CJsonParserBase::ParseText(sDocument.c_str());
    const JsonValue::ObjectMembers* pMembers = pRoot ? pRoot->GetIf<JsonValue::Object>() : nullptr;
    if (pMembers != nullptr) {
        for (const auto& member : *pMembers) keys.push_back(member.first);
    }
    return keys;
}

void ExpectNoMembers(const CJsonParserBase& parser, const std::vector<std::wstring>& keys) {
    for (const std::wstring& sKey : keys) {
        EXPECT_EQ(parser.GetString(sKey.c_str()), L"") << "key " << sKey;
        EXPECT_EQ(parser.GetInt(sKey.c_str()), 0) << "key " << sKey;
        EXPECT_EQ(parser.GetBool(sKey.c_str()), FALSE) << "key " << sKey;
    }
}

// Valid documents like the ones the PBX sends, without trailing white space.
const wchar_t* const SampleDocuments[] = {
    L"{\"uuid\":\"6f1c-22\",\"extension\":\"201\",\"caller\":\"+4930123\",\"callee\":\"201\","
    L"\"state\":\"ring\",\"direction\":\"in\"}",
    L"{\"access-token\":\"aGVh.cGF5.c2ln\",\"refresh-token\":\"r-1\",\"expires\":3600}",
    L"{\"a\":[1,-2.5e3,true,false,null,{\"b\":\"\\u00e9\\n\"}],\"c\":{},\"d\":[]}",
    L"{ \"k\" : [ [ ] , { } , \"x\\\"y\" ] , \"n\" : -0.25E+2 , \"t\" : TRUE }",
};

TEST(JsonRobustness, EveryTruncationFailsAndLeavesNoTree) {
    size_t nChecked = 0;
    for (const wchar_t* pszDocument : SampleDocuments) {
        const std::wstring sDocument = pszDocument;
        const std::vector<std::wstring> keys = TopLevelKeys(sDocument);
        ASSERT_FALSE(keys.empty()) << "sample must be a valid object";
        CJsonParserBase parser;
        for (size_t cch = 0; cch < sDocument.size(); ++cch) {
            const std::wstring sPrefix = sDocument.substr(0, cch);
            SCOPED_TRACE(sPrefix);
            ASSERT_TRUE(parser.Parse(sDocument.c_str()));
            EXPECT_FALSE(parser.Parse(sPrefix.c_str()));
            ExpectNoMembers(parser, keys);
            ++nChecked;
        }
    }
    EXPECT_GT(nChecked, 200u);
}

// Mutated documents must either fail cleanly or parse into a consistent
// object; ASan and LSan catch any overrun or leak on the way.
TEST(JsonRobustness, SingleCharacterMutationsFailCleanlyOrParseConsistently) {
    const std::wstring sReplacements = L"{}[]\":,\\ \t\n-+.0159eEtTfnNux\x01\x1f\u00e9";
    std::vector<std::wstring> mutants;
    std::vector<std::wstring> sampleKeys;
    for (const wchar_t* pszDocument : SampleDocuments) {
        const std::wstring sDocument = pszDocument;
        for (const std::wstring& sKey : TopLevelKeys(sDocument)) sampleKeys.push_back(sKey);
        for (size_t i = 0; i < sDocument.size(); ++i) {
            for (wchar_t c : sReplacements) {
                std::wstring sReplaced = sDocument;
                sReplaced[i] = c;
                mutants.push_back(sReplaced);
                mutants.push_back(sDocument.substr(0, i) + c + sDocument.substr(i));
            }
            mutants.push_back(sDocument.substr(0, i) + sDocument.substr(i + 1));
        }
    }
    ASSERT_GT(mutants.size(), 1000u);

    size_t nParsed = 0;
    for (const std::wstring& sMutant : mutants) {
        SCOPED_TRACE(sMutant);
        CJsonParserBase parser;
        const BOOL bParsed = parser.Parse(sMutant.c_str());
        std::unique_ptr<JsonValue> pTree = CJsonParserBase::ParseText(sMutant.c_str());
        if (!bParsed) {
            ExpectNoMembers(parser, sampleKeys);
            EXPECT_TRUE(pTree == nullptr || pTree->GetKind() != JsonValue::Object);
            continue;
        }
        ++nParsed;
        ASSERT_NE(pTree, nullptr);
        EXPECT_EQ(pTree->GetKind(), JsonValue::Object);
        EXPECT_TRUE(Parses(sMutant + L" \r\n\t"));
        EXPECT_FALSE(Parses(sMutant + L"x"));
        EXPECT_FALSE(Parses(sMutant + L"{}"));
    }
    // Some mutations keep a valid document (a digit for a digit, a blank for a blank).
    EXPECT_GT(nParsed, 0u);
    EXPECT_LT(nParsed, mutants.size());
}

}  // namespace
