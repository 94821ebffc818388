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

struct MaskCase { const wchar_t* pszText; const wchar_t* pszMasked; };

void ExpectMasked(const std::vector<MaskCase>& cases) {
    for (const MaskCase& c : cases) {
        SCOPED_TRACE(c.pszText);
        EXPECT_EQ(Masked(c.pszText), c.pszMasked);
        // The exchange log masks the whole output again after every line it adds.
        EXPECT_EQ(Masked(c.pszMasked), c.pszMasked) << "masking again changed it";
    }
}

// Every secret value is masked whole, wherever it stands and every time it
// occurs, and once only; text without secrets is left as it is.
TEST(MaskSecrets, SecretValuesAreMaskedWholeAndOnce) {
    ExpectMasked({
        // A JSON string value ends only at its closing quote.
        {L"{\"password\":\"a,b=c d\"}", L"{\"password\":\"XXXXXXX\"}"},
        {L"{\"token\":\"t=1,2\"}", L"{\"token\":\"XXXXX\"}"},
        {L"{\"Password\" : \"spaced\"}", L"{\"Password\" : \"XXXXXX\"}"},
        {L"{ \"access-token\" : \"a=b,c\", \"refresh-token\":\r\n  \"d\" }",
         L"{ \"access-token\" : \"XXXXX\", \"refresh-token\":\r\n  \"X\" }"},
        // The whole credential of an authorization header, padding included;
        // a bearer value runs to the line end.
        {L"Authorization: Basic YWI6Yw==\r\n", L"Authorization: Basic XXXXXXXX\r\n"},
        {L"authorization: Basic\tdXNl", L"authorization: Basic\tXXXX"},
        {L"Proxy-Authorization: Negotiate abc\r\nAuthorization: secret\r\n",
         L"Proxy-Authorization: Negotiate XXX\r\nAuthorization: XXXXXX\r\n"},
        {L"Authorization: Bearer a,b+/==\r\nAuthorization: Bearer c=d\r\n",
         L"Authorization: Bearer XXXXXXX\r\nAuthorization: Bearer XXX\r\n"},
        // A form value ends at "&"; every parameter that holds a secret is masked.
        {L"user=alice&pwd=s3cret&lang=de", L"user=alice&pwd=XXXXXX&lang=de"},
        {L"AUTH_TOKEN=abc\tdef", L"AUTH_TOKEN=XXX\tdef"},
        {L"AUTH_TOKEN=tok pwd=pw", L"AUTH_TOKEN=XXX pwd=XX"},
        {L"pwd=a pwd=b&password=c", L"pwd=X pwd=X&password=X"},
        {L"<username>alice</username><password>pw</password>", L"<username>XXXXX</username><password>XX</password>"},
        {L"<password>a<b\"c</password> <password>d</password>", L"<password>XXXXX</password> <password>X</password>"},
        {L"", L""},
        {L"{\"username\":\"alice\", \"extension\":\"21\"}", L"{\"username\":\"alice\", \"extension\":\"21\"}"},
        {L"{\"access-token\":null}", L"{\"access-token\":null}"},
        {L"\\\"password\\\":\\\"in a string\\\"", L"\\\"password\\\":\\\"in a string\\\""},
    });
}

// What the login request looks like with a user name and a password that
// hold what once ended a mask early or sent it to the wrong value: not one
// character of the password may remain.
TEST(MaskSecrets, LoginBodyHidesThePasswordWhateverTheAccountHolds) {
    const struct {
        const wchar_t* pszUser;      // as it stands in the JSON body (escaped)
        const wchar_t* pszPassword;  // likewise
    } cases[] = {
        {L"lena", L"correct horse"},
        {L"lena", L"tab\there"},
        {L"lena", L"quote\\\"inside\\\"it"},
        {L"lena", L"back\\\\slash\\\\"},
        {L"lena pwd=", L"after-user"},
        {L"lena", L"x pwd=y&z=1, w"},
        {L"<username>lena", L"le<ss than"},
        {L"lena\\\", \\\"password\\\":\\\"", L"real-one"},
        {L"Authorization: Basic", L"after-header"},
    };
    for (const auto& c : cases) {
        const std::wstring body = std::wstring(L"{\"username\":\"") + c.pszUser + L"\", \"password\":\"" +
                                  c.pszPassword + L"\"}";
        SCOPED_TRACE(body);
        // Masks keep the length, so the password stands where it stood.
        const std::wstring masked = Masked(body);
        ASSERT_EQ(masked.size(), body.size()) << masked;
        const size_t cchPassword = wcslen(c.pszPassword), nStart = body.size() - 2 - cchPassword;
        EXPECT_EQ(masked.substr(nStart, cchPassword), std::wstring(cchPassword, L'X')) << masked;
    }
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

}  // namespace
