// The account name and password live in the registry encrypted with the
// Windows data-protection API for the whole machine: the service (LocalSystem)
// and the interactive user's dialog must both be able to read them.
#pragma once

#include <string>

// Decrypted text of a REG_BINARY value under the settings key, at most 62
// characters; empty when the key or value is missing or does not decrypt.
std::wstring ReadProtectedValue(const wchar_t* pszName);
// Encrypts the text (with its terminating zero) and writes it as REG_BINARY.
// Nothing is written when the encryption fails. Windows error code.
long WriteProtectedValue(const wchar_t* pszText, const wchar_t* pszName);
