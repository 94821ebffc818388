// Masking of credentials in the texts of an HTTP exchange before they are
// written to an exchange file. Every function works in place on a
// NUL-terminated UTF-16 buffer and overwrites secrets with "X".
#pragma once

#include <cstddef>

#include "common/Types.h"

// ReplaceAll builds its result in a buffer of this many units; longer results are cut.
constexpr size_t ReplaceAllBufferUnits = 262144;

// Replaces every occurrence of pszSearch by pszReplacement (exact comparison).
// The result is cut to fit cchCapacity units including the terminator, and to
// ReplaceAllBufferUnits - 1 characters; when memory is short the text stays as it is.
void ReplaceAll(WCHAR* pszText, size_t cchCapacity, const WCHAR* pszSearch, const WCHAR* pszReplacement);

// Overwrites with "X" everything from just after the first occurrence of pszTag
// up to the next "<" or the end of the text.
void MaskTagContent(WCHAR* pszText, const WCHAR* pszTag);

// Masks the credentials in a text of an exchange:
// - the contents of the "<username>" and "<password>" tags;
// - every "Authorization: Bearer" value and every "access-token" and
//   "refresh-token" member value (exchange files are readable by every local user);
// - the first value after the first of the markers "Authorization: Basic ",
//   "pwd=", "&password=", "AUTH_TOKEN=", "\"token\":\"", "\"password\":\"" that
//   occurs in the text; further marker kinds of the same text stay as they are.
// cchBuffer is the size of the buffer in units: when the marked value runs to
// the end of the text the masks of quoted values are widened, and the text
// then grows by up to three characters if the buffer has room for them.
void MaskSecrets(WCHAR* pszText, size_t cchBuffer);
