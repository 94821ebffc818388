// The configuration dialog and its connection test.
#include "manager/ConfigDialog.h"

#include <shellapi.h>

#include "common/BoundedString.h"
#include "common/SecretWipe.h"
#include "config/CVersionTool.h"
#include "config/ProviderSettings.h"
#include "config/Settings.h"
#include "config/UiLanguage.h"
#include "config/resource.h"
#include "http/ProxySettings.h"
#include "log/CLoggingFileWithEvent.h"
#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/Installation.h"
#include "model/ProviderState.h"
#include "pbx/Session.h"


HWND g_hDlg = nullptr;
DWORD g_bDebugLog = 0;
wchar_t g_szNumberFormatChoice[8] = {};
wchar_t g_szLineFormatChoice[8] = {};

namespace {
constexpr int kCredentialBuffer = 63;  // 62 characters and the terminating zero
constexpr UINT kNumberFormats = IDC_NUMBER_PHONE_BOOK_INTERNATIONAL - IDC_NUMBER_INTERNATIONAL + 1;
constexpr UINT kLineFormats = IDC_LINE_EXTENSION_USER - IDC_LINE_EXTENSION + 1;

LPARAM g_lLastNotify = 0;  // kept for debugging sessions, not used

// A stored format that is out of range still checks a button: its value
// modulo the number of buttons, as unsigned.
UINT FormatButton(UINT idFirst, const wchar_t* pszStored, UINT nButtons) {
    return idFirst + static_cast<UINT>(_wtoi(pszStored)) % nButtons;
}

void InitDialog(HWND hDlg) {
    g_hDlg = hDlg;
    SendMessageW(hDlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(g_hIconPhone));
    SendMessageW(hDlg, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(g_hIconPhone));
    const ProviderSettings& settings = *g_pProviderSettings;
    g_bDebugLog = static_cast<DWORD>(_wtoi(settings.DebugLevel));

    CVersionTool version(g_hModule);
    wchar_t szCaption[255];
    StrCopy(szCaption, version.m_szFileDescription);
    SetWindowTextW(hDlg, szCaption);
    SetDlgItemTextW(hDlg, IDC_VERSION, version.m_szProductVersion);

    // An account that may not read the stored credentials sees neither.
    SetDlgItemTextW(hDlg, IDC_USERNAME, g_bCredentialsUnknown ? UnknownUserNameText() : settings.Name);
    SetDlgItemTextW(hDlg, IDC_PASSWORD, g_bCredentialsUnknown ? L"" : settings.Password);
    if (g_bDebugLog != 0) SendDlgItemMessageW(hDlg, IDC_DEBUG_LOG, BM_SETCHECK, BST_CHECKED, 0);
    CheckRadioButton(hDlg, IDC_NUMBER_INTERNATIONAL, IDC_NUMBER_PHONE_BOOK_INTERNATIONAL,
                     FormatButton(IDC_NUMBER_INTERNATIONAL, settings.NumberFormat, kNumberFormats));
    StrCopy(g_szNumberFormatChoice, settings.NumberFormat);
    CheckRadioButton(hDlg, IDC_LINE_EXTENSION, IDC_LINE_EXTENSION_USER,
                     FormatButton(IDC_LINE_EXTENSION, settings.LineFormat, kLineFormats));
    StrCopy(g_szLineFormatChoice, settings.LineFormat);
    g_Manager.ShowLastLoginState();
}

void CloseDialog(HWND hDlg) {
    g_hDlg = nullptr;
    EndDialog(hDlg, 0);
}

// OK: everything into the registry and, once saved, into the record; the
// service is then asked to log in again with what was saved. A save that
// fails (no right to write the key) changes nothing, says so, and leaves the
// dialog open.
void SaveAndClose(HWND hDlg) {
    wchar_t szName[kCredentialBuffer] = {};
    wchar_t szPassword[kCredentialBuffer] = {};
    GetDlgItemTextW(hDlg, IDC_USERNAME, szName, kCredentialBuffer);
    GetDlgItemTextW(hDlg, IDC_PASSWORD, szPassword, kCredentialBuffer);
    const bool bSaved =
        g_Manager.GetSaveGUISettings(g_bDebugLog, szName, szPassword, g_szNumberFormatChoice, g_szLineFormatChoice);
    WipeSecret(szPassword);
    if (!bSaved) {
        wchar_t szCaption[256] = {};
        GetWindowTextW(hDlg, szCaption, 256);
        MessageBoxW(hDlg, SettingsNotSavedText(), szCaption, MB_OK | MB_ICONWARNING);
        return;
    }
    g_pProviderSettings->ReinitRequested = 1;
    CloseDialog(hDlg);
}

void OnCommand(HWND hDlg, UINT id) {
    if (id >= IDC_NUMBER_INTERNATIONAL && id <= IDC_NUMBER_PHONE_BOOK_INTERNATIONAL) {
        StrFormat(g_szNumberFormatChoice, L"%d", static_cast<int>(id - IDC_NUMBER_INTERNATIONAL));
        return;
    }
    if (id >= IDC_LINE_EXTENSION && id <= IDC_LINE_EXTENSION_USER) {
        StrFormat(g_szLineFormatChoice, L"%d", static_cast<int>(id - IDC_LINE_EXTENSION));
        return;
    }
    switch (id) {
        case IDC_DEBUG_LOG:
            g_bDebugLog = IsDlgButtonChecked(hDlg, IDC_DEBUG_LOG) == BST_CHECKED ? 1 : 0;
            break;
        case IDC_OPEN_LOG:
            ShellExecuteW(hDlg, L"open", L"explorer", g_szLogPath, L"", SW_SHOWNORMAL);
            break;
        case IDC_CHECK_CONNECTION:
            g_Manager.CheckConnection();
            break;
        case IDOK:
            SaveAndClose(hDlg);
            break;
        case IDCANCEL:
            CloseDialog(hDlg);
            break;
        default:
            break;
    }
}
}  // namespace

INT_PTR CALLBACK ConfigDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    // Called from the system's message loop: nothing may leave by exception.
    try {
        switch (uMsg) {
            case WM_INITDIALOG:
                InitDialog(hDlg);
                return TRUE;
            case WM_COMMAND:
                OnCommand(hDlg, LOWORD(wParam));
                return FALSE;
            case WM_NOTIFY:
                g_lLastNotify = lParam;
                return FALSE;
            default:
                return FALSE;
        }
    } catch (...) {
        Trace(1, L"Func.ConfigDialogProc.Warning.Exception");
        return FALSE;
    }
}

void CGenericTSPIManager::ShowInfoDialog(HWND hwndOwner) {
    CFuncTrace trace(2, L"CGenericTSPIManager::ShowInfoDialog");
    trace.Param(L"hwndOwner", L"0x%p", hwndOwner);
    LANGID lLangId = GetUserDefaultUILanguage();
    trace.Var(L"lLangId", L"0x%08X", lLangId);
    SetThreadUILanguage(lLangId);
    UINT idTemplate = lLangId == kGermanUiLanguage ? IDD_CONFIG_GERMAN : IDD_CONFIG_ENGLISH;
    DialogBoxParamW(g_hModule, MAKEINTRESOURCEW(idTemplate), nullptr, ConfigDialogProc, 0);
    trace.End();
}

void CGenericTSPIManager::CheckConnection() {
    CFuncTrace trace(2, L"CGenericTSPIManager::CheckConnection");
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    SetDlgItemTextW(g_hDlg, IDC_LOGIN_STATE, Localized(L"Check connection...", L"Teste Verbindung..."));
    // The dialog does not paint while the login runs; show the text now.
    UpdateWindow(GetDlgItem(g_hDlg, IDC_LOGIN_STATE));

    // The account as entered, for this process's login only: the shared
    // record gets it when OK saves it.
    wchar_t szName[kCredentialBuffer] = {};
    wchar_t szPassword[kCredentialBuffer] = {};
    GetDlgItemTextW(g_hDlg, IDC_USERNAME, szName, kCredentialBuffer);
    GetDlgItemTextW(g_hDlg, IDC_PASSWORD, szPassword, kCredentialBuffer);
    SetCredentials(szName, szPassword);
    WipeSecret(szPassword);
    // The user asks: a login is sent even where the PBX refused these before.
    AllowLoginAgain();

    PrepareProxySettings(g_sBaseURL.c_str(), kProxyDetectionLimitMs);
    bool bLoggedIn = Login() != 0;
    trace.Var(L"bLoggedIn", L"%d", bLoggedIn ? 1 : 0);
    if (g_sBaseURL.empty())
        SetLastLoginState(InvalidApiBaseUrlText());
    else if (bLoggedIn)
        SetLastLoginState(LoginSuccessfulText());
    else
        SetLastLoginState(LoginHeldBack() ? CredentialsRefusedText() : LoginFailedText());
    ShowLastLoginState();
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    trace.End();
}

void CGenericTSPIManager::ShowLastLoginState() {
    SetDlgItemTextW(g_hDlg, IDC_LOGIN_STATE, ReadLastLoginState().c_str());
}
