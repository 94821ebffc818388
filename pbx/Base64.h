// Strict Base64 decoding of the access token's payload. Wine's
// CryptStringToBinaryW refuses CRYPT_STRING_STRICT, so the provider carries
// its own decoder with the same strictness on every platform.
#pragma once

#include <cstddef>
#include <string>

// Decodes cch characters of standard Base64 (A-Z, a-z, 0-9, "+", "/") into
// bytes. The text must be whole groups of four; "=" may only fill the last one or
// two places of the last group, and the bits that padding leaves unused must be
// zero. Anything else (white space, the URL-safe "-" and "_", missing or stray
// padding) fails. An empty text decodes to no bytes. On failure sBytes is empty.
bool Base64Decode(const wchar_t* pszText, size_t cch, std::string& sBytes);
