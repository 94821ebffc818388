// Masking of credentials in the texts written to HTTP exchange files.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "http/MaskSecrets.h"

namespace {

// Masks a copy of sText in a buffer with cchSlack units to spare behind the terminator.
std::wstring Masked(const std::wstring& sText, size_t cchSlack = 16) {
    std::vector<wchar_t> buffer(sText.begin(), sText.end());
    buffer.resize(sText.size() + 1 + cchSlack, L'\0');
    MaskSecrets(buffer.data(), buffer.size());
    return buffer.data();
}

struct MaskCase {
    const wchar_t* pszText;
    const wchar_t* pszMasked;
};

void ExpectMasked(const std::vector<MaskCase>& cases) {
    for (const MaskCase& c : cases) {
        SCOPED_TRACE(c.pszText);
        EXPECT_EQ(Masked(c.pszText), c.pszMasked);
    }
}

// Only the first value after the first marker of the list found in the text.
TEST(MaskSecrets, FirstMarkerValueIsMasked) {
    ExpectMasked({
        {L"{\"username\":\"alice\", \"password\":\"s3cr3t\"}", L"{\"username\":\"alice\", \"password\":\"XXXXXX\"}"},
        // Inside JSON a comma or "=" belongs to the value; a blank still ends it.
        {L"{\"password\":\"a,b=c d\"}", L"{\"password\":\"XXXXX d\"}"},
        {L"{\"token\":\"t=1,2\"}", L"{\"token\":\"XXXXX\"}"},
        {L"Accept:*.*\r\nAuthorization: Basic dXNlcjpwYXNz\r\nhost: pbx\r\n",
         L"Accept:*.*\r\nAuthorization: Basic XXXXXXXXXXXX\r\nhost: pbx\r\n"},
        // Outside JSON the value ends at "=", so Base64 padding stays.
        {L"Authorization: Basic YWI6Yw==\r\n", L"Authorization: Basic XXXXXX==\r\n"},
        // "&" ends nothing: the run goes on to the next "=".
        {L"user=alice&pwd=s3cret&lang=de", L"user=alice&pwd=XXXXXXXXXXX=de"},
        {L"pwd=abc,def", L"pwd=XXX,def"},
        {L"pwd=abc\"def", L"pwd=XXX\"def"},
        {L"a=1&password=pw b", L"a=1&password=XX b"},
        {L"AUTH_TOKEN=abc\tdef", L"AUTH_TOKEN=XXX\tdef"},
        // The list order decides, not the position in the text; then only the first occurrence.
        {L"AUTH_TOKEN=tok pwd=pw", L"AUTH_TOKEN=tok pwd=XX"},
        {L"{\"password\":\"pw\"} pwd=x", L"{\"password\":\"pw\"} pwd=X"},
        {L"Authorization: Basic abc\r\npwd=x", L"Authorization: Basic XXX\r\npwd=x"},
        {L"pwd=a pwd=b", L"pwd=X pwd=b"},
    });
}

TEST(MaskSecrets, TextWithoutSecretsIsUnchanged) {
    for (const wchar_t* pszText : {L"", L"{\"uuid\":\"6f1c\",\"state\":\"ring\"}",
                                   L"{\"password\" : \"spaced\"}",  // only the exact marker counts
                                   L"Authorization: Basic\tdXNl", L"the \"access-token\" member",
                                   L"{\"access-token\":null}", L"Authorization: Negotiate abc"}) {
        SCOPED_TRACE(pszText);
        EXPECT_EQ(Masked(pszText), pszText);
    }
}

// Tag contents, bearer tokens and token members come on top of the first-marker rule.
TEST(MaskSecrets, TagsAndTokensAreMaskedWhereverTheyOccur) {
    ExpectMasked({
        {L"<username>alice</username><password>pw</password>", L"<username>XXXXX</username><password>XX</password>"},
        {L"<username>a</username><username>b</username>", L"<username>X</username><username>b</username>"},
        {L"<password>pw</password> pwd=x y", L"<password>XX</password> pwd=X y"},
        // A bearer value ends only at white space or a quote: "=" and "+" belong to it.
        {L"Accept:*.*\r\nAuthorization: Bearer eyJh.eyJj.c2ln+/==\r\n\r\n",
         L"Accept:*.*\r\nAuthorization: Bearer XXXXXXXXXXXXXXXXXX\r\n\r\n"},
        {L"Authorization: Bearer a,b\r\nAuthorization: Bearer c=d\r\n",
         L"Authorization: Bearer XXX\r\nAuthorization: Bearer XXX\r\n"},
        {L"Authorization: Bearer abc\r\nX-Note: pwd=xyz", L"Authorization: Bearer XXX\r\nX-Note: pwd=XXX"},
        {L"{ \"access-token\" : \"a=b,c\", \"refresh-token\":\r\n  \"d\" }",
         L"{ \"access-token\" : \"XXXXX\", \"refresh-token\":\r\n  \"X\" }"},
        {L"[{\"refresh-token\":\"one\"},{\"refresh-token\":\"two\"}]",
         L"[{\"refresh-token\":\"XXX\"},{\"refresh-token\":\"XXX\"}]"},
        {L"{\"password\":\"pw\"}\n{\"access-token\":\"tok\"}", L"{\"password\":\"XX\"}\n{\"access-token\":\"XXX\"}"},
    });
}

// A marked value that runs to the end of the text widens every quote followed
// by "XXX" by four more "X"; the text may grow by three characters at most,
// and never past the buffer.
TEST(MaskSecrets, ValueAtTheEndWidensQuotedMasksWithinTheBuffer) {
    ExpectMasked({
        {L"name=\"XXX pwd=secret", L"name=\"XXXXXXX pwd=XXXXX"},
        {L"\"XX pwd=ab", L"\"XX pwd=XX"},                        // two X do not count
        {L"name=\"XXX pwd=secret ", L"name=\"XXX pwd=XXXXXX "},  // run ended before the end
    });
    EXPECT_EQ(Masked(L"name=\"XXX pwd=secret", 0), L"name=\"XXXXXXX pwd=XX");
    EXPECT_EQ(Masked(L"name=\"XXX pwd=secret", 1), L"name=\"XXXXXXX pwd=XXX");
    EXPECT_EQ(Masked(L"\"XXX\"XXX\"XXX pwd=x", 0), L"\"XXXXXXX\"XXXXXXX\"X");
}

// The exchange log masks the whole output again after every line it adds.
TEST(MaskSecrets, MaskingAgainChangesNothing) {
    for (const wchar_t* pszText : {L"{\"username\":\"alice\", \"password\":\"s3cr3t\"}\n",
                                   L"Accept:*.*\nAuthorization: Bearer abc.def.ghi\n",
                                   L"{\"access-token\":\"a.b.c\",\"refresh-token\":\"r\"}\n"}) {
        SCOPED_TRACE(pszText);
        const std::wstring sOnce = Masked(pszText);
        EXPECT_NE(sOnce, pszText);
        EXPECT_EQ(Masked(sOnce), sOnce);
    }
}

TEST(MaskTagContent, MasksUpToTheNextTagOrTheEnd) {
    struct Case {
        const wchar_t* pszText;
        const wchar_t* pszTag;
        const wchar_t* pszMasked;
    };
    const Case cases[] = {
        {L"<a>x</a><user>bob</user>", L"<user>", L"<a>x</a><user>XXX</user>"},
        {L"<user>bob smith", L"<user>", L"<user>XXXXXXXXX"},
        {L"<User>bob</User>", L"<user>", L"<User>bob</User>"},
        {L"<user>bob</user>", L"", L"<user>bob</user>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszText);
        std::vector<wchar_t> buffer(c.pszText, c.pszText + wcslen(c.pszText) + 1);
        MaskTagContent(buffer.data(), c.pszTag);
        EXPECT_EQ(std::wstring(buffer.data()), c.pszMasked);
    }
}

std::wstring Replaced(const std::wstring& sText, size_t cchCapacity, const wchar_t* pszSearch,
                      const wchar_t* pszReplacement) {
    std::vector<wchar_t> buffer(sText.begin(), sText.end());
    buffer.resize(cchCapacity > sText.size() ? cchCapacity : sText.size() + 1, L'\0');
    ReplaceAll(buffer.data(), cchCapacity, pszSearch, pszReplacement);
    return buffer.data();
}

TEST(ReplaceAll, ReplacesEveryOccurrenceWithinTheCapacity) {
    struct Case {
        const wchar_t* pszText;
        size_t cchCapacity;
        const wchar_t* pszSearch;
        const wchar_t* pszReplacement;
        const wchar_t* pszResult;
    };
    const Case cases[] = {
        {L"a-b-c", 100, L"-", L"--", L"a--b--c"},
        {L"aaa", 100, L"aa", L"b", L"ba"},
        {L"\"XXXXX\"", 100, L"\"XXX", L"\"XXXXXXX", L"\"XXXXXXXXX\""},
        {L"abc", 5, L"b", L"bbbb", L"abbb"},  // cut to capacity - 1 characters
        {L"abcdef", 4, L"x", L"y", L"abc"},  // even without a replacement
        {L"a-b", 100, L"-", nullptr, L"ab"},
        {L"a-b", 100, L"", L"x", L"a-b"},  // an empty search replaces nothing
        {L"a-b", 0, L"-", L"x", L"a-b"},   // no capacity: nothing written
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszText);
        EXPECT_EQ(Replaced(c.pszText, c.cchCapacity, c.pszSearch, c.pszReplacement), c.pszResult);
    }
    // The result is cut to the working buffer.
    const std::wstring sResult = Replaced(std::wstring(200000, L'a'), 2 * ReplaceAllBufferUnits, L"a", L"bb");
    EXPECT_EQ(sResult, std::wstring(ReplaceAllBufferUnits - 1, L'b'));
}

}  // namespace
