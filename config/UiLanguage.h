// Texts the user sees in German on a German (Germany) interface, else in English.
#pragma once

#include <windows.h>

constexpr LANGID kGermanUiLanguage = 1031;

inline const wchar_t* Localized(const wchar_t* pszEnglish, const wchar_t* pszGerman) {
    return GetUserDefaultUILanguage() == kGermanUiLanguage ? pszGerman : pszEnglish;
}

// The login states recorded in "LastLoginState" and shown by the dialog.
inline const wchar_t* LoginSuccessfulText() { return Localized(L"Login successful", L"Anmelden erfolgreich"); }
inline const wchar_t* LoginFailedText() { return Localized(L"Login failed", L"Anmelden fehlgeschlagen"); }
// The PBX refused the credentials (401 or 403): no login is tried until they are set again.
inline const wchar_t* CredentialsRefusedText() {
    return Localized(L"User name or password wrong", L"Benutzername oder Passwort falsch");
}
inline const wchar_t* NoDevicesText() {
    return Localized(L"No TAPI devices present", L"Keine TAPI Leitungen vorhanden");
}
// "ApiBaseUrl" is too long or no http(s) URL: the provider sends nothing.
inline const wchar_t* InvalidApiBaseUrlText() {
    return Localized(L"Invalid API base URL", L"Ung\u00fcltige API-Basis-URL");
}
// The dialog's OK could not write the settings key.
inline const wchar_t* SettingsNotSavedText() {
    return Localized(L"Settings could not be saved: administrator rights are needed",
                     L"Die Einstellungen konnten nicht gespeichert werden: Administratorrechte sind erforderlich");
}
// Added to the login state when the process writes no log file (its log
// folder was refused or could not be made).
inline const wchar_t* NoLogFileText() {
    return Localized(L" (no log file: the log folder cannot be used safely)",
                     L" (keine Logdatei: der Log-Ordner kann nicht sicher verwendet werden)");
}
// The dialog's user name when this account may not read the stored one.
inline const wchar_t* UnknownUserNameText() { return Localized(L"(unknown)", L"(unbekannt)"); }
