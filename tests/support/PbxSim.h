// The PBX simulator (tools/pbxsim) for tests, for the life of the object, with
// a client of its control interface. It runs as a Linux program beside Wine
// (tools/pbxsim in ORVO_SOURCE_DIR, run by ORVO_PYTHON or /usr/bin/python3),
// connected back to the test (--report-to).
// A test program keeps the simulators its tests are done with: a start with
// the same options and account takes one back, reset to its state after
// start, instead of starting a Python program from Wine once more.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/TestFiles.h"

struct PbxSimOptions {
    bool bHttps = false;        // HTTPS with a generated self-signed "localhost" certificate
    std::wstring sAccountFile;  // Windows path of an account file; empty: the demo account
};

// One request as the simulator received it.
struct SimRequest {
    std::wstring sMethod;
    std::wstring sPath;
    std::wstring sTarget;    // the request target as sent: the path, or the whole URL through a proxy
    bool bProxied = false;   // sent in absolute form, as to a proxy
    std::vector<std::pair<std::wstring, std::wstring>> headers;  // in arrival order
    std::string body;  // the bytes as sent
    int nStatus = 0;   // 0 when no answer was sent

    // Values of every header of that name (case-insensitive), in order.
    std::vector<std::wstring> HeaderValues(const wchar_t* pszName) const;
};

struct SimReply {
    DWORD dwStatus = 0;  // 0: no answer
    std::wstring sBody;
};

class PbxSim {
public:
    PbxSim() = default;
    ~PbxSim();
    PbxSim(const PbxSim&) = delete;
    PbxSim& operator=(const PbxSim&) = delete;

    bool Start(const PbxSimOptions& options = {});
    const std::wstring& Error() const { return m_error; }
    // HTTPS uses "localhost", the name its certificate is for.
    std::wstring BaseUrl() const;
    std::wstring ApiBaseUrl() const { return BaseUrl() + L"/v1"; }
    // The HTTPS certificate (DER); empty for HTTP.
    const std::string& CertificateDer() const { return m_certificateDer; }

    // A control request ("/_control/<name>") with an optional JSON body.
    SimReply Control(const wchar_t* pszVerb, const wchar_t* pszName, const std::wstring& jsonBody = L"") const;
    // Adds a fault (JSON object as the control interface takes it).
    bool AddFault(const std::wstring& faultJson) const { return Control(L"POST", L"faults", faultJson).dwStatus == 200; }
    bool ClearFaults() const { return Control(L"DELETE", L"faults").dwStatus == 200; }
    bool ClearRequests() const { return Control(L"DELETE", L"requests").dwStatus == 200; }
    std::vector<SimRequest> Requests() const;
    // Those of one method (null: any) and path (empty: any).
    std::vector<SimRequest> Requests(const wchar_t* pszMethod, const std::wstring& path = L"") const;

private:
    bool TakeIdle();
    void Release();

    PbxSimOptions m_options;
    std::string m_account;  // the account file's bytes: what a kept simulator must match
    UINT_PTR m_link = ~static_cast<UINT_PTR>(0);  // the simulator's connection; closing it ends the simulator
    WORD m_wPort = 0;
    std::wstring m_error;
    std::unique_ptr<CTempDir> m_certDir;
    std::string m_certificateDer;
};

// JSON string literal of a text, for building control bodies.
std::wstring JsonQuote(const std::wstring& text);
