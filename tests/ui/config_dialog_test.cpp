// The configuration dialog of the built provider, opened through
// TUISPI_providerConfig and used the way a user would, on a virtual display
// (run-on-display) once per language: ORVO_DIALOG_LANGUAGE names the
// interface language the run must have (1031 German, 1033 English).
#include <algorithm>
#include <memory>

#include "config/resource.h"
#include "support/ProviderRuntimeFixture.h"
#include "DialogDriver.h"

namespace {

const std::wstring kSettingsKey = L"SOFTWARE\\ORVO\\TAPI";

bool IsGermanRun() { return GetEnv(L"ORVO_DIALOG_LANGUAGE") == L"1031"; }

enum class Kind { Label, Edit, Password, Button, DefaultButton, GroupBox, Radio, MultiLineRadio, CheckBox };
struct Rect { int x, y, cx, cy; };  // dialog units

// The dialog as it must look, in tab order; null texts are set at run time.
struct ControlRow {
    int id;
    Kind kind;
    const wchar_t *pszEnglish, *pszGerman;
    Rect english, german;
};
const ControlRow kControls[] = {
    {1017, Kind::Label, L"Version:", L"Version:", {5, 10, 35, 8}, {5, 10, 35, 8}},
    {1016, Kind::Label, nullptr, nullptr, {50, 10, 70, 8}, {50, 10, 85, 8}},
    {1018, Kind::Label, nullptr, nullptr, {5, 25, 280, 8}, {5, 25, 285, 8}},
    {-1, Kind::GroupBox, L"Access credentials of the ORVO CTI API", L"Zugangsdaten der ORVO CTI API",
     {5, 40, 285, 80}, {5, 40, 285, 75}},
    {1019, Kind::Label, L"Username (K account):", L"Benutzername (K-Anlage)", {15, 58, 85, 8}, {15, 58, 105, 8}},
    {1032, Kind::Edit, nullptr, nullptr, {130, 55, 150, 14}, {130, 55, 150, 14}},
    {1021, Kind::Label, L"Password:", L"Passwort:", {15, 78, 85, 8}, {15, 77, 105, 8}},
    {1027, Kind::Password, nullptr, nullptr, {130, 75, 150, 14}, {130, 75, 150, 14}},
    {3, Kind::Button, L"Check connection", L"Verbindung testen", {15, 95, 85, 15}, {15, 95, 85, 15}},
    {1034, Kind::Label, nullptr, nullptr, {110, 98, 170, 10}, {110, 97, 170, 10}},
    {-1, Kind::GroupBox, L"Number format", L"Nummernformat", {5, 125, 285, 80}, {5, 120, 285, 80}},
    {1023, Kind::Radio, L"International", L"International", {15, 140, 135, 10}, {15, 136, 170, 10}},
    {1031, Kind::Label, L"+493012345678", L"+493012345678", {195, 141, 85, 8}, {195, 136, 85, 8}},
    {1024, Kind::Radio, L"International without plus", L"International ohne Plus", {15, 154, 130, 10},
     {15, 149, 170, 10}},
    {1033, Kind::Label, L"493012345678", L"493012345678", {195, 158, 85, 8}, {195, 153, 85, 8}},
    {1025, Kind::Radio, L"Phone book", L"Telefonbuchformat", {15, 168, 135, 10}, {15, 165, 170, 10}},
    {1036, Kind::Label, L"03012345678", L"03012345678", {195, 173, 85, 8}, {195, 168, 85, 8}},
    {1026, Kind::Radio, L"Phone book, international", L"Telefonbuchformat, international", {15, 183, 135, 10},
     {15, 181, 170, 10}},
    {1037, Kind::Label, L"00493012345678", L"00493012345678", {195, 188, 85, 8}, {195, 183, 85, 8}},
    {-1, Kind::GroupBox, L"Line name format", L"Format des Leitungsnamens", {5, 210, 285, 100}, {5, 205, 285, 95}},
    {1028, Kind::MultiLineRadio, L"ORVO <K account> <extension number>\r\ne.g., ORVO K1234 17",
     L"ORVO <K-Anlage> <Nebenstelle>\r\nz.B. ORVO K1234 17", {15, 225, 265, 25}, {15, 216, 265, 25}},
    {1029, Kind::MultiLineRadio, L"ORVO <K account> <user name>\r\ne.g., ORVO K1234 Lena Muster",
     L"ORVO <K-Anlage> <Benutzername>\r\nz.B. ORVO K1234 Lena Muster", {15, 257, 265, 20}, {15, 245, 265, 20}},
    {1030, Kind::MultiLineRadio, L"ORVO <K account> <extension number>: <user name>\r\ne.g., ORVO K1234 17: Lena Muster",
     L"ORVO <K-Anlage> <Nebenstelle>: <Benutzername>\r\nz.B. ORVO K1234 17: Lena Muster", {15, 281, 265, 20},
     {15, 269, 265, 15}},
    {1035, Kind::CheckBox, L"Use debug log", L"Debugausgaben verwenden", {5, 315, 160, 10}, {5, 305, 125, 10}},
    {1022, Kind::Button, L"Open log file", L"Logdatei öffnen", {225, 315, 65, 15}, {225, 305, 65, 15}},
    {1, Kind::DefaultButton, L"OK", L"OK", {175, 336, 55, 15}, {175, 325, 55, 15}},
    {2, Kind::Button, L"Cancel", L"Abbrechen", {235, 336, 55, 15}, {235, 325, 55, 15}},
};

struct KindStyle {
    const wchar_t* pszClass;
    DWORD dwTypeMask;  // the part of the style that tells the kind
    DWORD dwType;
    DWORD dwRequired;  // further bits the control must have
};

// By Kind.
const KindStyle kStyles[] = {
    {L"Static", SS_TYPEMASK, SS_LEFT, 0},
    {L"Edit", ES_PASSWORD, 0, ES_AUTOHSCROLL | WS_TABSTOP},
    {L"Edit", ES_PASSWORD, ES_PASSWORD, ES_AUTOHSCROLL | WS_TABSTOP},
    {L"Button", BS_TYPEMASK, BS_PUSHBUTTON, WS_TABSTOP},
    {L"Button", BS_TYPEMASK, BS_DEFPUSHBUTTON, WS_TABSTOP},
    {L"Button", BS_TYPEMASK, BS_GROUPBOX, 0},
    {L"Button", BS_TYPEMASK | BS_MULTILINE, BS_AUTORADIOBUTTON, 0},
    {L"Button", BS_TYPEMASK | BS_MULTILINE, BS_AUTORADIOBUTTON | BS_MULTILINE, 0},
    {L"Button", BS_TYPEMASK, BS_AUTOCHECKBOX, WS_TABSTOP},
};

// Dialog units as pixels, as the dialog manager converts origin and size.
RECT PixelsOf(HWND hDlg, const Rect& dlu) {
    RECT origin = {dlu.x, dlu.y, dlu.x, dlu.y}, size = {0, 0, dlu.cx, dlu.cy};
    MapDialogRect(hDlg, &origin);
    MapDialogRect(hDlg, &size);
    return {origin.left, origin.top, origin.left + size.right, origin.top + size.bottom};
}

// A text of the library's version resource.
std::wstring VersionString(const std::wstring& file, const wchar_t* pszName) {
    DWORD dwHandle = 0, cb = GetFileVersionInfoSizeW(file.c_str(), &dwHandle);
    std::vector<BYTE> data(cb);
    wchar_t* pszValue = nullptr;
    UINT cch = 0;
    std::wstring query = std::wstring(L"\\StringFileInfo\\000004b0\\") + pszName;
    if (cb == 0 || !GetFileVersionInfoW(file.c_str(), 0, cb, data.data()) ||
        !VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&pszValue), &cch))
        return L"";
    return pszValue;
}

// The stored settings in this order; Name and Password are kept protected,
// in the key that only SYSTEM and Administrators may open (the provider
// moves them there from where Start writes them, as an earlier version did).
const std::wstring kCredentialsKey = std::wstring(kSettingsKey) + L"\\Credentials";
using StoredSettings = std::vector<std::wstring>;
const wchar_t* const kSettingNames[] = {L"DebugLevel", L"NumberFormat", L"LineFormat",
                                        L"Name",       L"Password",     L"LastLoginState"};
bool IsProtected(size_t i) { return i == 3 || i == 4; }

class ConfigDialogTest : public testing::Test {
protected:
    void SetUp() override {
        LANGID expected = IsGermanRun() ? 1031 : 1033;
        ASSERT_EQ(GetUserDefaultUILanguage(), expected) << "this run must have the interface language " << expected;
        ASSERT_FALSE(m_tsp.empty());
    }
    // Writes the settings and loads the provider, which reads them at start.
    void Start(const StoredSettings& stored, const std::wstring& apiBaseUrl = L"http://127.0.0.1:9/v1") {
        for (size_t i = 0; i < stored.size(); ++i)
            ASSERT_TRUE(IsProtected(i) ? WriteProtectedSetting(kSettingsKey, kSettingNames[i], stored[i])
                                       : SetRegString(HKEY_LOCAL_MACHINE, kSettingsKey, kSettingNames[i], stored[i]));
        ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, kSettingsKey, L"ApiBaseUrl", apiBaseUrl));
        ASSERT_TRUE(m_host.Load(m_tsp)) << ToUtf8(m_tsp);
        m_shared = std::make_unique<CSharedSettingsView>();
        m_pShared = m_shared->Get();
        ASSERT_NE(m_pShared, nullptr) << "no shared settings section";
        m_pShared->ReinitRequested = 0;
    }

    StoredSettings Stored() const {
        StoredSettings stored;
        for (size_t i = 0; i < std::size(kSettingNames); ++i) {
            stored.push_back(IsProtected(i) ? ReadProtectedSetting(kCredentialsKey, kSettingNames[i]) : L"(missing)");
            if (!IsProtected(i)) ReadRegString(HKEY_LOCAL_MACHINE, kSettingsKey, kSettingNames[i], &stored.back());
        }
        return stored;
    }

    // Opens the dialog as TAPI does and lets drive use it.
    void UseDialog(const std::function<void(HWND)>& drive) {
        auto pfnConfig = m_host.ExportAs<LONG(WINAPI*)(TUISPIDLLCALLBACK, HWND, DWORD)>("TUISPI_providerConfig");
        ASSERT_NE(pfnConfig, nullptr);
        LONG lResult = -1;
        RunModalDialog([&] { lResult = pfnConfig(nullptr, nullptr, CTapiHost::kPermanentProviderID); }, drive);
        EXPECT_EQ(lResult, 0);
    }

    CRegistrySnapshot m_settings{HKEY_LOCAL_MACHINE, kSettingsKey};
    CTapiHost m_host;
    std::wstring m_tsp = GetEnv(L"ORVO_TSP_PATH");
    std::unique_ptr<CSharedSettingsView> m_shared;
    ProviderSettings* m_pShared = nullptr;
    const wchar_t* m_pszSuccess = IsGermanRun() ? L"Anmelden erfolgreich" : L"Login successful";
    const wchar_t* m_pszFailed = IsGermanRun() ? L"Anmelden fehlgeschlagen" : L"Login failed";
    const wchar_t* m_pszRefused = IsGermanRun() ? L"Benutzername oder Passwort falsch" : L"User name or password wrong";
};

const StoredSettings kAccount = {L"0", L"1", L"0", L"K1234-old", L"old-secret", L"Login successful"};

TEST_F(ConfigDialogTest, EveryControlHasItsKindTextAndPlaceAndCancelKeepsTheSettings) {
    ASSERT_NO_FATAL_FAILURE(Start(kAccount));
    UseDialog([&](HWND hDlg) {
        bool bGerman = IsGermanRun();
        EXPECT_FALSE(WindowText(hDlg).empty());
        EXPECT_EQ(WindowText(hDlg), VersionString(m_tsp, L"FileDescription"));
        EXPECT_EQ(GetWindowLongW(hDlg, GWL_EXSTYLE) & WS_EX_TOPMOST, static_cast<LONG>(WS_EX_TOPMOST));
        RECT client, expectedClient = PixelsOf(hDlg, {0, 0, 295, bGerman ? 347 : 357});
        GetClientRect(hDlg, &client);
        EXPECT_EQ(client.right, expectedClient.right);
        EXPECT_EQ(client.bottom, expectedClient.bottom);

        size_t i = 0;
        for (HWND hControl = GetWindow(hDlg, GW_CHILD); hControl != nullptr;
             hControl = GetWindow(hControl, GW_HWNDNEXT), ++i) {
            ASSERT_LT(i, std::size(kControls));
            const ControlRow& row = kControls[i];
            SCOPED_TRACE(testing::Message() << "control " << i << " (id " << row.id << ")");
            EXPECT_EQ(static_cast<int>(static_cast<short>(GetDlgCtrlID(hControl))), row.id);
            const KindStyle& style = kStyles[static_cast<int>(row.kind)];
            wchar_t szClass[32] = {};
            GetClassNameW(hControl, szClass, 32);
            EXPECT_EQ(_wcsicmp(szClass, style.pszClass), 0) << ToUtf8(szClass);
            DWORD dwStyle = static_cast<DWORD>(GetWindowLongW(hControl, GWL_STYLE));
            EXPECT_EQ(dwStyle & style.dwTypeMask, style.dwType) << std::hex << dwStyle;
            EXPECT_EQ(dwStyle & style.dwRequired, style.dwRequired) << std::hex << dwStyle;
            EXPECT_TRUE(dwStyle & WS_VISIBLE);
            // The dialog manager draws an edit's border as a sunken edge.
            bool bEdit = row.kind == Kind::Edit || row.kind == Kind::Password;
            EXPECT_TRUE(!bEdit || (dwStyle & WS_BORDER) || (GetWindowLongW(hControl, GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
            if (const wchar_t* pszText = bGerman ? row.pszGerman : row.pszEnglish) {
                EXPECT_EQ(WindowText(hControl), pszText);
            }
            RECT actual, expected = PixelsOf(hDlg, bGerman ? row.german : row.english);
            GetWindowRect(hControl, &actual);
            MapWindowPoints(nullptr, hDlg, reinterpret_cast<POINT*>(&actual), 2);
            EXPECT_TRUE(EqualRect(&actual, &expected)) << "at " << actual.left << ", " << actual.top << " pixels";
        }
        EXPECT_EQ(i, std::size(kControls));

        // The texts filled in when the dialog opens.
        std::wstring version = VersionString(m_tsp, L"ProductVersion");  // "1,1,0,0" shown as "1.1.0.0"
        std::replace(version.begin(), version.end(), L',', L'.');
        EXPECT_EQ(ItemText(hDlg, IDC_VERSION), version);
        EXPECT_EQ(ItemText(hDlg, IDC_COPYRIGHT).rfind(L"Copyright", 0), 0u);
        EXPECT_EQ(ItemText(hDlg, IDC_USERNAME), kAccount[3]);
        EXPECT_EQ(ItemText(hDlg, IDC_PASSWORD), kAccount[4]);
        EXPECT_EQ(ItemText(hDlg, IDC_LOGIN_STATE), kAccount[5]);
        EXPECT_TRUE(IsChecked(hDlg, IDC_NUMBER_INTERNATIONAL_NO_PLUS));
        EXPECT_TRUE(IsChecked(hDlg, IDC_LINE_EXTENSION));
        EXPECT_FALSE(IsChecked(hDlg, IDC_DEBUG_LOG));

        // A connection test (nothing listens on the discard port) logs in
        // with the entered account but leaves the shared record, which the
        // service reads, alone; Cancel keeps the rest.
        TypeText(hDlg, IDC_USERNAME, L"K9999-new");
        TypeText(hDlg, IDC_PASSWORD, L"new-secret");
        Click(hDlg, IDC_NUMBER_INTERNATIONAL);
        Click(hDlg, IDC_DEBUG_LOG);
        Click(hDlg, IDC_CHECK_CONNECTION);
        EXPECT_EQ(ItemText(hDlg, IDC_LOGIN_STATE), m_pszFailed);
        EXPECT_EQ(std::wstring(m_pShared->Name), kAccount[3]);
        EXPECT_EQ(std::wstring(m_pShared->Password), kAccount[4]);
        Click(hDlg, IDCANCEL);
    });
    StoredSettings expected = kAccount;
    expected[5] = m_pszFailed;
    EXPECT_EQ(Stored(), expected);
    EXPECT_EQ(m_pShared->NumberFormat, kAccount[1]);
    EXPECT_EQ(m_pShared->DebugLevel, kAccount[0]);
    EXPECT_EQ(m_pShared->ReinitRequested, 0u);
}

// 6 modulo 4 and 4 modulo 3; any debug level but 0 checks the box. A name is
// kept to its first 62 characters.
TEST_F(ConfigDialogTest, OutOfRangeFormatsCheckTheirButtonAndAreKeptOnOk) {
    ASSERT_NO_FATAL_FAILURE(Start({L"3", L"6", L"4", L"K1234", L"secret", L""}));
    UseDialog([&](HWND hDlg) {
        for (int id : {IDC_NUMBER_INTERNATIONAL, IDC_NUMBER_INTERNATIONAL_NO_PLUS, IDC_NUMBER_PHONE_BOOK,
                       IDC_NUMBER_PHONE_BOOK_INTERNATIONAL})
            EXPECT_EQ(IsChecked(hDlg, id), id == IDC_NUMBER_PHONE_BOOK) << id;
        for (int id : {IDC_LINE_EXTENSION, IDC_LINE_USER, IDC_LINE_EXTENSION_USER})
            EXPECT_EQ(IsChecked(hDlg, id), id == IDC_LINE_USER) << id;
        EXPECT_TRUE(IsChecked(hDlg, IDC_DEBUG_LOG));
        EXPECT_EQ(ItemText(hDlg, IDC_LOGIN_STATE), L"");
        TypeText(hDlg, IDC_USERNAME, std::wstring(70, L'n'));
        Click(hDlg, IDOK);
    });
    EXPECT_EQ(Stored(), (StoredSettings{L"5", L"6", L"4", std::wstring(62, L'n'), L"secret", L""}));
    EXPECT_EQ(m_pShared->ReinitRequested, 1u);
}

TEST_F(ConfigDialogTest, ConnectionTestLogsInToThePbxAndOkSavesTheAccount) {
    PbxSim sim;
    ASSERT_TRUE(sim.Start()) << ToUtf8(sim.Error());
    ASSERT_NO_FATAL_FAILURE(Start({L"0", L"0", L"0", L"", L"", L""}, sim.ApiBaseUrl()));
    UseDialog([&](HWND hDlg) {
        TypeText(hDlg, IDC_USERNAME, L"lena.muster");
        TypeText(hDlg, IDC_PASSWORD, L"wrong");
        Click(hDlg, IDC_CHECK_CONNECTION);
        EXPECT_EQ(ItemText(hDlg, IDC_LOGIN_STATE), m_pszRefused);
        TypeText(hDlg, IDC_PASSWORD, L"Demo-Pass-2024");
        Click(hDlg, IDC_CHECK_CONNECTION);
        EXPECT_EQ(ItemText(hDlg, IDC_LOGIN_STATE), m_pszSuccess);
        Click(hDlg, IDC_NUMBER_PHONE_BOOK_INTERNATIONAL);
        Click(hDlg, IDC_LINE_EXTENSION_USER);
        Click(hDlg, IDC_DEBUG_LOG);
        EXPECT_TRUE(IsChecked(hDlg, IDC_NUMBER_PHONE_BOOK_INTERNATIONAL));
        EXPECT_FALSE(IsChecked(hDlg, IDC_NUMBER_INTERNATIONAL));
        EXPECT_TRUE(IsChecked(hDlg, IDC_LINE_EXTENSION_USER));
        EXPECT_FALSE(IsChecked(hDlg, IDC_LINE_EXTENSION));
        Click(hDlg, IDOK);
    });
    EXPECT_EQ(Stored(), (StoredSettings{L"5", L"3", L"2", L"lena.muster", L"Demo-Pass-2024", m_pszSuccess}));
    EXPECT_EQ(std::vector<std::wstring>({m_pShared->DebugLevel, m_pShared->NumberFormat, m_pShared->LineFormat,
                                         m_pShared->Name, m_pShared->Password}),
              (std::vector<std::wstring>{L"5", L"3", L"2", L"lena.muster", L"Demo-Pass-2024"}));
    EXPECT_EQ(m_pShared->ReinitRequested, 1u);
    int nLogins = 0;
    for (const SimRequest& request : sim.Requests()) nLogins += request.sMethod == L"POST" && request.sPath == L"/v1/login";
    EXPECT_EQ(nLogins, 2);
}

// OK for a user who may not write the settings (no administrator): the
// dialog says so in its language and stays open, keeping what was entered;
// nothing is saved and nothing reaches the service. One who may not open the
// credentials key either sees the user name as unknown and no password.
TEST_F(ConfigDialogTest, UserWithoutTheRightToWriteTheSettingsCannotSaveAndSeesOnlyWhatHeMayRead) {
    const std::wstring adminRights = IsGermanRun() ? L"Die Einstellungen konnten nicht gespeichert werden: "
                                                     L"Administratorrechte sind erforderlich"
                                                   : L"Settings could not be saved: administrator rights are needed";
    ASSERT_NO_FATAL_FAILURE(Start(kAccount));
    {
        CReadOnlyKey readOnly(HKEY_LOCAL_MACHINE, kSettingsKey);
        ASSERT_TRUE(readOnly.Applied());
        UseDialog([&](HWND hDlg) {
            TypeText(hDlg, IDC_USERNAME, L"K9999-new");
            TypeText(hDlg, IDC_PASSWORD, L"new-secret");
            Click(hDlg, IDC_NUMBER_PHONE_BOOK);
            Click(hDlg, IDC_DEBUG_LOG);
            EXPECT_EQ(ClickAndAnswerMessageBox(hDlg, IDOK), adminRights);
            EXPECT_TRUE(IsWindow(hDlg) && IsWindowVisible(hDlg)) << "the dialog closed";
            EXPECT_EQ(ItemText(hDlg, IDC_USERNAME), L"K9999-new") << "what was entered is kept for another try";
            Click(hDlg, IDCANCEL);
        });
        EXPECT_EQ(std::vector<std::wstring>({m_pShared->DebugLevel, m_pShared->NumberFormat, m_pShared->Name,
                                             m_pShared->Password}),
                  (std::vector<std::wstring>{kAccount[0], kAccount[1], kAccount[3], kAccount[4]}));
        EXPECT_EQ(m_pShared->ReinitRequested, 0u);

        m_host.Unload();
        CReadOnlyKey closed(HKEY_LOCAL_MACHINE, kCredentialsKey, 0);
        ASSERT_TRUE(closed.Applied());
        ASSERT_TRUE(m_host.Load(m_tsp));
        UseDialog([&](HWND hDlg) {
            EXPECT_EQ(ItemText(hDlg, IDC_USERNAME), IsGermanRun() ? L"(unbekannt)" : L"(unknown)");
            EXPECT_EQ(ItemText(hDlg, IDC_PASSWORD), L"");
            EXPECT_NE(ClickAndAnswerMessageBox(hDlg, IDOK).find(IsGermanRun() ? L"Administratorrechte" : L"administrator rights"),
                      std::wstring::npos);
            Click(hDlg, IDCANCEL);
        });
    }
    EXPECT_EQ(Stored(), kAccount);
}

}  // namespace
