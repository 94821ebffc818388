// The operation table every provider manager offers, with its defaults. The
// slots keep their order (unnamed ones included) so that the named operations
// keep their places; nothing calls the unnamed ones.
#pragma once

#include <windows.h>

struct PhoneLine;
struct PhoneCall;

class CTspiManager {
public:
    CTspiManager();
    virtual ~CTspiManager();                                               // slot 0
    CTspiManager(const CTspiManager&) = delete;
    CTspiManager& operator=(const CTspiManager&) = delete;

    virtual DWORD Reserved1() { return 1; }                                // slot 1
    virtual void AttachInstance() {}                                       // slot 2
    virtual void InitResource() {}                                         // slot 3
    virtual void ShowInfoDialog(HWND hwndOwner) = 0;                       // slot 4
    virtual const wchar_t* GetFirstAddress(DWORD dwDeviceIndex) = 0;       // slot 5
    virtual const wchar_t* GetFirstName(DWORD dwDeviceIndex) = 0;          // slot 6
    virtual const wchar_t* GetFirstDeviceNumber(DWORD dwDeviceIndex) = 0;  // slot 7
    virtual DWORD Reserved8(DWORD) { return 0; }
    virtual DWORD Reserved9(DWORD) { return 0; }
    virtual void Reserved10(DWORD) {}
    virtual DWORD Reserved11(void*) { return 1; }

    // Line requests, slots 12 to 32. Only 16, 20, 24 and 25 are used.
    virtual LONG LineRequest12(void*, DWORD);
    virtual LONG LineRequest13(void*, void*, DWORD);
    virtual LONG LineRequest14(void*, DWORD);
    virtual LONG LineRequest15(void*, DWORD, void*);
    virtual LONG LineClose(PhoneLine* pLine);                              // slot 16
    virtual LONG LineRequest17(void*, void*, DWORD);
    virtual LONG LineRequest18(void*, DWORD, DWORD);
    virtual LONG LineRequest19(void*, DWORD, void*);
    virtual LONG LineDrop(PhoneCall* pCall, DWORD dwRequestID);            // slot 20
    virtual LONG LineRequest21(void*, DWORD, void*);
    virtual LONG LineRequest22(void*, DWORD, DWORD);
    virtual LONG LineRequest23(void*, DWORD);
    virtual LONG LineMakeCall(PhoneLine* pLine, DWORD dwRequestID, const wchar_t* pszDestination);  // slot 24
    virtual LONG LineOpen(PhoneLine* pLine);                               // slot 25
    virtual LONG LineRequest26(void*, DWORD, void*);
    virtual LONG LineRequest27(void*, void*, DWORD);
    virtual LONG LineRequest28(void*, DWORD, void*);
    virtual LONG LineRequest29(void*, DWORD);
    virtual LONG LineRequest30(void*, DWORD);
    virtual LONG LineRequest31(void*, DWORD);
    virtual LONG LineRequest32(void*, void*, DWORD);

    virtual void ProviderInit() = 0;                                       // slot 33
    virtual void ProviderInit2() = 0;                                      // slot 34
    virtual void ProviderInstall() = 0;                                    // slot 35
    virtual void ProviderRemove() = 0;                                     // slot 36
    virtual void ProviderShutdown() = 0;                                   // slot 37
    virtual void Reserved38(void*) {}
    virtual DWORD Reserved39(void*, DWORD) { return 0; }
    virtual void UpdateTSPFile() {}                                        // slot 40
    virtual void AfterProviderRemove() {}                                  // slot 41

    // Hands an asynchronous request's outcome to TAPI (from the delayed-reply thread).
    void SendReply(DWORD dwRequestID, LONG lResult);
};
