// What a failing or hanging test shows beyond its assertions. A test that
// fails prints the end of the provider log it wrote; a test that runs longer
// than ORVO_TEST_HANG_SECONDS (default 150 s) also prints every thread's
// stack and then ends the run with a failure.
#pragma once

void InstallTestDiagnostics();
