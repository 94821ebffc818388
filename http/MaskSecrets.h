// Masking of credentials in the texts of an HTTP exchange before they are
// written to an exchange file. Every function works in place on a
// NUL-terminated UTF-16 buffer and overwrites secrets with "X".
#pragma once

#include <cstddef>

#include "common/Types.h"

// Replaces every occurrence of pszSearch by pszReplacement (exact comparison).
// The result is cut to fit cchCapacity units including the terminator; when
// memory is short the text stays as it is.
void ReplaceAll(WCHAR* pszText, size_t cchCapacity, const WCHAR* pszSearch, const WCHAR* pszReplacement);

// Overwrites with "X" the content of every occurrence of the tag ("<password>"):
// up to its closing tag on the same line, or else up to the next "<", double
// quote or line end.
void MaskTagContent(WCHAR* pszText, const WCHAR* pszTag);

// Masks every credential in a text of an exchange, wherever it stands and
// whatever it holds:
// - the whole JSON string value of each secret member ("password", "token",
//   "access-token", "refresh-token" and their variants, names compared
//   without case), escaped quotes and backslashes included;
// - what follows the scheme of every "Authorization:" header, up to the line
//   end (the scheme itself when it stands alone);
// - form-encoded and query values of "pwd=", "passwd=", "password=" and
//   "...token=", up to "&", white space or a double quote;
// - the contents of the "<username>" and "<password>" tags.
// cchBuffer is the size of the buffer in units: when a masked value runs to
// the end of the text the masks of quoted values are widened to seven "X",
// and the text then grows by up to three characters if the buffer has room.
void MaskSecrets(WCHAR* pszText, size_t cchBuffer);
