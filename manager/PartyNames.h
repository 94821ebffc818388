// The parties of a call that are the account's own extensions: their
// directory names in the call information, and the call's origin.
#pragma once

#include <windows.h>

#include <string>

struct PhoneCall;

// The directory name of the account's extension with this number (a line in
// use), else empty. Under the ProviderLock.
std::wstring AccountExtensionName(const std::wstring& number);
// Whether the number is one of the account's extensions (a line in use). Under the ProviderLock.
bool IsAccountExtension(const std::wstring& number);
// The origin of a call offered to an extension: internal when the caller is
// another extension of the account, external otherwise (an outside or
// withheld number). Under the ProviderLock.
DWORD InboundCallOrigin(const std::wstring& caller);
// Writes the number into its slot (kNumberCaller, kNumberCalled or
// kNumberConnected) and the matching party name; non-zero when the name or
// its flags changed.
DWORD WritePartyID(PhoneCall* pCall, DWORD dwNumberIndex, const std::wstring& number);
