// The checksum behind the optional parts of the shared section's name.
#include <gtest/gtest.h>

#include <string>

#include "config/CSimpleCRC.h"

namespace {
WORD ChecksumOf(const std::string& text) {
    return CSimpleCRC().Checksum(reinterpret_cast<const BYTE*>(text.data()), text.size());
}

TEST(SimpleCrcTest, StableAndSensitiveToEveryByte) {
    EXPECT_EQ(0xFFFF, ChecksumOf(""));
    EXPECT_EQ(ChecksumOf("C:\\WINDOWS\\SYSTEM32"), ChecksumOf("C:\\WINDOWS\\SYSTEM32"));
    EXPECT_NE(ChecksumOf("C:\\WINDOWS\\SYSTEM32"), ChecksumOf("C:\\WINDOWS\\SYSTEM31"));
    EXPECT_NE(ChecksumOf("AB"), ChecksumOf("BA"));
    EXPECT_NE(ChecksumOf("A"), ChecksumOf("B"));
}
}  // namespace
