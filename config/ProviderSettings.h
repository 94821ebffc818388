// The settings record that every process of the provider shares: the service
// uses what the configuration dialog (another process) writes, at once.
#pragma once

#include "common/Types.h"

struct ProviderSettings {
    wchar_t DebugLevel[16];    // decimal text as stored in the registry
    wchar_t Name[64];          // PBX user name
    wchar_t Password[64];      // PBX password, plain text
    wchar_t NumberFormat[16];  // "0" to "3"
    wchar_t LineFormat[16];    // "0" to "2"
    DWORD ReinitRequested;     // 1: the dialog asks the service to log in again
};
static_assert(sizeof(ProviderSettings) == 356, "the shared section holds exactly one record");

// The record in the shared section, or this process's private record when the
// section could not be mapped. Never null.
extern ProviderSettings* g_pProviderSettings;
