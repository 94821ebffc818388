// The name and numbers a line record gets when it is built.
#include "manager/CGenericTSPIManager.h"

const wchar_t* CGenericTSPIManager::GetFirstAddress(DWORD) { return L""; }

const wchar_t* CGenericTSPIManager::GetFirstDeviceNumber(DWORD) { return L""; }

const wchar_t* CGenericTSPIManager::GetFirstName(DWORD) { return L""; }
