// tapihost: loads a TAPI service provider and runs it the way the telephony
// service does, printing what happens, so that a person can watch it work.
//   tapihost [PROVIDER.TSP]           start, enumerate, initialise, shut down
//   tapihost watch [PROVIDER.TSP]     open every line and print calls as they change
//                                     (commands on standard input, see Watch.cpp)
//   tapihost bench [PROVIDER.TSP]     timed steps and time-stamped call events in
//                                     JSON lines, for tools/bench (see Bench.cpp)
//   tapihost soak [PROVIDER.TSP]      every line watched for the soak run, commands
//                                     and JSON answers as the bench's (see Soak.cpp)
//   tapihost settings NAME=VALUE...   write the standard provider's settings;
//                                     Name and Password as protected values,
//                                     IgnoreCertErrors as a number
#include <cstdio>
#include <string>

#include "tools/tapihost/Bench.h"
#include "tools/tapihost/ProviderSetup.h"
#include "tools/tapihost/Soak.h"
#include "tools/tapihost/TapiHost.h"
#include "tools/tapihost/Watch.h"

namespace {
std::wstring DefaultProviderPath() {
    wchar_t szPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szPath, MAX_PATH - 1);
    std::wstring path = szPath;
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"ORVOTSP.TSP";
}

int WriteSettings(int argc, wchar_t** argv) {
    for (int i = 2; i < argc; ++i) {
        const std::wstring setting = argv[i];
        const size_t nEquals = setting.find(L'=');
        if (nEquals == std::wstring::npos) {
            Print(L"tapihost: expected NAME=VALUE, not %ls", setting.c_str());
            return 2;
        }
        const std::wstring name = setting.substr(0, nEquals);
        const std::wstring value = setting.substr(nEquals + 1);
        bool bWritten = false;
        if (name == L"Name" || name == L"Password")
            bWritten = WriteProtectedSetting(kProviderSettingsKey, name.c_str(), value);
        else if (name == L"IgnoreCertErrors" || name == L"StreamIdleTimeout" || name == L"DirectoryRefreshSeconds" ||
                 name == L"TestTimeDivisor")
            bWritten = WriteDwordSetting(kProviderSettingsKey, name.c_str(), wcstoul(value.c_str(), nullptr, 10));
        else
            bWritten = WriteStringSetting(kProviderSettingsKey, name.c_str(), value);
        if (!bWritten) {
            Print(L"tapihost: cannot write %ls", name.c_str());
            return 1;
        }
    }
    return 0;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"settings") return WriteSettings(argc, argv);
    if (command == L"watch") return RunWatch(argc > 2 ? argv[2] : DefaultProviderPath());
    if (command == L"bench") return RunBench(argc > 2 ? argv[2] : DefaultProviderPath());
    if (command == L"soak") return RunSoak(argc > 2 ? argv[2] : DefaultProviderPath());
    std::wstring provider = argc > 1 ? argv[1] : DefaultProviderPath();
    CTapiHost host;
    Print(L"tapihost: loading %ls", provider.c_str());
    if (!host.Load(provider)) {
        Print(L"tapihost: cannot load the provider (error %lu)", GetLastError());
        return 2;
    }

    DWORD dwVersion = 0;
    LONG lResult = host.NegotiateTSPIVersion(INITIALIZE_NEGOTIATION, 0x00010004, 0x00030000, &dwVersion);
    Print(L"negotiate TSPI version 0x00010004..0x00030000: result 0x%08lX, version 0x%08lX",
          static_cast<unsigned long>(lResult), static_cast<unsigned long>(dwVersion));
    if (lResult != 0) return 1;

    DWORD dwLines = 0;
    DWORD dwPhones = 0;
    lResult = host.EnumDevices(&dwLines, &dwPhones);
    Print(L"enumerate devices: result 0x%08lX, %lu lines, %lu phones", static_cast<unsigned long>(lResult),
          static_cast<unsigned long>(dwLines), static_cast<unsigned long>(dwPhones));

    DWORD dwOptions = 0;
    lResult = host.Init(dwLines, &dwOptions);
    Print(L"initialise: result 0x%08lX, TSPI options 0x%08lX", static_cast<unsigned long>(lResult),
          static_cast<unsigned long>(dwOptions));

    lResult = host.Shutdown();
    Print(L"shut down: result 0x%08lX", static_cast<unsigned long>(lResult));
    host.Unload();
    Print(L"tapihost: done");
    return 0;
}
