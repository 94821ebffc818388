// Texts of the PBX that once broke the reading, each read the way the provider
// receives it, with the fields that must come out.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/BoundedString.h"
#include "http/AnswerDecoder.h"
#include "http/CHTTPContactLog.h"
#include "pbx/ExtensionDirectory.h"
#include "pbx/Session.h"
#include "support/TestFiles.h"

namespace {

using Fields = std::map<std::wstring, std::wstring>;

// A directory answer sent as UTF-8, decoded as the HTTP client does it: the
// number of records and each record's number and name.
Fields FromDirectory(const std::string& utf8Answer) {
    CAnswerDecoder decoder;
    const std::wstring answer =
        decoder.Decode(reinterpret_cast<const BYTE*>(utf8Answer.data()), static_cast<DWORD>(utf8Answer.size()));
    const std::vector<ExtensionInfo> records = ParseExtensionDirectory(answer.c_str());
    Fields fields{{L"records", std::to_wstring(records.size())}};
    for (size_t i = 0; i < records.size(); ++i) {
        fields[std::to_wstring(i) + L".number"] = records[i].extension_number;
        fields[std::to_wstring(i) + L".name"] = records[i].name;
        fields[std::to_wstring(i) + L".presence"] = records[i].presence;
    }
    return fields;
}

std::string Base64(const std::string& bytes) {
    DWORD cch = 0;
    const BYTE* pBytes = reinterpret_cast<const BYTE*>(bytes.data());
    const DWORD dwFlags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    CryptBinaryToStringA(pBytes, static_cast<DWORD>(bytes.size()), dwFlags, nullptr, &cch);
    std::string text(cch, '\0');
    CryptBinaryToStringA(pBytes, static_cast<DWORD>(bytes.size()), dwFlags, text.data(), &cch);
    return text.substr(0, cch);
}

// A login answer whose access token carries these claims, read as the
// session reads it: the result and the two claims.
Fields FromToken(const std::string& claims) {
    std::string payload = Base64(claims);
    while (!payload.empty() && payload.back() == '=') payload.pop_back();  // as tokens are sent
    const std::wstring answer = L"{\"access-token\":\"eyJhbGciOiJIUzI1NiJ9." + FromUtf8(payload) +
                                L".c2lnbmF0dXJl\",\"refresh-token\":\"r-1\"}";
    BoundedCopy(g_SessionClient.m_pszAnswer, g_SessionClient.m_dwAnswerSize / sizeof(wchar_t), answer.c_str());
    g_sCustomer.clear();
    g_nTokenExpiry = 0;
    const int nResult = ReadTokens();
    return {{L"result", std::to_wstring(nResult)},
            {L"customer", g_sCustomer},
            {L"exp", std::to_wstring(g_nTokenExpiry)}};
}

// An access token as it stands, its claims read: the result and the two claims.
Fields FromRawToken(const std::wstring& token) {
    g_sCustomer.clear();
    g_nTokenExpiry = 0;
    g_sAccessToken = token;
    const int nResult = ReadTokenClaims();
    return {{L"result", std::to_wstring(nResult)}, {L"customer", g_sCustomer}, {L"exp", std::to_wstring(g_nTokenExpiry)}};
}

// The longest start of the text whose UTF-8 has at most cbMax bytes, no surrogate pair split.
std::wstring FirstUtf8Bytes(const std::wstring& text, size_t cbMax) {
    size_t n = text.size();
    while (n > 0 && (ToUtf8(text.substr(0, n)).size() > cbMax || IS_HIGH_SURROGATE(text[n - 1]))) --n;
    return text.substr(0, n);
}

std::wstring Repeat(const std::wstring& piece, size_t nCount) {
    std::wstring text;
    for (size_t i = 0; i < nCount; ++i) text += piece;
    return text;
}

TEST(PbxParsing, TextsThatOnceBrokeTheReadingAreReadWhole) {
    // 10 bytes, then pieces of 20 characters in 22 bytes: byte 254 is the second byte of an umlaut.
    const std::wstring umlautName = L"Abteilung " + Repeat(L"M\u00fcller-L\u00fcdenscheidt ", 15);
    const std::wstring emojiName = L"a" + Repeat(L"\U0001F600", 70);
    const std::string pad2k(2048, 'p');
    const std::string pad12k(12288, 'p');  // a token of about 16 KiB
    const std::string padBeyondHeader(16000, 'p');
    const std::wstring payload = L"eyJjdXN0b21lciI6ImMtMSIsICAiZXhwIjoxOTAwMDAwMDAwfQ==";
    const std::wstring unpadded = payload.substr(0, payload.size() - 2);
    const struct { const char* pszName; std::function<Fields()> read; Fields expected; } rows[] = {
        {"extension names holding braces",
         [] {
             return FromDirectory(R"({"extensions":[{"extension_number":"21","name":"Office {Berlin}"},)"
                                  R"({"extension_number":"22","name":"}{"}]})");
         },
         {{L"records", L"2"}, {L"0.number", L"21"}, {L"0.name", L"Office {Berlin}"}, {L"1.number", L"22"},
          {L"1.name", L"}{"}}},
        {"extension record with a nested object",
         [] {
             return FromDirectory(R"([{"extension_number":"21","forward":{"extension_number":"99"},"name":"A"},)"
                                  R"({"extension_number":"22","name":"B"}])");
         },
         {{L"records", L"2"}, {L"0.number", L"21"}, {L"0.name", L"A"}, {L"1.number", L"22"}, {L"1.name", L"B"}}},
        {"presence as sent; none when missing or not a string",
         [] {
             return FromDirectory(R"([{"extension_number":"21","presence":"idle"},{"extension_number":"22"},)"
                                  R"({"extension_number":"23","presence":{"state":"busy"}}])");
         },
         {{L"records", L"3"}, {L"0.presence", L"idle"}, {L"1.presence", L""}, {L"2.presence", L""}}},
        {"long name in umlauts, cut between two characters",
         [&] { return FromDirectory(R"([{"extension_number":"21","name":")" + ToUtf8(umlautName) + "\"}]"); },
         {{L"records", L"1"}, {L"0.number", L"21"}, {L"0.name", FirstUtf8Bytes(umlautName, 254)}}},
        {"long name of four-byte characters, no surrogate pair split",
         [&] { return FromDirectory(R"([{"extension_number":"21","name":")" + ToUtf8(emojiName) + "\"}]"); },
         {{L"records", L"1"}, {L"0.number", L"21"}, {L"0.name", FirstUtf8Bytes(emojiName, 254)}}},
        {"token with a 2 KB payload",
         [&] { return FromToken(R"({"customer":"c-2k","exp":1900000000,"pad":")" + pad2k + "\"}"); },
         {{L"result", L"4"}, {L"customer", L"c-2k"}, {L"exp", L"1900000000"}}},
        {"token of 16 KiB, as some PBXs issue them",
         [&] { return FromToken(R"({"customer":"c-16k","exp":1900000000,"pad":")" + pad12k + "\"}"); },
         {{L"result", L"5"}, {L"customer", L"c-16k"}, {L"exp", L"1900000000"}}},
        {"token too long for a request header",
         [&] { return FromToken(R"({"customer":"c-6k","exp":1900000000,"pad":")" + padBeyondHeader + "\"}"); },
         {{L"result", L"0"}, {L"customer", L""}, {L"exp", L"0"}}},
        // {"customer":"c-1",  "exp":1900000000}: 37 bytes, so the Base64 text ends in "==".
        {"token of three parts", [&] { return FromRawToken(L"h." + payload + L".s"); },
         {{L"result", L"3"}, {L"customer", L"c-1"}, {L"exp", L"1900000000"}}},
        {"token without the padding it needs", [&] { return FromRawToken(L"h." + unpadded + L".s"); },
         {{L"result", L"3"}, {L"customer", L"c-1"}, {L"exp", L"1900000000"}}},
        {"token of two parts", [&] { return FromRawToken(L"h." + payload); }, {{L"result", L"0"}, {L"exp", L"0"}}},
        {"token of four parts", [&] { return FromRawToken(L"h." + payload + L".s.x"); }, {{L"result", L"0"}, {L"exp", L"0"}}},
        {"token payload of the URL-safe alphabet that is no JSON",
         [] { return FromRawToken(L"h.eyJjdXN0b21lciI6ImMtMSJ9-_.s"); }, {{L"result", L"0"}, {L"exp", L"0"}}},
        {"token without a customer", [] { return FromRawToken(L"h.eyJleHAiOjV9.s"); },  // {"exp":5}
         {{L"result", L"0"}, {L"customer", L""}, {L"exp", L"5"}}},
    };
    // The cut names must really have been cut, and the umlaut cut must fall inside a character.
    ASSERT_GT(ToUtf8(umlautName).size(), 254u);
    ASSERT_EQ((ToUtf8(umlautName)[254] & 0xC0), 0x80);
    ASSERT_LT(ToUtf8(FirstUtf8Bytes(umlautName, 254)).size(), 254u);
    ASSERT_EQ(unpadded.size() % 4, 2u);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pszName);
        const Fields fields = row.read();
        for (const auto& [key, value] : row.expected) {
            const auto found = fields.find(key);
            ASSERT_NE(found, fields.end()) << ToUtf8(key);
            EXPECT_EQ(found->second, value) << ToUtf8(key);
        }
    }
}

}  // namespace
