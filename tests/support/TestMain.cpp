// main() of every test executable.
#include <gtest/gtest.h>

#include <cstdio>

#include "support/TestDiagnostics.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    InstallTestDiagnostics();
    const int nResult = RUN_ALL_TESTS();
    // cmake/wine-run tells a run that got here from one cut off on the way.
    printf("[   END    ] exit code %d\n", nResult);
    fflush(stdout);
    return nResult;
}
