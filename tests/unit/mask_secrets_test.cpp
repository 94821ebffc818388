// Masking of credentials in the texts written to HTTP exchange files.
#include <gtest/gtest.h>

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
        // Inside JSON a comma or "=" belongs to the value; a blank still ends it.
        {L"{\"password\":\"a,b=c d\"}", L"{\"password\":\"XXXXX d\"}"},
        {L"{\"token\":\"t=1,2\"}", L"{\"token\":\"XXXXX\"}"},
        // Outside JSON the value ends at "=", so Base64 padding stays.
        {L"Authorization: Basic YWI6Yw==\r\n", L"Authorization: Basic XXXXXX==\r\n"},
        // "&" ends nothing: the run goes on to the next "=".
        {L"user=alice&pwd=s3cret&lang=de", L"user=alice&pwd=XXXXXXXXXXX=de"},
        {L"AUTH_TOKEN=abc\tdef", L"AUTH_TOKEN=XXX\tdef"},
        // The list order decides, not the position in the text; then only the first occurrence.
        {L"AUTH_TOKEN=tok pwd=pw", L"AUTH_TOKEN=tok pwd=XX"},
        {L"pwd=a pwd=b", L"pwd=X pwd=b"},
    });
}

TEST(MaskSecrets, TextWithoutSecretsIsUnchanged) {
    for (const wchar_t* pszText : {L"", L"{\"password\" : \"spaced\"}",  // only the exact marker counts
                                   L"Authorization: Basic\tdXNl", L"{\"access-token\":null}"}) {
        SCOPED_TRACE(pszText);
        EXPECT_EQ(Masked(pszText), pszText);
    }
}

// Tag contents, bearer tokens and token members come on top of the first-marker rule.
TEST(MaskSecrets, TagsAndTokensAreMaskedWhereverTheyOccur) {
    ExpectMasked({
        {L"<username>alice</username><password>pw</password>", L"<username>XXXXX</username><password>XX</password>"},
        // A bearer value ends only at white space or a quote: "=" and "+" belong to it.
        {L"Accept:*.*\r\nAuthorization: Bearer eyJh.eyJj.c2ln+/==\r\n\r\n",
         L"Accept:*.*\r\nAuthorization: Bearer XXXXXXXXXXXXXXXXXX\r\n\r\n"},
        {L"Authorization: Bearer a,b\r\nAuthorization: Bearer c=d\r\n",
         L"Authorization: Bearer XXX\r\nAuthorization: Bearer XXX\r\n"},
        {L"{ \"access-token\" : \"a=b,c\", \"refresh-token\":\r\n  \"d\" }",
         L"{ \"access-token\" : \"XXXXX\", \"refresh-token\":\r\n  \"X\" }"},
    });
}

// A marked value that runs to the end of the text widens every quote followed
// by "XXX" by four more "X"; the text may grow by three characters at most,
// and never past the buffer.
TEST(MaskSecrets, ValueAtTheEndWidensQuotedMasksWithinTheBuffer) {
    EXPECT_EQ(Masked(L"name=\"XXX pwd=secret"), L"name=\"XXXXXXX pwd=XXXXX");
    EXPECT_EQ(Masked(L"name=\"XXX pwd=secret "), L"name=\"XXX pwd=XXXXXX ");  // run ended before the end
    EXPECT_EQ(Masked(L"name=\"XXX pwd=secret", 0), L"name=\"XXXXXXX pwd=XX");
    EXPECT_EQ(Masked(L"\"XXX\"XXX\"XXX pwd=x", 0), L"\"XXXXXXX\"XXXXXXX\"X");
}

// The exchange log masks the whole output again after every line it adds.
TEST(MaskSecrets, MaskingAgainChangesNothing) {
    for (const wchar_t* pszText : {L"{\"username\":\"alice\", \"password\":\"s3cr3t\"}\n",
                                   L"{\"access-token\":\"a.b.c\",\"refresh-token\":\"r\"}\n"}) {
        SCOPED_TRACE(pszText);
        const std::wstring sOnce = Masked(pszText);
        EXPECT_NE(sOnce, pszText);
        EXPECT_EQ(Masked(sOnce), sOnce);
    }
}

}  // namespace
