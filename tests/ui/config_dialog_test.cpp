// The configuration dialog of the built provider, opened through
// TUISPI_providerConfig and used the way a user would: every control's kind,
// style, text and position (in dialog units), typing, clicking, and what
// reaches the registry and the shared settings record. Runs on a virtual
// display (run-on-display) once per language: ORVO_DIALOG_LANGUAGE names the
// interface language the run must have (1031 German, 1033 English).
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "config/ProviderSettings.h"
#include "config/resource.h"
#include "support/RegistryFixture.h"
#include "support/TestFiles.h"
#include "tools/tapihost/ProviderSetup.h"
#include "tools/tapihost/TapiHost.h"
#include "DialogDriver.h"
#include "Screenshot.h"

#include "support/PbxSim.h"

namespace {

const std::wstring kSettingsKey = L"SOFTWARE\\ORVO\\TAPI";
const wchar_t kSharedSection[] = L"Global\\SharedMemORVOAPITSPORVOTSP";

bool IsGermanRun() { return GetEnv(L"ORVO_DIALOG_LANGUAGE") == L"1031"; }

// --- The dialog as it must look -------------------------------------------

enum class Kind { Label, Edit, Password, Button, DefaultButton, GroupBox, Radio, MultiLineRadio, CheckBox };

struct Rect {
    int x, y, cx, cy;
};

struct ControlRow {
    int id;
    Kind kind;
    const wchar_t* pszEnglish;  // null: set at run time, checked separately
    const wchar_t* pszGerman;
    Rect english;
    Rect german;
};

// In tab order.
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

KindStyle StyleOf(Kind kind) {
    switch (kind) {
        case Kind::Label: return {L"Static", SS_TYPEMASK, SS_LEFT, 0};
        case Kind::Edit: return {L"Edit", ES_PASSWORD, 0, ES_AUTOHSCROLL | WS_TABSTOP};
        case Kind::Password: return {L"Edit", ES_PASSWORD, ES_PASSWORD, ES_AUTOHSCROLL | WS_TABSTOP};
        case Kind::Button: return {L"Button", BS_TYPEMASK, BS_PUSHBUTTON, WS_TABSTOP};
        case Kind::DefaultButton: return {L"Button", BS_TYPEMASK, BS_DEFPUSHBUTTON, WS_TABSTOP};
        case Kind::GroupBox: return {L"Button", BS_TYPEMASK, BS_GROUPBOX, 0};
        case Kind::Radio: return {L"Button", BS_TYPEMASK | BS_MULTILINE, BS_AUTORADIOBUTTON, 0};
        case Kind::MultiLineRadio: return {L"Button", BS_TYPEMASK | BS_MULTILINE, BS_AUTORADIOBUTTON | BS_MULTILINE, 0};
        case Kind::CheckBox: return {L"Button", BS_TYPEMASK, BS_AUTOCHECKBOX, WS_TABSTOP};
    }
    return {};
}

// A rectangle in dialog units as pixels of this dialog, as the dialog
// manager places controls: origin and size are each converted.
RECT PixelsOf(HWND hDlg, const Rect& dlu) {
    RECT origin = {dlu.x, dlu.y, dlu.x, dlu.y};
    RECT size = {0, 0, dlu.cx, dlu.cy};
    MapDialogRect(hDlg, &origin);
    MapDialogRect(hDlg, &size);
    return {origin.left, origin.top, origin.left + size.right, origin.top + size.bottom};
}

RECT ClientRectOf(HWND hDlg, HWND hControl) {
    RECT rect;
    GetWindowRect(hControl, &rect);
    MapWindowPoints(nullptr, hDlg, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Dialog units of a pixel rectangle, for messages.
std::string DluText(HWND hDlg, const RECT& pixels) {
    RECT unit = {0, 0, 400, 800};
    MapDialogRect(hDlg, &unit);
    auto dluX = [&](long px) { return (px * 400.0) / unit.right; };
    auto dluY = [&](long px) { return (px * 800.0) / unit.bottom; };
    char szText[96];
    snprintf(szText, sizeof(szText), "%.1f, %.1f, %.1f, %.1f", dluX(pixels.left), dluY(pixels.top),
             dluX(pixels.right - pixels.left), dluY(pixels.bottom - pixels.top));
    return szText;
}

std::vector<HWND> ChildrenInTabOrder(HWND hDlg) {
    std::vector<HWND> children;
    for (HWND h = GetWindow(hDlg, GW_CHILD); h != nullptr; h = GetWindow(h, GW_HWNDNEXT)) children.push_back(h);
    return children;
}

// --- What the library's version resource says --------------------------

std::wstring VersionString(const std::wstring& file, const wchar_t* pszName) {
    DWORD dwHandle = 0;
    DWORD cb = GetFileVersionInfoSizeW(file.c_str(), &dwHandle);
    std::vector<BYTE> data(cb);
    if (cb == 0 || !GetFileVersionInfoW(file.c_str(), 0, cb, data.data())) return L"";
    wchar_t* pszValue = nullptr;
    UINT cch = 0;
    std::wstring query = std::wstring(L"\\StringFileInfo\\000004b0\\") + pszName;
    if (!VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&pszValue), &cch)) return L"";
    return pszValue;
}

std::wstring ProductVersion(const std::wstring& file) {
    DWORD dwHandle = 0;
    DWORD cb = GetFileVersionInfoSizeW(file.c_str(), &dwHandle);
    std::vector<BYTE> data(cb);
    VS_FIXEDFILEINFO* pFixed = nullptr;
    UINT cbFixed = 0;
    if (cb == 0 || !GetFileVersionInfoW(file.c_str(), 0, cb, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&pFixed), &cbFixed))
        return L"";
    return std::to_wstring(HIWORD(pFixed->dwProductVersionMS)) + L"." + std::to_wstring(LOWORD(pFixed->dwProductVersionMS)) +
           L"." + std::to_wstring(HIWORD(pFixed->dwProductVersionLS)) + L"." +
           std::to_wstring(LOWORD(pFixed->dwProductVersionLS));
}

// --- The settings as the registry and the shared record hold them -------

void WriteProtected(const wchar_t* pszName, const std::wstring& text) {
    ASSERT_TRUE(WriteProtectedSetting(kSettingsKey, pszName, text));
}

std::wstring ReadProtected(const wchar_t* pszName) { return ReadProtectedSetting(kSettingsKey, pszName); }

std::wstring RegText(const wchar_t* pszName) {
    std::wstring text = L"(missing)";
    ReadRegString(HKEY_LOCAL_MACHINE, kSettingsKey, pszName, &text);
    return text;
}

struct StoredSettings {
    std::wstring debugLevel, numberFormat, lineFormat, name, password, lastLoginState;
};

class ConfigDialogTest : public testing::Test {
protected:
    void SetUp() override {
        LANGID expected = IsGermanRun() ? 1031 : 1033;
        ASSERT_EQ(GetUserDefaultUILanguage(), expected) << "this run must have the interface language " << expected;
        m_tsp = GetEnv(L"ORVO_TSP_PATH");
        ASSERT_FALSE(m_tsp.empty());
    }
    void TearDown() override {
        if (m_pShared != nullptr) UnmapViewOfFile(m_pShared);
        if (m_hSection != nullptr) CloseHandle(m_hSection);
    }

    // Writes the settings and loads the provider, which reads them at start.
    void Start(const StoredSettings& stored, const std::wstring& apiBaseUrl = L"http://127.0.0.1:9/v1") {
        ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, kSettingsKey, L"DebugLevel", stored.debugLevel));
        ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, kSettingsKey, L"NumberFormat", stored.numberFormat));
        ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, kSettingsKey, L"LineFormat", stored.lineFormat));
        ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, kSettingsKey, L"LastLoginState", stored.lastLoginState));
        ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, kSettingsKey, L"ApiBaseUrl", apiBaseUrl));
        ASSERT_NO_FATAL_FAILURE(WriteProtected(L"Name", stored.name));
        ASSERT_NO_FATAL_FAILURE(WriteProtected(L"Password", stored.password));
        ASSERT_TRUE(m_host.Load(m_tsp)) << ToUtf8(m_tsp);
        m_hSection = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kSharedSection);
        ASSERT_NE(m_hSection, nullptr) << "no shared settings section";
        m_pShared = static_cast<ProviderSettings*>(MapViewOfFile(m_hSection, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
        ASSERT_NE(m_pShared, nullptr);
        m_pShared->ReinitRequested = 0;
    }

    StoredSettings Stored() const {
        return {RegText(L"DebugLevel"), RegText(L"NumberFormat"), RegText(L"LineFormat"),
                ReadProtected(L"Name"), ReadProtected(L"Password"), RegText(L"LastLoginState")};
    }

    // Opens the dialog as TAPI does and lets drive use it.
    void UseDialog(const std::function<void(HWND)>& drive) {
        using ConfigFn = LONG(WINAPI*)(TUISPIDLLCALLBACK, HWND, DWORD);
        auto pfnConfig = m_host.ExportAs<ConfigFn>("TUISPI_providerConfig");
        ASSERT_NE(pfnConfig, nullptr);
        LONG lResult = -1;
        RunModalDialog([&] { lResult = pfnConfig(nullptr, nullptr, CTapiHost::kPermanentProviderID); }, drive);
        EXPECT_EQ(lResult, 0);
    }

    const wchar_t* Localized(const wchar_t* pszEnglish, const wchar_t* pszGerman) const {
        return IsGermanRun() ? pszGerman : pszEnglish;
    }

    CRegistrySnapshot m_settings{HKEY_LOCAL_MACHINE, kSettingsKey};
    CTapiHost m_host;
    std::wstring m_tsp;
    HANDLE m_hSection = nullptr;
    ProviderSettings* m_pShared = nullptr;
};

bool operator==(const StoredSettings& a, const StoredSettings& b) {
    return a.debugLevel == b.debugLevel && a.numberFormat == b.numberFormat && a.lineFormat == b.lineFormat &&
           a.name == b.name && a.password == b.password && a.lastLoginState == b.lastLoginState;
}

void PrintTo(const StoredSettings& s, std::ostream* os) {
    *os << "{DebugLevel " << ToUtf8(s.debugLevel) << ", NumberFormat " << ToUtf8(s.numberFormat) << ", LineFormat "
        << ToUtf8(s.lineFormat) << ", Name " << ToUtf8(s.name) << ", Password " << ToUtf8(s.password)
        << ", LastLoginState " << ToUtf8(s.lastLoginState) << "}";
}

const StoredSettings kAccount = {L"0", L"1", L"0", L"K1234-old", L"old-secret", L"Login successful"};

TEST_F(ConfigDialogTest, EveryControlHasItsKindTextAndPlace) {
    ASSERT_NO_FATAL_FAILURE(Start(kAccount));
    UseDialog([&](HWND hDlg) {
        bool bGerman = IsGermanRun();
        EXPECT_EQ(WindowText(hDlg), VersionString(m_tsp, L"FileDescription"));
        EXPECT_FALSE(WindowText(hDlg).empty());
        EXPECT_EQ(GetWindowLongW(hDlg, GWL_EXSTYLE) & WS_EX_TOPMOST, static_cast<LONG>(WS_EX_TOPMOST));
        RECT client;
        GetClientRect(hDlg, &client);
        RECT expectedClient = PixelsOf(hDlg, {0, 0, 295, bGerman ? 347 : 357});
        EXPECT_EQ(client.right, expectedClient.right);
        EXPECT_EQ(client.bottom, expectedClient.bottom);

        std::vector<HWND> children = ChildrenInTabOrder(hDlg);
        ASSERT_EQ(children.size(), std::size(kControls));
        for (size_t i = 0; i < children.size(); ++i) {
            const ControlRow& row = kControls[i];
            HWND hControl = children[i];
            SCOPED_TRACE(testing::Message() << "control " << i << " (id " << row.id << ")");
            EXPECT_EQ(static_cast<int>(static_cast<short>(GetDlgCtrlID(hControl))), row.id);
            KindStyle style = StyleOf(row.kind);
            wchar_t szClass[32] = {};
            GetClassNameW(hControl, szClass, 32);
            EXPECT_EQ(_wcsicmp(szClass, style.pszClass), 0) << ToUtf8(szClass);
            DWORD dwStyle = static_cast<DWORD>(GetWindowLongW(hControl, GWL_STYLE));
            EXPECT_EQ(dwStyle & style.dwTypeMask, style.dwType) << std::hex << dwStyle;
            EXPECT_EQ(dwStyle & style.dwRequired, style.dwRequired) << std::hex << dwStyle;
            EXPECT_TRUE(dwStyle & WS_VISIBLE);
            if (row.kind == Kind::Edit || row.kind == Kind::Password) {
                // The dialog manager draws an edit's border as a sunken edge.
                DWORD dwExStyle = static_cast<DWORD>(GetWindowLongW(hControl, GWL_EXSTYLE));
                EXPECT_TRUE((dwStyle & WS_BORDER) || (dwExStyle & WS_EX_CLIENTEDGE)) << std::hex << dwStyle;
            }
            const wchar_t* pszText = bGerman ? row.pszGerman : row.pszEnglish;
            if (pszText != nullptr) {
                EXPECT_EQ(WindowText(hControl), pszText);
            }
            RECT actual = ClientRectOf(hDlg, hControl);
            RECT expected = PixelsOf(hDlg, bGerman ? row.german : row.english);
            EXPECT_TRUE(EqualRect(&actual, &expected)) << "at " << DluText(hDlg, actual) << " dialog units";
        }

        // The texts filled in when the dialog opens.
        EXPECT_EQ(ItemText(hDlg, IDC_VERSION), ProductVersion(m_tsp));
        EXPECT_EQ(ItemText(hDlg, IDC_VERSION), L"1.1.0.0");
        EXPECT_EQ(ItemText(hDlg, IDC_COPYRIGHT).rfind(L"Copyright", 0), 0u);
        EXPECT_EQ(ItemText(hDlg, IDC_USERNAME), kAccount.name);
        EXPECT_EQ(ItemText(hDlg, IDC_PASSWORD), kAccount.password);
        EXPECT_EQ(ItemText(hDlg, IDC_LOGIN_STATE), kAccount.lastLoginState);
        EXPECT_TRUE(IsChecked(hDlg, IDC_NUMBER_INTERNATIONAL_NO_PLUS));
        EXPECT_TRUE(IsChecked(hDlg, IDC_LINE_EXTENSION));
        EXPECT_FALSE(IsChecked(hDlg, IDC_DEBUG_LOG));

        // Its icon is the provider's 32 by 32 phone.
        auto hIcon = reinterpret_cast<HICON>(SendMessageW(hDlg, WM_GETICON, ICON_BIG, 0));
        ICONINFO info = {};
        ASSERT_TRUE(hIcon != nullptr && GetIconInfo(hIcon, &info));
        BITMAP bitmap = {};
        GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
        EXPECT_EQ(bitmap.bmWidth, 32);
        EXPECT_EQ(bitmap.bmHeight, 32);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);

        std::wstring folder = GetEnv(L"ORVO_SCREENSHOT_DIR");
        if (!folder.empty()) {
            CreateDirectoryW(folder.c_str(), nullptr);
            RedrawWindow(hDlg, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
            std::wstring file = folder + (bGerman ? L"\\config-dialog-de.png" : L"\\config-dialog-en.png");
            EXPECT_TRUE(SaveWindowPng(hDlg, file)) << ToUtf8(file);
        }
        Click(hDlg, IDCANCEL);
    });
    EXPECT_EQ(Stored(), kAccount);
    EXPECT_EQ(m_pShared->ReinitRequested, 0u);
}

TEST_F(ConfigDialogTest, OkSavesWhatTheUserEnteredAndAsksTheServiceToReinitialise) {
    ASSERT_NO_FATAL_FAILURE(Start(kAccount));
    const std::wstring longName(70, L'n');
    const std::wstring password = L"Pässwort \"1\"";
    UseDialog([&](HWND hDlg) {
        TypeText(hDlg, IDC_USERNAME, longName);
        TypeText(hDlg, IDC_PASSWORD, password);
        Click(hDlg, IDC_NUMBER_PHONE_BOOK_INTERNATIONAL);
        Click(hDlg, IDC_LINE_EXTENSION_USER);
        Click(hDlg, IDC_DEBUG_LOG);
        EXPECT_TRUE(IsChecked(hDlg, IDC_NUMBER_PHONE_BOOK_INTERNATIONAL));
        EXPECT_FALSE(IsChecked(hDlg, IDC_NUMBER_INTERNATIONAL_NO_PLUS));
        EXPECT_TRUE(IsChecked(hDlg, IDC_LINE_EXTENSION_USER));
        EXPECT_FALSE(IsChecked(hDlg, IDC_LINE_EXTENSION));
        Click(hDlg, IDOK);
    });
    const std::wstring savedName(62, L'n');
    EXPECT_EQ(Stored(), (StoredSettings{L"5", L"3", L"2", savedName, password, kAccount.lastLoginState}));
    EXPECT_STREQ(m_pShared->DebugLevel, L"5");
    EXPECT_STREQ(m_pShared->NumberFormat, L"3");
    EXPECT_STREQ(m_pShared->LineFormat, L"2");
    EXPECT_EQ(m_pShared->Name, savedName);
    EXPECT_EQ(m_pShared->Password, password);
    EXPECT_EQ(m_pShared->ReinitRequested, 1u);
}

TEST_F(ConfigDialogTest, OutOfRangeFormatsCheckTheirButtonAndAreKeptOnOk) {
    ASSERT_NO_FATAL_FAILURE(Start({L"3", L"6", L"4", L"K1234", L"secret", L""}));
    UseDialog([&](HWND hDlg) {
        // 6 modulo 4 and 4 modulo 3; any debug level but 0 checks the box.
        for (int id : {IDC_NUMBER_INTERNATIONAL, IDC_NUMBER_INTERNATIONAL_NO_PLUS, IDC_NUMBER_PHONE_BOOK,
                       IDC_NUMBER_PHONE_BOOK_INTERNATIONAL})
            EXPECT_EQ(IsChecked(hDlg, id), id == IDC_NUMBER_PHONE_BOOK) << id;
        for (int id : {IDC_LINE_EXTENSION, IDC_LINE_USER, IDC_LINE_EXTENSION_USER})
            EXPECT_EQ(IsChecked(hDlg, id), id == IDC_LINE_USER) << id;
        EXPECT_TRUE(IsChecked(hDlg, IDC_DEBUG_LOG));
        EXPECT_EQ(ItemText(hDlg, IDC_LOGIN_STATE), L"");
        Click(hDlg, IDOK);
    });
    EXPECT_EQ(Stored(), (StoredSettings{L"5", L"6", L"4", L"K1234", L"secret", L""}));
    EXPECT_EQ(m_pShared->ReinitRequested, 1u);
}

TEST_F(ConfigDialogTest, ConnectionTestThenCancelLeavesTheSettingsButRecordsTheResult) {
    // Nothing listens on the discard port: the login fails.
    ASSERT_NO_FATAL_FAILURE(Start(kAccount, L"http://127.0.0.1:9/v1"));
    const wchar_t* pszFailed = Localized(L"Login failed", L"Anmelden fehlgeschlagen");
    UseDialog([&](HWND hDlg) {
        TypeText(hDlg, IDC_USERNAME, L"K9999-new");
        TypeText(hDlg, IDC_PASSWORD, L"new-secret");
        Click(hDlg, IDC_NUMBER_INTERNATIONAL);
        Click(hDlg, IDC_DEBUG_LOG);
        Click(hDlg, IDC_CHECK_CONNECTION);
        EXPECT_EQ(ItemText(hDlg, IDC_LOGIN_STATE), pszFailed);
        // The test puts the entered account into the shared record at once.
        EXPECT_EQ(std::wstring(m_pShared->Name), L"K9999-new");
        EXPECT_EQ(std::wstring(m_pShared->Password), L"new-secret");
        Click(hDlg, IDCANCEL);
    });
    StoredSettings expected = kAccount;
    expected.lastLoginState = pszFailed;
    EXPECT_EQ(Stored(), expected);
    EXPECT_STREQ(m_pShared->NumberFormat, kAccount.numberFormat.c_str());
    EXPECT_STREQ(m_pShared->DebugLevel, kAccount.debugLevel.c_str());
    EXPECT_EQ(m_pShared->ReinitRequested, 0u);
}

TEST_F(ConfigDialogTest, ConnectionTestLogsInToThePbxAndOkSavesTheAccount) {
    PbxSim sim;
    ASSERT_TRUE(sim.Start()) << ToUtf8(sim.Error());
    ASSERT_NO_FATAL_FAILURE(Start({L"0", L"0", L"0", L"", L"", L""}, sim.ApiBaseUrl()));
    const wchar_t* pszSuccess = Localized(L"Login successful", L"Anmelden erfolgreich");
    const wchar_t* pszFailed = Localized(L"Login failed", L"Anmelden fehlgeschlagen");
    UseDialog([&](HWND hDlg) {
        TypeText(hDlg, IDC_USERNAME, L"lena.muster");
        TypeText(hDlg, IDC_PASSWORD, L"wrong");
        Click(hDlg, IDC_CHECK_CONNECTION);
        EXPECT_EQ(ItemText(hDlg, IDC_LOGIN_STATE), pszFailed);
        TypeText(hDlg, IDC_PASSWORD, L"Demo-Pass-2024");
        Click(hDlg, IDC_CHECK_CONNECTION);
        EXPECT_EQ(ItemText(hDlg, IDC_LOGIN_STATE), pszSuccess);
        Click(hDlg, IDC_NUMBER_PHONE_BOOK);
        Click(hDlg, IDC_LINE_USER);
        Click(hDlg, IDC_DEBUG_LOG);
        Click(hDlg, IDOK);
    });
    EXPECT_EQ(Stored(), (StoredSettings{L"5", L"2", L"1", L"lena.muster", L"Demo-Pass-2024", pszSuccess}));
    EXPECT_EQ(m_pShared->ReinitRequested, 1u);
    int nLogins = 0;
    for (const SimRequest& request : sim.Requests())
        if (request.sMethod == L"POST" && request.sPath == L"/v1/login") ++nLogins;
    EXPECT_EQ(nLogins, 2);
}

}  // namespace
