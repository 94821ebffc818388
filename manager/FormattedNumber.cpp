// Numbers of PBX call events in the number format chosen in the dialog.
#include <climits>
#include <cwchar>

#include "common/BoundedString.h"
#include "config/CPredialNumbers.h"
#include "config/ProviderSettings.h"
#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"

std::wstring CGenericTSPIManager::CreateFormattedNumber(const std::wstring& number) {
    CFuncTrace trace(5, L"CGenericTSPIManager::CreateFormattedNumber");
    trace.Param(L"number", L"%s", number.c_str());
    // Read at every call: the dialog may have changed it in another process.
    wchar_t szFormat[16];
    StrCopy(szFormat, g_pProviderSettings->NumberFormat);
    int nFormatType = _wtoi(szFormat);
    trace.Var(L"nFormatType", L"%d", nFormatType);

    constexpr int kNotCompared = INT_MIN;
    int nNationalTest = kNotCompared;
    std::wstring result = g_Predial.Format(number, nFormatType, &nNationalTest);
    if (nNationalTest != kNotCompared) {
        trace.Var(L"nNationalTest", L"%d", nNationalTest);
        trace.Info(nNationalTest == 0 ? L"Own country" : L"Foreign country");
    }
    trace.Line(L"End.Result %s", result.c_str());
    return result;
}
