// The strict Base64 decoder that reads the access token's payload: both
// alphabets (JSON web tokens use the URL-safe one, unpadded), never garbage.
#include <gtest/gtest.h>

#include <string>

#include "pbx/Base64.h"

namespace {

bool Decode(const std::wstring& sText, std::string& sBytes) {
    return Base64Decode(sText.c_str(), sText.size(), sBytes);
}

TEST(Base64Decode, DecodesBothAlphabetsPaddedOrNot) {
    struct Case {
        const wchar_t* pszText;
        std::string sBytes;
    };
    const Case cases[] = {
        // Test vectors of RFC 4648: no, one and two padding characters.
        {L"", ""},
        {L"Zm9vYg==", "foob"},
        {L"Zm9vYmE=", "fooba"},
        {L"Zm9vYmFy", "foobar"},
        // Binary bytes, "+" and "/" included.
        {L"/+8AgH8+Pw==", std::string("\xff\xef\x00\x80\x7f\x3e\x3f", 7)},
        // A token payload as the PBX issues it.
        {L"eyJjdXN0b21lciI6ImMxIiwiZXhwIjoxN30=", "{\"customer\":\"c1\",\"exp\":17}"},
        // The URL-safe alphabet, padded or not, as JSON web tokens carry it.
        {L"_-8AgH8-Pw==", std::string("\xff\xef\x00\x80\x7f\x3e\x3f", 7)},
        {L"_-8AgH8-Pw", std::string("\xff\xef\x00\x80\x7f\x3e\x3f", 7)},
        {L"Zm9vYg", "foob"},
        {L"Zm9vYmE", "fooba"},
        {L"eyJuYW1lIjoiTcO8bGxlciJ9", "{\"name\":\"M\xc3\xbcller\"}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszText);
        std::string sBytes = "left over";
        EXPECT_TRUE(Decode(c.pszText, sBytes));
        EXPECT_EQ(sBytes, c.sBytes);
    }
}

TEST(Base64Decode, RefusesAnythingButStrictBase64) {
    const wchar_t* badTexts[] = {
        L"Z",         // one character cannot hold a byte
        L"Zm9vY",     // nor can the last one of five
        L"Zg=",       // padding that does not fill the group
        L"Z===",      // three padding characters
        L"Zg=a",      // "=" before the end
        L"Zg==Zg==",  // padding inside the text
        L"+-8A",      // the two alphabets mixed
        L"_/8A",
        L"Zm9\n",     // white space of any kind
        L"Zm9 ",
        L"Zm9.",      // anything outside both alphabets
        L"Zm9\u0176", // low byte is 'v': no narrowing of wide characters
        L"Zh==",      // unused bits not zero
        L"Zh",
    };
    for (const wchar_t* pszText : badTexts) {
        SCOPED_TRACE(pszText);
        std::string sBytes = "left over";
        EXPECT_FALSE(Decode(pszText, sBytes));
        EXPECT_TRUE(sBytes.empty());
    }
    std::string sBytes = "left over";
    EXPECT_FALSE(Base64Decode(nullptr, 0, sBytes));
    EXPECT_TRUE(sBytes.empty());
}

TEST(Base64Decode, ReadsOnlyTheGivenLength) {
    const std::wstring sText = L"Zm9vYmFy!!!!";
    std::string sBytes;
    EXPECT_TRUE(Base64Decode(sText.c_str(), 4, sBytes));
    EXPECT_EQ(sBytes, "foo");
    EXPECT_FALSE(Base64Decode(sText.c_str(), sText.size(), sBytes));
}

}  // namespace
