// main() of every test executable.
#include <gtest/gtest.h>

#include "support/HangWatchdog.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    InstallHangWatchdog();
    return RUN_ALL_TESTS();
}
