// The PBX simulator (tools/pbxsim) for tests: started on a free loopback port
// for the life of the object, with a small client of its control interface.
//   PbxSim sim;
//   ASSERT_TRUE(sim.Start()) << sim.Error();
//   sim.AddFault(L"{\"path\":\"/v1/login\",\"drop\":true}");
//   ... sim.Requests() ...
// The simulator runs as a Linux program next to the Wine process (see
// pbxsim_launch.py), found through ORVO_SOURCE_DIR; ORVO_PYTHON names the
// interpreter (default /usr/bin/python3).
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/TestFiles.h"

struct PbxSimOptions {
    bool bHttps = false;          // HTTPS with a generated self-signed "localhost" certificate
    bool bChunked = false;        // event stream in chunked encoding
    std::wstring sAccountFile;    // Windows path of an account file; empty: the demo account
    std::vector<std::wstring> extraArgs;
};

// One request as the simulator received it.
struct SimRequest {
    std::wstring sMethod;
    std::wstring sPath;
    std::vector<std::pair<std::wstring, std::wstring>> headers;  // in arrival order
    std::string body;       // the bytes as sent
    int nStatus = 0;        // 0 when no answer was sent
    bool bFault = false;

    // Values of every header of that name (case-insensitive), in order.
    std::vector<std::wstring> HeaderValues(const wchar_t* pszName) const;
};

struct SimReply {
    DWORD dwStatus = 0;     // 0: no answer
    std::wstring sBody;
};

class PbxSim {
public:
    PbxSim() = default;
    ~PbxSim();
    PbxSim(const PbxSim&) = delete;
    PbxSim& operator=(const PbxSim&) = delete;

    bool Start(const PbxSimOptions& options = {});
    // Ends the simulator; also done by the destructor.
    void Stop();
    const std::wstring& Error() const { return m_error; }

    WORD Port() const { return m_wPort; }
    bool Https() const { return m_options.bHttps; }
    // "http://127.0.0.1:<port>"; HTTPS uses "localhost", the name its certificate is for.
    std::wstring BaseUrl() const;
    // BaseUrl() + "/v1", where the PBX's REST paths are.
    std::wstring ApiBaseUrl() const { return BaseUrl() + L"/v1"; }
    // The HTTPS certificate (DER); empty for HTTP.
    const std::string& CertificateDer() const { return m_certificateDer; }

    // A control request ("/_control/<name>") with an optional JSON body.
    SimReply Control(const wchar_t* pszVerb, const wchar_t* pszName, const std::wstring& jsonBody = L"") const;
    // Adds a fault (JSON object as the control interface takes it).
    bool AddFault(const std::wstring& faultJson) const;
    bool ClearFaults() const;
    std::vector<SimRequest> Requests() const;
    bool ClearRequests() const;

private:
    PbxSimOptions m_options;
    UINT_PTR m_link = ~static_cast<UINT_PTR>(0);  // socket to the launcher; closing it ends the simulator
    WORD m_wPort = 0;
    std::wstring m_error;
    std::unique_ptr<CTempDir> m_certDir;
    std::string m_certificateDer;
};

// JSON string literal of a text, for building control bodies.
std::wstring JsonQuote(const std::wstring& text);
