// Strict Base64 decoding of the access token's payload. Wine's
// CryptStringToBinaryW refuses CRYPT_STRING_STRICT, so the provider carries
// its own decoder with the same strictness on every platform.
#pragma once

#include <cstddef>
#include <string>

// Decodes cch characters of Base64 into bytes: the standard alphabet (A-Z,
// a-z, 0-9, "+", "/") or the URL-safe one ("-" and "_" instead of "+" and
// "/"; JSON web tokens use it), never both in one text. The text is whole
// groups of four, "=" filling only the last one or two places of the last
// group, or it leaves the padding out (its length then is not 1 more than a
// multiple of four). The bits that padding leaves unused must be zero.
// Anything else (white space, stray or partial padding, other characters)
// fails. An empty text decodes to no bytes. On failure sBytes is empty.
bool Base64Decode(const wchar_t* pszText, size_t cch, std::string& sBytes);
