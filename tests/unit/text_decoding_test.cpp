// How answer bytes become text (UTF-8 or UTF-16LE, told from the bytes), and
// the strict Base64 decoder of the token's payload. Platform-free: also built
// natively, where wchar_t is wider, so the text's UTF-16 units are written out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/AnswerDecoder.h"
#include "pbx/Base64.h"

namespace {

std::wstring DecodeChunks(const std::vector<std::string>& chunks, CAnswerDecoder& decoder) {
    std::wstring text;
    for (const std::string& chunk : chunks)
        text += decoder.Decode(reinterpret_cast<const BYTE*>(chunk.data()), static_cast<DWORD>(chunk.size()));
    return text + decoder.Finish();
}

TEST(AnswerDecoder, DecodesUtf8AndUtf16AsTheBytesSay) {
    const std::string utf16("{\0\"\0n\0\"\0:\0\x3A\x26}\0", 14);
    const std::wstring R(1, CAnswerDecoder::Replacement);
    const struct {
        const char* pszName;
        std::vector<std::string> chunks;
        std::wstring sExpected;
        bool bUtf16;
    } cases[] = {
        {"utf-16 split at odd bytes", {utf16.substr(0, 9), utf16.substr(9, 3), utf16.substr(12)}, L"{\"n\":\x263A}", true},
        // Chunks under nine bytes do not decide; the next one does.
        {"short first chunk", {std::string("a\0b", 3), utf16}, std::wstring(L"a\0b", 3) + L"{\"n\":\x263A}", true},
        // A chunk whose first byte is zero is tested but does not settle the form.
        {"leading zero", {std::string("\0a\0b\0c\0d\0e", 10), utf16}, std::wstring(L"\0a\0b\0c\0d\0e", 10) + L"{\"n\":\x263A}", true},
        {"utf-16 with its byte-order mark", {std::string("\xFF\xFE{\0}\0", 6)}, L"{}", true},
        {"utf-8 stays utf-8", {"0123456789", std::string("a\0b\0c\0d\0e\0", 10)}, std::wstring(L"0123456789a\0b\0c\0d\0e\0", 20), false},
        {"raw utf-8", {"{\"name\":\"Max M\xC3\xBCller \xE2\x82\xAC \xF0\x9F\x98\x80\"}"}, L"{\"name\":\"Max M\u00fcller \u20ac \xD83D\xDE00\"}", false},
        {"byte-order mark skipped", {"\xEF\xBB\xBF{\"a\":1}"}, L"{\"a\":1}", false},
        {"byte-order mark in its own chunks", {"\xEF", "\xBB", "\xBF", "id: 7\n"}, L"id: 7\n", false},
        {"a later byte-order mark is text", {"a\xEF\xBB\xBF"}, L"a\uFEFF", false},
        {"characters split between chunks", {"M\xC3", "\xBC", "ller \xF0\x9F", "\x98", "\x80!"}, L"M\u00fcller \xD83D\xDE00!", false},
        {"NUL is a character", {std::string("id: 1\0x\ndata: {}\n\n", 19)}, std::wstring(L"id: 1\0x\ndata: {}\n\n", 19), false},
        {"invalid bytes", {"a\xFF" "b\xC0\xAF" "c\xED\xA0\x80" "d\xF4\x90\x80\x80" "e"},
         L"a" + R + L"b" + R + R + L"c" + R + R + R + L"d" + R + R + R + R + L"e", false},
        {"a broken sequence ends before the byte that breaks it", {"\xE2\x82" "A\xE2", "\x82"}, R + L"A" + R, false},
        {"cp1252 bytes are no utf-8", {"M\xFCller"}, L"M" + R + L"ller", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        CAnswerDecoder decoder;
        EXPECT_EQ(c.sExpected, DecodeChunks(c.chunks, decoder));
        EXPECT_EQ(c.bUtf16, decoder.IsUtf16());
        // Byte by byte gives the same text (the UTF-16 rows decide on their first long chunk).
        if (c.bUtf16) continue;
        std::vector<std::string> bytes;
        for (const std::string& chunk : c.chunks)
            for (char b : chunk) bytes.emplace_back(1, b);
        CAnswerDecoder byteDecoder;
        EXPECT_EQ(c.sExpected, DecodeChunks(bytes, byteDecoder));
    }
}

bool Decode(const std::wstring& sText, std::string& sBytes) {
    return Base64Decode(sText.c_str(), sText.size(), sBytes);
}

TEST(Base64Decode, DecodesBothAlphabetsPaddedOrNot) {
    struct Case { const wchar_t* pszText; std::string sBytes; };
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
