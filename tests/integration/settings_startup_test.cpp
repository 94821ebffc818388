// A process loading the library: which key, log folder and shared section a
// copy uses by its file name, what reaches the shared record, the start-up
// banner at DebugLevel 0, and the log values saved at shutdown.
// ctest-lock: registry
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "common/BoundedString.h"
#include "config/ProtectedValue.h"
#include "config/ProviderIdentity.h"
#include "config/ProviderSettings.h"
#include "support/ProviderFolders.h"
#include "support/RegistryFixture.h"
#include "support/TestFiles.h"
#include "support/TraceCapture.h"
#include "tools/tapihost/TapiHost.h"

namespace {
const wchar_t kAttach[] = L"Func.CGenericTSPIManager::AttachInstance.";

// The record in a provider's section, as another process sees it; nothing when there is none.
std::optional<ProviderSettings> ReadSection(const std::wstring& name) {
    std::optional<ProviderSettings> settings;
    if (HANDLE hMapping = OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str())) {
        if (const void* pView = MapViewOfFile(hMapping, FILE_MAP_READ, 0, 0, sizeof(ProviderSettings))) {
            settings = *static_cast<const ProviderSettings*>(pView);
            UnmapViewOfFile(pView);
        }
        CloseHandle(hMapping);
    }
    return settings;
}

bool HasMessage(const std::vector<std::wstring>& messages, const std::wstring& text) {
    return std::find(messages.begin(), messages.end(), text) != messages.end();
}

struct Identity {
    const wchar_t *pszFileName, *pszKey, *pszLogFolder, *pszSection;
};

// The standard name's and "ORVOTSP_2"'s are in the shared-section unit test.
const Identity kIdentities[] = {
    {L"ORVOTSP-2.TSP", L"SOFTWARE\\ORVO\\2", L"2", L"Global\\SharedMemORVOAPITSPORVOTSP-2"},
    {L"OTHER.TSP", L"SOFTWARE\\ORVO\\OTHER", L"OTHER", L"Global\\SharedMemORVOAPITSPOTHER"},
};

class SettingsStartUpTest : public testing::TestWithParam<Identity> {
protected:
    void SetUp() override {
        const Identity& identity = GetParam();
        m_snapshot.emplace(HKEY_LOCAL_MACHINE, identity.pszKey);
        m_copy = m_dir.File(identity.pszFileName);
        ASSERT_TRUE(CopyFileW(GetEnv(L"ORVO_TSP_PATH").c_str(), m_copy.c_str(), FALSE));
        // Values of this copy alone, so that a wrong key shows.
        m_name = std::wstring(L"K-") + identity.pszLogFolder;
        m_password = std::wstring(L"pw\"") + identity.pszFileName + L"-secret";
        SetString(L"DebugLevel", L"0");
        SetString(L"NumberFormat", std::to_wstring(wcslen(identity.pszFileName) % 4));
        SetString(L"LineFormat", L"2");
        SetString(L"MaxFiles", L"7");
        SetString(L"MaxLogFileSize", L"3");
        ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, identity.pszKey, L"LogFileNr", 4));
        StrCopy(g_szLocalRegPath, identity.pszKey);
        ASSERT_EQ(ERROR_SUCCESS, WriteStoredCredentials(m_name.c_str(), m_password.c_str()));
    }

    void SetString(const wchar_t* pszName, const std::wstring& text) {
        ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, GetParam().pszKey, pszName, text));
    }

    std::wstring LogFile() const {
        return OrvoDataFolder() + L"\\" + GetParam().pszLogFolder + L"\\ORVOTSP" + ExeBaseName() + L"_000.LOG";
    }

    std::optional<CRegistrySnapshot> m_snapshot;
    CTempDir m_dir{L"identity"};
    std::wstring m_copy;
    std::wstring m_name;
    std::wstring m_password;
};

TEST_P(SettingsStartUpTest, CopyUsesItsOwnKeyFolderAndSection) {
    const Identity& identity = GetParam();
    CTapiHost host;
    ASSERT_TRUE(host.Load(m_copy));

    std::optional<ProviderSettings> settings = ReadSection(identity.pszSection);
    ASSERT_TRUE(settings.has_value()) << "no section " << ToUtf8(identity.pszSection);
    EXPECT_STREQ(L"0", settings->DebugLevel);
    EXPECT_EQ(std::to_wstring(wcslen(identity.pszFileName) % 4), settings->NumberFormat);
    EXPECT_STREQ(L"2", settings->LineFormat);
    EXPECT_EQ(m_name, settings->Name);
    EXPECT_EQ(m_password, settings->Password);

    EXPECT_EQ(0, host.Shutdown());
    host.Unload();

    // The banner is written at DebugLevel 0, without the password.
    std::vector<std::wstring> messages = LogMessages(ReadFileBytes(LogFile()));
    ASSERT_FALSE(messages.empty()) << "no log " << ToUtf8(LogFile());
    const std::wstring attach = kAttach;
    EXPECT_TRUE(HasMessage(messages, attach + L"Var.g_szLocalRegPath " + identity.pszKey));
    EXPECT_TRUE(HasMessage(messages, attach + L"Info.SHARED_FILE_NAME " + identity.pszSection));
    EXPECT_TRUE(HasMessage(messages, attach + L"Var.MaxLogFileSize 3145728"));
    for (const std::wstring& message : messages)
        EXPECT_EQ(std::wstring::npos, message.find(m_password)) << ToUtf8(message);

    // The shutdown saved the log values of this copy, the size in MiB: a start begins at file 0.
    DWORD dwLogFileNr = 99;
    ASSERT_TRUE(ReadRegDword(HKEY_LOCAL_MACHINE, identity.pszKey, L"LogFileNr", &dwLogFileNr));
    EXPECT_EQ(0u, dwLogFileNr);
    std::wstring text;
    ASSERT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, identity.pszKey, L"MaxFiles", &text));
    EXPECT_EQ(L"7", text);
    ASSERT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, identity.pszKey, L"MaxLogFileSize", &text));
    EXPECT_EQ(L"3", text);
}

INSTANTIATE_TEST_SUITE_P(Copies, SettingsStartUpTest, testing::ValuesIn(kIdentities));
}  // namespace
