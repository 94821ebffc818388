#include "http/WinHttpErrorName.h"

#include "common/BoundedString.h"

namespace {

struct NamedCode {
    DWORD dwCode;
    const wchar_t* pszName;
};

// Two names carry a leading underscore; the exchange files have always shown them so.
constexpr NamedCode WinHttpNames[] = {
    {12001, L"OUT_OF_HANDLES"}, {12002, L"TIMEOUT"}, {12004, L"INTERNAL_ERROR"},
    {12005, L"INVALID_URL"}, {12006, L"UNRECOGNIZED_SCHEME"}, {12007, L"NAME_NOT_RESOLVED"},
    {12009, L"INVALID_OPTION"}, {12011, L"OPTION_NOT_SETTABLE"}, {12012, L"SHUTDOWN"},
    {12015, L"LOGIN_FAILURE"}, {12017, L"OPERATION_CANCELLED"}, {12018, L"INCORRECT_HANDLE_TYPE"},
    {12019, L"INCORRECT_HANDLE_STATE"}, {12029, L"CANNOT_CONNECT"}, {12030, L"CONNECTION_ERROR"},
    {12032, L"RESEND_REQUEST"}, {12037, L"SECURE_CERT_DATE_INVALID"}, {12038, L"SECURE_CERT_CN_INVALID"},
    {12044, L"CLIENT_AUTH_CERT_NEEDED"}, {12045, L"SECURE_INVALID_CA"}, {12057, L"SECURE_CERT_REV_FAILED"},
    {12100, L"CANNOT_CALL_BEFORE_OPEN"}, {12101, L"CANNOT_CALL_BEFORE_SEND"},
    {12102, L"CANNOT_CALL_AFTER_SEND"}, {12103, L"CANNOT_CALL_AFTER_OPEN"},
    {12150, L"HEADER_NOT_FOUND"}, {12152, L"INVALID_SERVER_RESPONSE"}, {12153, L"INVALID_HEADER"},
    {12154, L"INVALID_QUERY_REQUEST"}, {12155, L"HEADER_ALREADY_EXISTS"}, {12156, L"REDIRECT_FAILED"},
    {12157, L"_SECURE_CHANNEL_ERROR"}, {12166, L"BAD_AUTO_PROXY_SCRIPT"},
    {12167, L"UNABLE_TO_DOWNLOAD_SCRIPT"}, {12169, L"SECURE_INVALID_CERT"}, {12170, L"SECURE_CERT_REVOKED"},
    {12172, L"NOT_INITIALIZED"}, {12175, L"SECURE_FAILURE"}, {12178, L"AUTO_PROXY_SERVICE_ERROR"},
    {12179, L"SECURE_CERT_WRONG_USAGE"}, {12180, L"AUTODETECTION_FAILED"},
    {12181, L"HEADER_COUNT_EXCEEDED"}, {12182, L"HEADER_SIZE_OVERFLOW"},
    {12183, L"CHUNKED_ENCODING_HEADER_SIZE_OVERFLOW"}, {12184, L"_RESPONSE_DRAIN_OVERFLOW"},
    {12185, L"CLIENT_CERT_NO_PRIVATE_KEY"}, {12186, L"CLIENT_CERT_NO_ACCESS_PRIVATE_KEY"},
};

std::wstring SystemMessage(DWORD dwCode) {
    wchar_t szText[8192] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwCode, 0, szText,
                   8191, nullptr);
    std::wstring sText(szText);
    return sText.substr(0, sText.find_first_of(L"\r\n"));
}

}  // namespace

std::wstring WinHttpErrorName(DWORD dwCode) {
    if (dwCode == 0) dwCode = GetLastError();
    std::wstring sName;
    if (dwCode == 0) {
        sName = L"SUCCESS";
    } else {
        for (const NamedCode& named : WinHttpNames) {
            if (named.dwCode == dwCode) sName = named.pszName;
        }
        if (sName.empty()) sName = SystemMessage(dwCode);
    }
    SetLastError(dwCode);
    return sName;
}
