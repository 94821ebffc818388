// The PBX address an administrator may set as "ApiBaseUrl". Every request URL
// is this base followed by a path of up to about a hundred characters, and a
// request's URL holds at most 510: a longer base would be cut short, and a
// base that is not an http(s) URL cannot be reached as meant. Either is
// refused, so that credentials never go anywhere but where configured.
#pragma once

#include <cstddef>

constexpr size_t kMaxApiBaseUrlChars = 400;

// "http://" or "https://" (any case), a host, optionally ":" and a port from
// 1 to 65535, optionally a path beginning with "/"; printable ASCII without
// blanks, no user name or password in it, at most kMaxApiBaseUrlChars
// characters.
bool IsValidApiBaseUrl(const wchar_t* pszUrl);
