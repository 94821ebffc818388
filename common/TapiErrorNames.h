// The names of the TAPI error codes, for trace lines.
#pragma once

#include <string>

#include "common/Types.h"

// "LINEERR_BADDEVICEID" for 0x80000002 and so on; a hex text for unknown codes.
std::wstring TapiErrorName(LONG lResult);
