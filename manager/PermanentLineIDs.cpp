// Permanent line IDs that belong to extensions: an application that saved
// its line choice by permanent ID finds the same extension after a restart
// or a re-initialisation, whatever place the directory now gives it. The low
// 16 bits of a line's permanent ID are its extension's own number (the high
// 16 bits are the provider's permanent ID). Every number ever given is kept
// in one binary value "PermanentLineIDs" under the settings key: UTF-8 text,
// one line "<number> <name>" per extension, the name being the extension's
// uuid. Entries are never deleted, so a number, once given, never goes to
// another extension.
//
// A start reads the value once and writes it once, only when a number was
// given: one value per extension cost a registry round trip per line, seconds
// for ten thousand lines. The numbers of earlier versions, one REG_DWORD per
// extension in the subkey "PermanentLineIDs", are taken over at the first
// start and the subkey removed.
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/BoundedString.h"
#include "common/SlimLock.h"
#include "common/UniqueRegKey.h"
#include "config/ProviderIdentity.h"
#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"
#include "pbx/ExtensionDirectory.h"

namespace {
constexpr const wchar_t* kPermanentLineIDsValue = L"PermanentLineIDs";
// Where earlier versions kept one value per extension.
constexpr const wchar_t* kOldPermanentLineIDsKey = L"PermanentLineIDs";
constexpr DWORD kMaxLineNumber = 0xFFFF;

// The value name of an extension: its uuid; the PBX's number where it gives no uuid.
std::wstring NameOf(const ExtensionInfo& extension) {
    return !extension.uuid.empty() ? extension.uuid : L"extension " + extension.extension_number;
}

// The numbers given so far, read from the registry at the first lookup after
// a start or a save, and what changed since.
struct NumberTable {
    bool bRead = false;
    bool bChanged = false;
    std::unordered_map<std::wstring, DWORD> numbers;
    std::vector<bool> taken = std::vector<bool>(kMaxLineNumber + 1, false);
    DWORD dwHighest = 0;

    // False for a number out of range or one another name holds already.
    bool Add(const std::wstring& name, DWORD dwNumber) {
        if (dwNumber == 0 || dwNumber > kMaxLineNumber || taken[dwNumber] || name.empty()) return false;
        if (!numbers.emplace(name, dwNumber).second) return false;
        Reserve(dwNumber);
        return true;
    }

    // A number that was given once, whoever holds it now.
    void Reserve(DWORD dwNumber) {
        if (dwNumber == 0 || dwNumber > kMaxLineNumber) return;
        taken[dwNumber] = true;
        if (dwNumber > dwHighest) dwHighest = dwNumber;
    }

    // A number no extension ever had: the preferred one when it is free (a
    // line keeps the ID it had before IDs were remembered), else the next
    // above all given, else the lowest free; 0 when all are given.
    DWORD NewNumber(DWORD dwPreferred) const {
        if (dwPreferred != 0 && dwPreferred <= kMaxLineNumber && !taken[dwPreferred]) return dwPreferred;
        if (dwHighest < kMaxLineNumber) return dwHighest + 1;
        for (DWORD dwNumber = 1; dwNumber <= kMaxLineNumber; ++dwNumber)
            if (!taken[dwNumber]) return dwNumber;
        return 0;
    }
};

SlimMutex g_TableLock;
NumberTable g_Table;

// The settings key, created when it is missing; empty without a settings path.
UniqueRegKey OpenSettingsKey(REGSAM samDesired) {
    UniqueRegKey key;
    if (g_szLocalRegPath[0] == L'\0' ||
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, g_szLocalRegPath, 0, nullptr, 0, samDesired, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        return UniqueRegKey();
    return key;
}

std::wstring FromUtf8(const std::vector<BYTE>& bytes) {
    if (bytes.empty()) return std::wstring();
    const char* pText = reinterpret_cast<const char*>(bytes.data());
    const int cchText = MultiByteToWideChar(CP_UTF8, 0, pText, static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(cchText > 0 ? static_cast<size_t>(cchText) : 0, L'\0');
    if (!text.empty())
        MultiByteToWideChar(CP_UTF8, 0, pText, static_cast<int>(bytes.size()), text.data(), cchText);
    return text;
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int cbText =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(cbText > 0 ? static_cast<size_t>(cbText) : 0, '\0');
    if (!bytes.empty())
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), cbText, nullptr,
                            nullptr);
    return bytes;
}

// The whole value in one read; empty when it is missing or not binary.
std::vector<BYTE> ReadTableValue(HKEY hKey) {
    std::vector<BYTE> bytes;
    for (;;) {
        DWORD dwType = 0;
        DWORD cbData = static_cast<DWORD>(bytes.size());
        const LONG lResult =
            RegQueryValueExW(hKey, kPermanentLineIDsValue, nullptr, &dwType, bytes.empty() ? nullptr : bytes.data(),
                             &cbData);
        if ((lResult == ERROR_MORE_DATA || (lResult == ERROR_SUCCESS && bytes.empty())) && cbData > 0) {
            bytes.resize(cbData);
            continue;
        }
        if (lResult != ERROR_SUCCESS || dwType != REG_BINARY) return std::vector<BYTE>();
        bytes.resize(cbData);
        return bytes;
    }
}

// "<number> <name>" lines; a line that does not read so is passed over.
void ParseTable(const std::wstring& text, NumberTable& table) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        const size_t blank = text.find(L' ', start);
        if (blank != std::wstring::npos && blank > start && blank < end) {
            wchar_t* pEnd = nullptr;
            const unsigned long ulNumber = wcstoul(text.c_str() + start, &pEnd, 10);
            if (pEnd == text.c_str() + blank && !table.Add(text.substr(blank + 1, end - blank - 1), ulNumber))
                Trace(2, L"Func.PermanentLineIDs.Warning.Entry passed over: %s",
                      text.substr(start, end - start).c_str());
        }
        start = end + 1;
    }
}

// The numbers of earlier versions that the table does not hold yet; true
// when the old subkey exists.
bool ReadOldNumbers(HKEY hSettings, NumberTable& table) {
    UniqueRegKey oldKey;
    if (RegOpenKeyExW(hSettings, kOldPermanentLineIDsKey, 0, KEY_QUERY_VALUE, oldKey.put()) != ERROR_SUCCESS)
        return false;
    for (DWORD dwIndex = 0;; ++dwIndex) {
        wchar_t szName[256];
        DWORD cchName = 256;
        DWORD dwType = 0;
        DWORD dwNumber = 0;
        DWORD cbNumber = sizeof(dwNumber);
        const LONG lResult = RegEnumValueW(oldKey.get(), dwIndex, szName, &cchName, nullptr, &dwType,
                                           reinterpret_cast<BYTE*>(&dwNumber), &cbNumber);
        if (lResult == ERROR_NO_MORE_ITEMS) break;
        if (lResult != ERROR_SUCCESS || dwType != REG_DWORD || cbNumber != sizeof(dwNumber)) continue;
        // An extension the table numbers already keeps that number, but the
        // old one was seen by applications too: no other extension gets it.
        if (table.Add(szName, dwNumber))
            table.bChanged = true;
        else
            table.Reserve(dwNumber);
    }
    return true;
}

bool WriteTable(HKEY hKey, const NumberTable& table) {
    std::wstring text;
    text.reserve(table.numbers.size() * 48);
    for (const auto& [name, dwNumber] : table.numbers) text += std::to_wstring(dwNumber) + L' ' + name + L'\n';
    const std::string bytes = ToUtf8(text);
    return RegSetValueExW(hKey, kPermanentLineIDsValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
}

// Writes the table when it changed; the old subkey goes only once its
// numbers are safe in the value.
bool SaveTable(HKEY hKey, NumberTable& table, bool bOldKeyFound) {
    if (table.bChanged) {
        if (!WriteTable(hKey, table)) {
            Trace(2, L"Func.PermanentLineIDs.Warning.Not written, error %u", GetLastError());
            return false;
        }
        table.bChanged = false;
    }
    if (bOldKeyFound) {
        wchar_t szOldKey[300];
        StrFormat(szOldKey, L"%s\\%s", g_szLocalRegPath, kOldPermanentLineIDsKey);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, szOldKey);
    }
    return true;
}

// Reads the table once per start; false when the settings key cannot be used.
bool EnsureTableRead(NumberTable& table) {
    if (table.bRead) return true;
    UniqueRegKey key = OpenSettingsKey(KEY_QUERY_VALUE | KEY_SET_VALUE);
    if (!key) {
        Trace(2, L"Func.PermanentLineIDs.Warning.Key %s not opened", g_szLocalRegPath);
        return false;
    }
    table = NumberTable{};
    ParseTable(FromUtf8(ReadTableValue(key.get())), table);
    // Taken over and saved at once, so that the old subkey goes at the first start.
    if (ReadOldNumbers(key.get(), table)) {
        Trace(2, L"Func.PermanentLineIDs.Info.Subkey taken over, %u numbers in all",
              static_cast<DWORD>(table.numbers.size()));
        SaveTable(key.get(), table, true);
    }
    table.bRead = true;
    return true;
}
}  // namespace

DWORD CGenericTSPIManager::GetPermanentLineNumber(DWORD dwDeviceIndex, DWORD dwPreferred) {
    CFuncTrace trace(3, L"CGenericTSPIManager::GetPermanentLineNumber");
    trace.Param(L"dwDeviceIndex", L"%u", dwDeviceIndex);
    if (dwDeviceIndex >= g_Extensions.size()) return trace.End(0);
    const std::wstring name = NameOf(g_Extensions[dwDeviceIndex]);
    std::lock_guard<SlimMutex> lock(g_TableLock);
    if (!EnsureTableRead(g_Table)) return trace.End(0);
    const auto found = g_Table.numbers.find(name);
    if (found != g_Table.numbers.end()) return trace.End(found->second);
    const DWORD dwNumber = g_Table.NewNumber(dwPreferred);
    if (dwNumber == 0 || !g_Table.Add(name, dwNumber)) {
        trace.Warning(L"No permanent line number left for %s", name.c_str());
        return trace.End(0);
    }
    g_Table.bChanged = true;
    trace.Info(L"Permanent line number %u given to %s", dwNumber, name.c_str());
    return trace.End(dwNumber);
}

void SavePermanentLineNumbers() {
    CFuncTrace trace(3, L"SavePermanentLineNumbers");
    std::lock_guard<SlimMutex> lock(g_TableLock);
    if (g_Table.bChanged) {
        UniqueRegKey key = OpenSettingsKey(KEY_SET_VALUE);
        // Kept in memory when it cannot be written: the next save tries again.
        if (!key || !SaveTable(key.get(), g_Table, false)) return trace.Line(L"Abort.Warning.Not saved");
        trace.Var(L"numbers", L"%u", static_cast<DWORD>(g_Table.numbers.size()));
    }
    // Read again when the next line needs a number: the table is no memory of a running provider.
    g_Table = NumberTable{};
    trace.End();
}
