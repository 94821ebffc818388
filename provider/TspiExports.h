// The exported TAPI service-provider functions, as tapisrv calls them.
#pragma once

#include <windows.h>

#include "model/TapiDefs.h"

#define TSPIAPI WINAPI

extern "C" {

// Provider lifecycle and versions.
LONG TSPIAPI TSPI_lineNegotiateTSPIVersion(DWORD dwDeviceID, DWORD dwLowVersion, DWORD dwHighVersion,
                                           LPDWORD lpdwTSPIVersion);
LONG TSPIAPI TSPI_providerEnumDevices(DWORD dwPermanentProviderID, LPDWORD lpdwNumLines, LPDWORD lpdwNumPhones,
                                      HPROVIDER hProvider, LINEEVENT lpfnLineCreateProc,
                                      PHONEEVENT lpfnPhoneCreateProc);
LONG TSPIAPI TSPI_providerInit(DWORD dwTSPIVersion, DWORD dwPermanentProviderID, DWORD dwLineDeviceIDBase,
                               DWORD dwPhoneDeviceIDBase, DWORD_PTR dwNumLines, DWORD_PTR dwNumPhones,
                               ASYNC_COMPLETION lpfnCompletionProc, LPDWORD lpdwTSPIOptions);
LONG TSPIAPI TSPI_providerShutdown(DWORD dwTSPIVersion, DWORD dwPermanentProviderID);
LONG TSPIAPI TSPI_providerUIIdentify(LPWSTR lpszUIDLLName);
LONG TSPIAPI TSPI_lineNegotiateExtVersion(DWORD dwDeviceID, DWORD dwTSPIVersion, DWORD dwLowVersion,
                                          DWORD dwHighVersion, LPDWORD lpdwExtVersion);
LONG TSPIAPI TSPI_lineSelectExtVersion(HDRVLINE hdLine, DWORD dwExtVersion);
LONG TSPIAPI TSPI_phoneNegotiateTSPIVersion(DWORD dwDeviceID, DWORD dwLowVersion, DWORD dwHighVersion,
                                            LPDWORD lpdwTSPIVersion);
LONG TSPIAPI TSPI_phoneNegotiateExtVersion(DWORD dwDeviceID, DWORD dwTSPIVersion, DWORD dwLowVersion,
                                           DWORD dwHighVersion, LPDWORD lpdwExtVersion);
LONG TSPIAPI TSPI_phoneSelectExtVersion(HDRVPHONE hdPhone, DWORD dwExtVersion);
LONG TSPIAPI TSPI_providerCreateLineDevice(DWORD_PTR dwTempID, DWORD dwDeviceID);
LONG TSPIAPI TSPI_providerCreatePhoneDevice(DWORD_PTR dwTempID, DWORD dwDeviceID);
LONG TSPIAPI TSPI_providerConfig(HWND hwndOwner, DWORD dwPermanentProviderID);
LONG TSPIAPI TSPI_providerInstall(HWND hwndOwner, DWORD dwPermanentProviderID);
LONG TSPIAPI TSPI_providerRemove(HWND hwndOwner, DWORD dwPermanentProviderID);
LONG TSPIAPI TSPI_providerFreeDialogInstance(HDRVDIALOGINSTANCE hdDlgInst);
LONG TSPIAPI TSPI_providerGenericDialogData(DWORD_PTR dwObjectID, DWORD dwObjectType, LPVOID lpParams, DWORD dwSize);

// Line devices.
LONG TSPIAPI TSPI_lineOpen(DWORD dwDeviceID, HTAPILINE htLine, HDRVLINE* lphdLine, DWORD dwTSPIVersion,
                           LINEEVENT lpfnEventProc);
LONG TSPIAPI TSPI_lineClose(HDRVLINE hdLine);
LONG TSPIAPI TSPI_lineGetDevCaps(DWORD dwDeviceID, DWORD dwTSPIVersion, DWORD dwExtVersion, LINEDEVCAPS* lpLineDevCaps);
LONG TSPIAPI TSPI_lineGetAddressCaps(DWORD dwDeviceID, DWORD dwAddressID, DWORD dwTSPIVersion, DWORD dwExtVersion,
                                     LINEADDRESSCAPS* lpAddressCaps);
LONG TSPIAPI TSPI_lineGetAddressStatus(HDRVLINE hdLine, DWORD dwAddressID, LINEADDRESSSTATUS* lpAddressStatus);
LONG TSPIAPI TSPI_lineGetLineDevStatus(HDRVLINE hdLine, LINEDEVSTATUS* lpLineDevStatus);
LONG TSPIAPI TSPI_lineGetAddressID(HDRVLINE hdLine, LPDWORD lpdwAddressID, DWORD dwAddressMode, LPCWSTR lpsAddress,
                                   DWORD dwSize);
LONG TSPIAPI TSPI_lineGetNumAddressIDs(HDRVLINE hdLine, LPDWORD lpdwNumAddressIDs);
LONG TSPIAPI TSPI_lineGetExtensionID(DWORD dwDeviceID, DWORD dwTSPIVersion, LINEEXTENSIONID* lpExtensionID);
LONG TSPIAPI TSPI_lineGetIcon(DWORD dwDeviceID, LPCWSTR lpszDeviceClass, HICON* lphIcon);
LONG TSPIAPI TSPI_lineGetID(HDRVLINE hdLine, DWORD dwAddressID, HDRVCALL hdCall, DWORD dwSelect, VARSTRING* lpDeviceID,
                            LPCWSTR lpszDeviceClass, HANDLE hTargetProcess);
LONG TSPIAPI TSPI_lineSetStatusMessages(HDRVLINE hdLine, DWORD dwLineStates, DWORD dwAddressStates);
LONG TSPIAPI TSPI_lineSetDefaultMediaDetection(HDRVLINE hdLine, DWORD dwMediaModes);
LONG TSPIAPI TSPI_lineConditionalMediaDetection(HDRVLINE hdLine, DWORD dwMediaModes, const LINECALLPARAMS* lpCallParams);
LONG TSPIAPI TSPI_lineMonitorDigits(HDRVCALL hdCall, DWORD dwDigitModes);
LONG TSPIAPI TSPI_lineDevSpecificFeature(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD dwFeature, LPVOID lpParams,
                                         DWORD dwSize);
LONG TSPIAPI TSPI_lineGetDevConfig(DWORD dwDeviceID, VARSTRING* lpDeviceConfig, LPCWSTR lpszDeviceClass);
LONG TSPIAPI TSPI_lineSetDevConfig(DWORD dwDeviceID, LPVOID const lpDeviceConfig, DWORD dwSize, LPCWSTR lpszDeviceClass);
LONG TSPIAPI TSPI_lineSetLineDevStatus(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD dwStatusToChange, DWORD fStatus);
LONG TSPIAPI TSPI_lineSetTerminal(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD dwAddressID, HDRVCALL hdCall,
                                  DWORD dwSelect, DWORD dwTerminalModes, DWORD dwTerminalID, DWORD bEnable);
LONG TSPIAPI TSPI_lineDevSpecific(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD dwAddressID, HDRVCALL hdCall,
                                  LPVOID lpParams, DWORD dwSize);
LONG TSPIAPI TSPI_lineSetMediaControl(HDRVLINE hdLine, DWORD dwAddressID, HDRVCALL hdCall, DWORD dwSelect,
                                      LPVOID const lpDigitList, DWORD dwDigitNumEntries, LPVOID const lpMediaList,
                                      DWORD dwMediaNumEntries, LPVOID const lpToneList, DWORD dwToneNumEntries,
                                      LPVOID const lpCallStateList, DWORD dwCallStateNumEntries);
LONG TSPIAPI TSPI_lineMonitorMedia(HDRVCALL hdCall, DWORD dwMediaModes);
LONG TSPIAPI TSPI_lineMonitorTones(HDRVCALL hdCall, DWORD dwToneListID, LPVOID const lpToneList, DWORD dwNumEntries);

// Calls: placing and dropping through the PBX, closing, information and status;
// every other call operation checks and refuses.
LONG TSPIAPI TSPI_lineMakeCall(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, HTAPICALL htCall, HDRVCALL* lphdCall,
                               LPCWSTR lpszDestAddress, DWORD dwCountryCode, const LINECALLPARAMS* lpCallParams);
LONG TSPIAPI TSPI_lineDrop(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG TSPIAPI TSPI_lineCloseCall(HDRVCALL hdCall);
LONG TSPIAPI TSPI_lineGetCallInfo(HDRVCALL hdCall, LINECALLINFO* lpCallInfo);
LONG TSPIAPI TSPI_lineGetCallStatus(HDRVCALL hdCall, LINECALLSTATUS* lpCallStatus);
LONG TSPIAPI TSPI_lineGetCallAddressID(HDRVCALL hdCall, LPDWORD lpdwAddressID);
LONG TSPIAPI TSPI_lineSetAppSpecific(HDRVCALL hdCall, DWORD dwAppSpecific);
LONG TSPIAPI TSPI_lineAccept(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG TSPIAPI TSPI_lineAnswer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG TSPIAPI TSPI_lineDial(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode);
LONG TSPIAPI TSPI_lineHold(DRV_REQUESTID dwRequestID, HDRVCALL hdCall);
LONG TSPIAPI TSPI_lineUnhold(DRV_REQUESTID dwRequestID, HDRVCALL hdCall);
LONG TSPIAPI TSPI_lineSwapHold(DRV_REQUESTID dwRequestID, HDRVCALL hdActiveCall, HDRVCALL hdHeldCall);
LONG TSPIAPI TSPI_lineGenerateDigits(HDRVCALL hdCall, DWORD dwEndToEndID, DWORD dwDigitMode, LPCWSTR lpszDigits,
                                     DWORD dwDuration);
LONG TSPIAPI TSPI_lineGatherDigits(HDRVCALL hdCall, DWORD dwEndToEndID, DWORD dwDigitModes, LPWSTR lpsDigits,
                                   DWORD dwNumDigits, LPCWSTR lpszTerminationDigits, DWORD dwFirstDigitTimeout,
                                   DWORD dwInterDigitTimeout);
LONG TSPIAPI TSPI_lineGenerateTone(HDRVCALL hdCall, DWORD dwEndToEndID, DWORD dwToneMode, DWORD dwDuration,
                                   DWORD dwNumTones, LPVOID const lpTones);
LONG TSPIAPI TSPI_lineSetCallData(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPVOID lpCallData, DWORD dwSize);
LONG TSPIAPI TSPI_lineSetCallParams(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, DWORD dwBearerMode, DWORD dwMinRate,
                                    DWORD dwMaxRate, const LINEDIALPARAMS* lpDialParams);
LONG TSPIAPI TSPI_lineSetCallQualityOfService(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPVOID lpSendingFlowspec,
                                              DWORD dwSendingFlowspecSize, LPVOID lpReceivingFlowspec,
                                              DWORD dwReceivingFlowspecSize);
LONG TSPIAPI TSPI_lineSetCallTreatment(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, DWORD dwTreatment);
LONG TSPIAPI TSPI_lineSetMediaMode(HDRVCALL hdCall, DWORD dwMediaMode);
LONG TSPIAPI TSPI_lineSecureCall(DRV_REQUESTID dwRequestID, HDRVCALL hdCall);
LONG TSPIAPI TSPI_lineSendUserUserInfo(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG TSPIAPI TSPI_lineReleaseUserUserInfo(DRV_REQUESTID dwRequestID, HDRVCALL hdCall);

// Transfer, conference, pickup, park, forwarding and call completion: every one refuses.
LONG TSPIAPI TSPI_lineSetupTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, HTAPICALL htConsultCall,
                                    HDRVCALL* lphdConsultCall, const LINECALLPARAMS* lpCallParams);
LONG TSPIAPI TSPI_lineCompleteTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, HDRVCALL hdConsultCall,
                                       HTAPICALL htConfCall, HDRVCALL* lphdConfCall, DWORD dwTransferMode);
LONG TSPIAPI TSPI_lineBlindTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress,
                                    DWORD dwCountryCode);
LONG TSPIAPI TSPI_lineRedirect(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode);
LONG TSPIAPI TSPI_lineSetupConference(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, HDRVLINE hdLine, HTAPICALL htConfCall,
                                      HDRVCALL* lphdConfCall, HTAPICALL htConsultCall, HDRVCALL* lphdConsultCall,
                                      DWORD dwNumParties, const LINECALLPARAMS* lpCallParams);
LONG TSPIAPI TSPI_linePrepareAddToConference(DRV_REQUESTID dwRequestID, HDRVCALL hdConfCall, HTAPICALL htConsultCall,
                                             HDRVCALL* lphdConsultCall, const LINECALLPARAMS* lpCallParams);
LONG TSPIAPI TSPI_lineAddToConference(DRV_REQUESTID dwRequestID, HDRVCALL hdConfCall, HDRVCALL hdConsultCall);
LONG TSPIAPI TSPI_lineRemoveFromConference(DRV_REQUESTID dwRequestID, HDRVCALL hdCall);
LONG TSPIAPI TSPI_linePickup(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD dwAddressID, HTAPICALL htCall,
                             HDRVCALL* lphdCall, LPCWSTR lpszDestAddress, LPCWSTR lpszGroupID);
// lpForwardList is a LINEFORWARDLIST; only its entry count is read.
LONG TSPIAPI TSPI_lineForward(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD bAllAddresses, DWORD dwAddressID,
                              LPVOID const lpForwardList, DWORD dwNumRingsNoAnswer, HTAPICALL htConsultCall,
                              HDRVCALL* lphdConsultCall, const LINECALLPARAMS* lpCallParams);
LONG TSPIAPI TSPI_lineCompleteCall(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPDWORD lpdwCompletionID,
                                   DWORD dwCompletionMode, DWORD dwMessageID);
LONG TSPIAPI TSPI_lineUncompleteCall(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD dwCompletionID);
LONG TSPIAPI TSPI_linePark(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, DWORD dwParkMode, LPCWSTR lpszDirAddress,
                           VARSTRING* lpNonDirAddress);
LONG TSPIAPI TSPI_lineUnpark(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD dwAddressID, HTAPICALL htCall,
                             HDRVCALL* lphdCall, LPCWSTR lpszDestAddress);

// Phone devices: every one refuses. Records the provider never reads are plain pointers.
LONG TSPIAPI TSPI_phoneClose(HDRVPHONE hdPhone);
LONG TSPIAPI TSPI_phoneDevSpecific(DRV_REQUESTID dwRequestID, HDRVPHONE hdPhone, LPVOID lpParams, DWORD dwSize);
LONG TSPIAPI TSPI_phoneGetButtonInfo(HDRVPHONE hdPhone, DWORD dwButtonLampID, LPVOID lpButtonInfo);
LONG TSPIAPI TSPI_phoneGetData(HDRVPHONE hdPhone, DWORD dwDataID, LPVOID lpData, DWORD dwSize);
LONG TSPIAPI TSPI_phoneGetDevCaps(DWORD dwDeviceID, DWORD dwTSPIVersion, DWORD dwExtVersion, LPVOID lpPhoneCaps);
LONG TSPIAPI TSPI_phoneGetDisplay(HDRVPHONE hdPhone, VARSTRING* lpDisplay);
LONG TSPIAPI TSPI_phoneGetExtensionID(DWORD dwDeviceID, DWORD dwTSPIVersion, LPVOID lpExtensionID);
LONG TSPIAPI TSPI_phoneGetGain(HDRVPHONE hdPhone, DWORD dwHookSwitchDev, LPDWORD lpdwGain);
LONG TSPIAPI TSPI_phoneGetHookSwitch(HDRVPHONE hdPhone, LPDWORD lpdwHookSwitchDevs);
LONG TSPIAPI TSPI_phoneGetID(HDRVPHONE hdPhone, VARSTRING* lpDeviceID, LPCWSTR lpszDeviceClass,
                             HANDLE hTargetProcess);
LONG TSPIAPI TSPI_phoneGetIcon(DWORD dwDeviceID, LPCWSTR lpszDeviceClass, HICON* lphIcon);
LONG TSPIAPI TSPI_phoneGetLamp(HDRVPHONE hdPhone, DWORD dwButtonLampID, LPDWORD lpdwLampMode);
LONG TSPIAPI TSPI_phoneGetRing(HDRVPHONE hdPhone, LPDWORD lpdwRingMode, LPDWORD lpdwVolume);
LONG TSPIAPI TSPI_phoneGetStatus(HDRVPHONE hdPhone, LPVOID lpPhoneStatus);
LONG TSPIAPI TSPI_phoneGetVolume(HDRVPHONE hdPhone, DWORD dwHookSwitchDev, LPDWORD lpdwVolume);
LONG TSPIAPI TSPI_phoneOpen(DWORD dwDeviceID, HTAPIPHONE htPhone, HDRVPHONE* lphdPhone, DWORD dwTSPIVersion,
                            PHONEEVENT lpfnEventProc);
LONG TSPIAPI TSPI_phoneSetButtonInfo(DRV_REQUESTID dwRequestID, HDRVPHONE hdPhone, DWORD dwButtonLampID,
                                     LPVOID lpButtonInfo);
LONG TSPIAPI TSPI_phoneSetData(DRV_REQUESTID dwRequestID, HDRVPHONE hdPhone, DWORD dwDataID, LPVOID lpData,
                               DWORD dwSize);
LONG TSPIAPI TSPI_phoneSetDisplay(DRV_REQUESTID dwRequestID, HDRVPHONE hdPhone, DWORD dwRow, DWORD dwColumn,
                                  LPCWSTR lpsDisplay, DWORD dwSize);
LONG TSPIAPI TSPI_phoneSetGain(DRV_REQUESTID dwRequestID, HDRVPHONE hdPhone, DWORD dwHookSwitchDev, DWORD dwGain);
LONG TSPIAPI TSPI_phoneSetHookSwitch(DRV_REQUESTID dwRequestID, HDRVPHONE hdPhone, DWORD dwHookSwitchDevs,
                                     DWORD dwHookSwitchMode);
LONG TSPIAPI TSPI_phoneSetLamp(DRV_REQUESTID dwRequestID, HDRVPHONE hdPhone, DWORD dwButtonLampID, DWORD dwLampMode);
LONG TSPIAPI TSPI_phoneSetRing(DRV_REQUESTID dwRequestID, HDRVPHONE hdPhone, DWORD dwRingMode, DWORD dwVolume);
LONG TSPIAPI TSPI_phoneSetStatusMessages(HDRVPHONE hdPhone, DWORD dwPhoneStates, DWORD dwButtonModes,
                                         DWORD dwButtonStates);
LONG TSPIAPI TSPI_phoneSetVolume(DRV_REQUESTID dwRequestID, HDRVPHONE hdPhone, DWORD dwHookSwitchDev,
                                 DWORD dwVolume);

// The user-interface half: configuration, installation and removal.
LONG TSPIAPI TUISPI_lineConfigDialog(TUISPIDLLCALLBACK lpfnUIDLLCallback, DWORD dwDeviceID, HWND hwndOwner,
                                     LPCWSTR lpszDeviceClass);
LONG TSPIAPI TUISPI_providerConfig(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner, DWORD dwPermanentProviderID);
LONG TSPIAPI TUISPI_lineConfigDialogEdit(TUISPIDLLCALLBACK lpfnUIDLLCallback, DWORD dwDeviceID, HWND hwndOwner,
                                         LPCWSTR lpszDeviceClass, LPVOID const lpDeviceConfigIn, DWORD dwSize,
                                         VARSTRING* lpDeviceConfigOut);
LONG TSPIAPI TUISPI_providerGenericDialog(TUISPIDLLCALLBACK lpfnUIDLLCallback, HTAPIDIALOGINSTANCE htDlgInst,
                                          LPVOID lpParams, DWORD dwSize, HANDLE hEvent);
LONG TSPIAPI TUISPI_providerGenericDialogData(HTAPIDIALOGINSTANCE htDlgInst, LPVOID lpParams, DWORD dwSize);
LONG TSPIAPI TUISPI_providerInstall(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner,
                                    DWORD dwPermanentProviderID);
LONG TSPIAPI TUISPI_providerRemove(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner, DWORD dwPermanentProviderID);
// For installers: 1 when the host does not run from the system folder.
LONG TSPIAPI TUISPI_DllInstall(DWORD dwParam);
LONG TSPIAPI TUISPI_DllRemove(DWORD dwParam);
LONG TSPIAPI TUISPI_DllUpdate(DWORD dwParam);
LONG TSPIAPI TUISPI_providerSetInitialData(LPCWSTR pszParams);

}  // extern "C"
