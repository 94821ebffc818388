// tapihost's benchmark mode, driven by tools/bench/bench.py: the provider
// run as the telephony service runs it, with every step timed and every call
// event stamped with the wall clock, answering in JSON lines.
#pragma once

#include <string>

// Runs until "quit" or the end of the input; the process's exit code.
int RunBench(const std::wstring& providerPath);
