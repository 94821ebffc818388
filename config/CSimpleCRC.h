// A 16-bit checksum that turns a text into a short, stable name part.
#pragma once

#include <cstddef>

#include "common/Types.h"

class CSimpleCRC {
public:
    virtual ~CSimpleCRC() = default;

    WORD Checksum(const BYTE* pData, size_t cbData) const;
};
