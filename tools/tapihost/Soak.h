#pragma once

#include <string>

// tapihost soak: the telephony service of the soak run; commands in Soak.cpp.
int RunSoak(const std::wstring& providerPath);
