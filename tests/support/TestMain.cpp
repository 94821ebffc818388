// main() of every test executable.
#include <gtest/gtest.h>

#include "support/TestDiagnostics.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    InstallTestDiagnostics();
    return RUN_ALL_TESTS();
}
