// Text inserted into a JSON request body as the inside of a string literal.
#pragma once

#include <string>

// Escapes the quote, the backslash and the control characters, so that any
// text (a password with a quote, a number typed with a backslash) still gives
// a valid JSON string. Everything else passes unchanged.
std::wstring JsonEscape(const std::wstring& text);
