// Resource identifiers of ORVOTSP.TSP, shared by the resource script and the code.
#pragma once

// Configuration dialog templates, chosen by the user's interface language.
#define IDD_CONFIG_GERMAN 102
#define IDD_CONFIG_ENGLISH 103

// Icons: the phone (dialog and lines) and the product mark.
#define IDI_PHONE 202
#define IDI_TM 203

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Controls of the configuration dialog. The buttons 1, 2 and 3 are IDOK,
// IDCANCEL and the connection test.
#define IDC_CHECK_CONNECTION 3
#define IDC_VERSION 1016
#define IDC_VERSION_LABEL 1017
#define IDC_COPYRIGHT 1018
#define IDC_USERNAME_LABEL 1019
#define IDC_PASSWORD_LABEL 1021
#define IDC_OPEN_LOG 1022
#define IDC_NUMBER_INTERNATIONAL 1023
#define IDC_NUMBER_INTERNATIONAL_NO_PLUS 1024
#define IDC_NUMBER_PHONE_BOOK 1025
#define IDC_NUMBER_PHONE_BOOK_INTERNATIONAL 1026
#define IDC_PASSWORD 1027
#define IDC_LINE_EXTENSION 1028
#define IDC_LINE_USER 1029
#define IDC_LINE_EXTENSION_USER 1030
#define IDC_EXAMPLE_INTERNATIONAL 1031
#define IDC_USERNAME 1032
#define IDC_EXAMPLE_INTERNATIONAL_NO_PLUS 1033
#define IDC_LOGIN_STATE 1034
#define IDC_DEBUG_LOG 1035
#define IDC_EXAMPLE_PHONE_BOOK 1036
#define IDC_EXAMPLE_PHONE_BOOK_INTERNATIONAL 1037
