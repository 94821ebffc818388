// The built provider in a TAPI host against the PBX simulator: login, lines,
// calls both ways, re-initialisation by the dialog, and a prompt shutdown.
// ctest-lock: registry
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

#include <winhttp.h>
#include <winsock2.h>

#include "json/JsonEscape.h"
#include "support/ChildProcess.h"
#include "support/Permissions.h"
#include "support/ProviderRuntimeFixture.h"
#include "support/ProviderThreads.h"

namespace {

// Threads of this process that started in the module's code: the provider's own.
// Once the start's proxy detection, which runs beside it, has ended.
DWORD ProviderThreadCount(HMODULE hModule, DWORD dwExpected) {
    return SettledThreadsStartedIn(RangeOf(hModule), dwExpected);
}

class PbxRuntimeTest : public ProviderRuntimeFixture {
protected:
    // A call placed on the line to an outside number, connected, dropped and
    // gone idle; the make-call's request ID is dwRequestID and the drop's the next.
    void PlaceAndDropCall(DWORD dwLine, DWORD dwRequestID) {
        HDRVCALL hdCall = nullptr;
        ASSERT_EQ(m_host.MakeCall(dwRequestID, m_lines[dwLine], reinterpret_cast<HTAPICALL>(ULONG_PTR{dwRequestID}),
                                  &hdCall, L"0301234567"),
                  static_cast<LONG>(dwRequestID));
        ASSERT_EQ(WaitForCompletion(dwRequestID).lResult, 0);
        ASSERT_TRUE(WaitForState(dwLine, LINECALLSTATE_CONNECTED));
        ASSERT_EQ(m_host.Drop(dwRequestID + 1, hdCall), static_cast<LONG>(dwRequestID + 1));
        ASSERT_EQ(WaitForCompletion(dwRequestID + 1).lResult, 0);
        ASSERT_TRUE(WaitForState(dwLine, LINECALLSTATE_IDLE));
    }
};

TEST_F(PbxRuntimeTest, AccountWithoutExtensionsGivesNoLinesAndRecordsWhy) {
    m_sim.Control(L"POST", L"extensions", L"{\"extensions\":[]}");
    ASSERT_NO_FATAL_FAILURE(StartProvider(0));
    EXPECT_EQ(LastLoginState(), Localized(L"No TAPI devices present", L"Keine TAPI Leitungen vorhanden"));
}

// A start whose password was refused has no lines and no event monitor, and
// records why; its keep-alive thread does not try the refused password
// again, but carries out the dialog's re-initialisation with the account the
// dialog put in the shared record. (That a re-initialisation of a running
// provider doubles no thread, stream or event is the directory tests'.)
TEST_F(PbxRuntimeTest, WrongPasswordGivesNoLinesUntilTheDialogsReinitialization) {
    ASSERT_TRUE(WriteProtectedSetting(TestedProviderKey(), L"Password", L"wrong"));
    ASSERT_NO_FATAL_FAILURE(StartProvider(0));
    EXPECT_EQ(LastLoginState(), Localized(L"User name or password wrong", L"Benutzername oder Passwort falsch"));
    EXPECT_EQ(ProviderThreadCount(m_host.Module(), 2), 2u);  // keep-alive thread and network observer
    EXPECT_EQ(RequestsTo(L"POST", L"/v1/login").size(), 1u);
    EXPECT_TRUE(RequestsTo(L"GET", L"/v1/extensions/phone/calls").empty());

    CSharedSettingsView shared;
    ProviderSettings* pShared = shared.Get();
    ASSERT_NE(pShared, nullptr);
    m_sim.ClearRequests();
    wcscpy(pShared->Name, L"max.muster");
    wcscpy(pShared->Password, L"Max-Pass-1");
    pShared->ReinitRequested = 1;
    ASSERT_TRUE(WaitForRequests(L"GET", L"/v1/extensions/phone/data", 1));
    const std::vector<SimRequest> logins = RequestsTo(L"POST", L"/v1/login");
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].body, R"({"username":"max.muster", "password":"Max-Pass-1"})");
    EXPECT_EQ(logins[0].nStatus, 200);
    EXPECT_TRUE(WaitUntil([&] { return pShared->ReinitRequested == 0; }));
    // Event monitor, keep-alive thread, network observer.
    EXPECT_EQ(ProviderThreadCount(m_host.Module(), 3), 3u);
}

TEST_F(PbxRuntimeTest, MakeCallAndDropGoToThePbxAndCompleteAfterTheExportReturnedOrFailWhenRefused) {
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    // The callee answers after 1.5 s.
    HDRVCALL hdCall = nullptr;
    ASSERT_EQ(m_host.MakeCall(501, m_lines[0], reinterpret_cast<HTAPICALL>(0x501), &hdCall, L"0301234567"), 501);
    const auto returned = std::chrono::steady_clock::now();
    const HostEvent made = WaitForCompletion(501);
    EXPECT_EQ(made.lResult, 0);
    EXPECT_GT(made.time, returned) << "completed inside the export";
    const std::vector<SimRequest> posts = RequestsTo(L"POST", L"/v1/extensions/phone/calls");
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].body, R"({"caller":"21", "caller_context":"c-orvo-demo-4711", "callee":"0301234567", )"
                             R"("callee_context":"c-orvo-demo-4711", "extension":"21"})");
    ASSERT_TRUE(WaitForState(0, LINECALLSTATE_CONNECTED));
    EXPECT_EQ(CallStates(0), (std::vector<DWORD>{LINECALLSTATE_DIALTONE, LINECALLSTATE_DIALING,
                                                 LINECALLSTATE_PROCEEDING, LINECALLSTATE_RINGBACK,
                                                 LINECALLSTATE_CONNECTED}));

    ASSERT_EQ(m_host.Drop(502, hdCall), 502);
    EXPECT_EQ(WaitForCompletion(502).lResult, 0);
    ASSERT_TRUE(WaitForState(0, LINECALLSTATE_IDLE));
    const std::vector<DWORD> states = CallStates(0);
    EXPECT_EQ(std::vector<DWORD>(states.end() - 2, states.end()),
              (std::vector<DWORD>{LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}));
    // The uuid of the first call event the simulator published.
    const std::wstring history = m_sim.Control(L"GET", L"events").sBody, key = L"\"uuid\": \"";
    const size_t nKey = history.find(key), nStart = nKey + key.size();
    ASSERT_NE(nKey, std::wstring::npos) << ToUtf8(history);
    const std::wstring uuid = history.substr(nStart, history.find(L'"', nStart) - nStart);
    EXPECT_EQ(RequestsTo(L"DELETE", L"/v1/extensions/phone/calls/" + uuid).size(), 1u);

    // A refused call completes with OPERATIONFAILED; without PBX events for
    // it, a drop sends nothing and succeeds.
    m_sim.ClearRequests();
    ASSERT_TRUE(m_sim.AddFault(L"{\"path\":\"/v1/extensions/phone/calls\",\"method\":\"POST\",\"status\":403,"
                               L"\"body\":\"{\\\"error\\\": \\\"not yours\\\"}\"}"));
    ASSERT_EQ(m_host.MakeCall(601, m_lines[1], reinterpret_cast<HTAPICALL>(0x601), &hdCall, L"100"), 601);
    EXPECT_EQ(WaitForCompletion(601).lResult, LINEERR_OPERATIONFAILED);
    ASSERT_EQ(m_host.Drop(602, hdCall), 602);
    EXPECT_EQ(WaitForCompletion(602).lResult, 0);
    EXPECT_TRUE(RequestsTo(L"DELETE", L"").empty());
    // TAPI has no such call: it hears nothing of it.
    EXPECT_EQ(m_host.CountEvents([](const HostEvent& e) { return e.htCall == reinterpret_cast<HTAPICALL>(0x601); }), 0u);
}

// A dialer places calls one after another on one line. Each make-call's
// dial-tone closer belongs to its own call: the first call's, falling due
// while the next call still waits for the PBX, leaves that call alone; the
// next call, which no PBX event moves on, is idled by its own closer.
TEST_F(PbxRuntimeTest, EachMakeCallsDialtoneCloserEndsOnlyItsOwnCall) {
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    const std::chrono::milliseconds closer(ScaledMs(30000)), margin(ScaledMs(1500));
    const auto first = std::chrono::steady_clock::now();
    HDRVCALL hdFirst = nullptr;
    ASSERT_EQ(m_host.MakeCall(701, m_lines[2], reinterpret_cast<HTAPICALL>(0x701), &hdFirst, L"0301234567"), 701);
    ASSERT_EQ(WaitForCompletion(701).lResult, 0);
    ASSERT_TRUE(WaitForState(2, LINECALLSTATE_CONNECTED));
    ASSERT_EQ(m_host.Drop(702, hdFirst), 702);
    ASSERT_TRUE(WaitForState(2, LINECALLSTATE_IDLE));
    // TAPI lets go of the first call: the next call's record may take its place.
    ASSERT_EQ(m_host.CloseCall(hdFirst), 0);
    m_sim.Control(L"POST", L"settings", L"{\"make_call\":{\"outcome\":\"silent\"}}");
    // Late enough that the next call's own closer falls due only after the
    // first call's closer and the margin: the two timers run side by side.
    std::this_thread::sleep_until(first + 2 * margin);
    const HTAPICALL htNext = reinterpret_cast<HTAPICALL>(ULONG_PTR{0x703});
    HDRVCALL hdNext = nullptr;
    const auto placed = std::chrono::steady_clock::now();
    ASSERT_EQ(m_host.MakeCall(703, m_lines[2], htNext, &hdNext, L"100"), 703);
    auto nextIdle = [&](const HostEvent& event) {
        return event.htCall == htNext && event.dwMsg == LINE_CALLSTATE && event.dwParam1 == LINECALLSTATE_IDLE;
    };
    // Until the first call's closer has fallen due.
    const auto firstCloserDue = std::chrono::duration_cast<std::chrono::milliseconds>(
        first + closer + margin - std::chrono::steady_clock::now());
    EXPECT_FALSE(m_host.WaitForEvent(nextIdle, static_cast<DWORD>(std::max<long long>(firstCloserDue.count(), 0))))
        << "another call's closer ended it";
    ASSERT_TRUE(m_host.WaitForEvent(nextIdle, kEventWaitMs));
    EXPECT_GE(std::chrono::steady_clock::now() - placed, closer);
    // Idle is the one state the call ever showed: its closer, not an event, ended it.
    std::vector<DWORD> nextStates;
    for (const HostEvent& event : m_host.LineEvents())
        if (event.htCall == htNext && event.dwMsg == LINE_CALLSTATE) nextStates.push_back(static_cast<DWORD>(event.dwParam1));
    EXPECT_EQ(nextStates, std::vector<DWORD>{LINECALLSTATE_IDLE});
}

TEST_F(PbxRuntimeTest, TokenAboutToExpireIsRefreshedBeforeTheNextCommand) {
    // Tokens live 21 s: two seconds after login they are within the 20 s margin.
    m_sim.Control(L"POST", L"settings", L"{\"token_lifetime\":21}");
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    Sleep(2500);
    m_sim.ClearRequests();
    HDRVCALL hdCall = nullptr;
    ASSERT_EQ(m_host.MakeCall(801, m_lines[0], reinterpret_cast<HTAPICALL>(0x801), &hdCall, L"100"), 801);
    EXPECT_EQ(WaitForCompletion(801).lResult, 0);
    const std::vector<SimRequest> requests = m_sim.Requests();
    auto find = [&](const wchar_t* pszMethod, const wchar_t* pszPath) {
        return std::find_if(requests.begin(), requests.end(),
                            [&](const SimRequest& r) { return r.sMethod == pszMethod && r.sPath == pszPath; });
    };
    const auto refresh = find(L"PUT", L"/v1/login");
    const auto call = find(L"POST", L"/v1/extensions/phone/calls");
    ASSERT_NE(refresh, requests.end());
    ASSERT_NE(call, requests.end());
    EXPECT_LT(refresh - requests.begin(), call - requests.begin());
    EXPECT_EQ(call->nStatus, 202);
}

TEST_F(PbxRuntimeTest, ShutdownIsPromptEndsEveryThreadAndLeavesTheLockFree) {
    // The production timers, so that a shutdown that waited out the closer
    // (30 s) or a stream read would overrun the watchdog by far.
    ASSERT_NO_FATAL_FAILURE(UseProductionTimers());
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    // Event monitor, keep-alive thread, network observer.
    EXPECT_EQ(ProviderThreadCount(m_host.Module(), 3), 3u);
    // A call placed just before leaves a dial-tone closer waiting: the
    // shutdown ends it too, so that nothing of the library runs after unload.
    HDRVCALL hdCall = nullptr;
    ASSERT_EQ(m_host.MakeCall(901, m_lines[0], reinterpret_cast<HTAPICALL>(0x901), &hdCall, L"100"), 901);
    ASSERT_EQ(WaitForCompletion(901).lResult, 0);
    for (HDRVLINE hdLine : m_lines) ASSERT_EQ(m_host.CloseLine(hdLine), 0);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(m_host.Shutdown(), 0);
    m_bStarted = false;
    // The monitor leaves its stream read when asked; nothing more arrives.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15)) << "watchdog";
    // Every thread of the provider has ended, the network observer too (a
    // request thread may take a moment to be gone after its last step).
    EXPECT_EQ(SettledThreadsStartedIn(RangeOf(m_host.Module()), 0), 0u);
    m_host.ClearEvents();
    Ring(L"[\"21\"]", L"4930123456");
    Sleep(1500);
    EXPECT_TRUE(m_host.Events().empty());

    // The lock is free: the provider starts and stops again.
    DWORD dwLines = 0;
    ASSERT_EQ(m_host.Start(&dwLines), 0);
    EXPECT_EQ(dwLines, 3u);
    ASSERT_EQ(m_host.Shutdown(), 0);
    EXPECT_EQ(SettledThreadsStartedIn(RangeOf(m_host.Module()), 0), 0u);
}

// A test that looks at the provider's files starts from none: what an
// earlier build or test left there would be judged in its stead.
class PbxRuntimeFilesTest : public PbxRuntimeTest {
protected:
    void SetUp() override {
        RemoveFolderTree(OrvoDataFolder());
        ASSERT_FALSE(FileExists(OrvoDataFolder()));
        PbxRuntimeTest::SetUp();
    }

    // A login, a call offered and answered, and one placed and dropped.
    void RunCalls() {
        ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
        const std::wstring uuid = Ring(L"[\"21\",\"22\"]", L"4930123456");
        ASSERT_TRUE(WaitForState(0, LINECALLSTATE_OFFERING));
        Answer(uuid, L"21");
        ASSERT_TRUE(WaitForState(0, LINECALLSTATE_CONNECTED));
        Hangup(uuid);
        ASSERT_TRUE(WaitForState(0, LINECALLSTATE_IDLE));
        ASSERT_NO_FATAL_FAILURE(PlaceAndDropCall(1, 501));
    }
};

// Accounts that every local user is in: none of them may change or take
// over what the provider keeps, nor read the exchange files.
const wchar_t* const kEveryLocalUser[] = {L"S-1-1-0", L"S-1-5-32-545", L"S-1-5-11", L"S-1-5-4"};

TEST_F(PbxRuntimeFilesTest, NoLocalUserMayChangeTheFolderItsFilesOrTheSectionNorReadTheExchanges) {
    ASSERT_NO_FATAL_FAILURE(RunCalls());
    HANDLE hSection = OpenFileMappingW(READ_CONTROL, FALSE, TestedProviderSection().c_str());
    ASSERT_NE(hSection, nullptr);
    StopProvider();

    struct Checked {
        std::wstring what;
        std::optional<std::wstring> path;  // none: the section
        bool bExchange;
    };
    std::vector<Checked> checked = {{L"ORVO folder", OrvoDataFolder(), false}, {L"log folder", OrvoLogFolder(), false},
                                    {L"shared section", std::nullopt, false}};
    for (const std::wstring& name : ListFiles(OrvoLogFolder()))
        checked.push_back({name, OrvoLogFolder() + L"\\" + name, name.find(L"_SEQUENCE.TXT") != std::wstring::npos});
    ASSERT_TRUE(std::any_of(checked.begin(), checked.end(), [](const Checked& c) { return c.bExchange; }));
    ASSERT_TRUE(std::any_of(checked.begin(), checked.end(),
                            [](const Checked& c) { return c.what.find(L".LOG") != std::wstring::npos; }));

    constexpr ACCESS_MASK kTakeOver = WRITE_DAC | WRITE_OWNER | DELETE | GENERIC_ALL;
    // Under Wine a file's DACL reads back from its mode bits: a write grant to
    // Everyone is the "other" write bit, so this also says "not world-writable".
    constexpr ACCESS_MASK kWriteFile = FILE_WRITE_DATA | FILE_APPEND_DATA;
    for (const Checked& c : checked) {
        for (const wchar_t* pszSid : kEveryLocalUser) {
            SCOPED_TRACE(ToUtf8(c.what + L" for " + pszSid + (c.path ? L": " + DaclText(*c.path) : L"")));
            bool bRead = false;
            const ACCESS_MASK granted = c.path ? GrantsOn(*c.path, pszSid, &bRead).onObject
                                               : GrantsOn(hSection, SE_KERNEL_OBJECT, pszSid, &bRead).onObject;
            ASSERT_TRUE(bRead);
            EXPECT_EQ(granted & kTakeOver, 0u);
            EXPECT_NE(granted & FILE_ALL_ACCESS, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
            if (c.path && c.what.find(L'.') != std::wstring::npos) {
                EXPECT_EQ(granted & kWriteFile, 0u);
            }
            if (!c.path) {
                EXPECT_EQ(granted, 0u);
            }
            const bool bEveryoneOrUsers = wcscmp(pszSid, L"S-1-1-0") == 0 || wcscmp(pszSid, L"S-1-5-32-545") == 0;
            if (c.bExchange && bEveryoneOrUsers) {
                EXPECT_EQ(granted & FILE_READ_DATA, 0u);
            }
        }
    }
    CloseHandle(hSection);
}

// Every file the provider wrote at the highest debug level, and the registry
// exported as text: not the password nor a token the PBX issued, whole or in
// any piece of six characters, whatever the password holds.
TEST_F(PbxRuntimeFilesTest, NoPieceOfThePasswordOrOfAnIssuedTokenIsInAnyFileTheProviderWrote) {
    const std::wstring password = L"Qx 7\"Zr\\ vK\" 9\tLp";
    ASSERT_TRUE(WriteFileBytes(m_dir.File(L"secret.json"),
                               ToUtf8(L"{\"customer\": \"c-orvo-demo-4711\", \"users\": [{\"name\": \"lena.muster\", "
                                      L"\"password\": " + JsonQuote(password) + L"}], \"extensions\": "
                                      L"[{\"extension_number\": \"21\"}, {\"extension_number\": \"22\"}, "
                                      L"{\"extension_number\": \"23\"}]}")));
    ASSERT_TRUE(m_sim.Start({false, m_dir.File(L"secret.json")})) << ToUtf8(m_sim.Error());
    ASSERT_TRUE(WriteStringSetting(TestedProviderKey(), L"ApiBaseUrl", m_sim.ApiBaseUrl()));
    ASSERT_TRUE(WriteStringSetting(TestedProviderKey(), L"DebugLevel", L"6"));
    ASSERT_TRUE(WriteProtectedSetting(TestedProviderKey(), L"Password", password));
    // Tokens that live less than the provider's 20-second margin: every token
    // check refreshes them, so that a refresh token travels too, however
    // quickly the calls go.
    m_sim.Control(L"POST", L"settings", L"{\"token_lifetime\":19}");
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    Sleep(2500);
    for (HDRVLINE hdLine : m_lines) ASSERT_EQ(m_host.CloseLine(hdLine), 0);
    m_lines.clear();
    StopProvider();
    ASSERT_NO_FATAL_FAILURE(RunCalls());
    StopProvider();
    ASSERT_FALSE(RequestsTo(L"PUT", L"/v1/login").empty()) << "no refresh";

    std::vector<std::wstring> secrets = {password, JsonEscape(password)};
    std::unique_ptr<JsonValue> tokens = CJsonParserBase::ParseText(m_sim.Control(L"GET", L"tokens").sBody.c_str());
    const auto* members = tokens ? tokens->GetIf<JsonValue::Object>() : nullptr;
    ASSERT_NE(members, nullptr);
    const auto* list = members->at(L"tokens")->GetIf<JsonValue::Array>();
    ASSERT_NE(list, nullptr);
    ASSERT_GE(list->size(), 4u) << "two logins and a refresh";
    for (const auto& token : *list) secrets.push_back(*token->GetIf<JsonValue::String>());

    const std::wstring exported = m_dir.File(L"settings.reg");
    ASSERT_EQ(RunProcess(L"reg export \"HKLM\\SOFTWARE\\ORVO\" \"" + exported + L"\" /y", 60000), 0);
    std::vector<std::pair<std::wstring, std::string>> files;  // name, UTF-8 text
    const std::string regBytes = ReadFileBytes(exported);
    ASSERT_GT(regBytes.size(), 2u);
    files.emplace_back(L"registry export", ToUtf8(std::wstring(reinterpret_cast<const wchar_t*>(regBytes.data() + 2),
                                                               (regBytes.size() - 2) / sizeof(wchar_t))));
    ASSERT_NE(files.back().second.find("ORVO"), std::string::npos) << files.back().second;
    for (const std::wstring& name : ListFiles(OrvoLogFolder())) files.emplace_back(name, ReadFileBytes(OrvoLogFolder() + L"\\" + name));
    ASSERT_TRUE(std::any_of(files.begin(), files.end(), [](const auto& f) { return f.first == L"Login_SEQUENCE.TXT"; }));
    ASSERT_TRUE(std::any_of(files.begin(), files.end(), [](const auto& f) { return f.first == L"RefreshToken_SEQUENCE.TXT"; }));

    for (const std::wstring& secret : secrets) {
        const std::string text = ToUtf8(secret);
        for (size_t i = 0; i + 6 <= text.size(); ++i) {
            const std::string piece = text.substr(i, 6);
            for (const auto& [name, content] : files)
                ASSERT_EQ(content.find(piece), std::string::npos) << "\"" << piece << "\" of \"" << text << "\" in " << ToUtf8(name);
        }
    }
}

// The account's Internet settings as WinHTTP reads them: flags 1 direct, 2 a
// fixed proxy, 4 a configuration script; no value at all asks for detection.
std::vector<BYTE> AccountProxySettings(DWORD dwFlags, const std::string& proxy, const std::string& scriptUrl) {
    std::vector<BYTE> settings(12, 0);
    const DWORD header[] = {0x46, 1, dwFlags};  // version, counter, flags
    memcpy(settings.data(), header, sizeof(header));
    for (const std::string& text : {proxy, std::string(), scriptUrl}) {
        const DWORD cb = static_cast<DWORD>(text.size());
        settings.insert(settings.end(), reinterpret_cast<const BYTE*>(&cb), reinterpret_cast<const BYTE*>(&cb) + 4);
        settings.insert(settings.end(), text.begin(), text.end());
    }
    settings.resize(settings.size() + 32, 0);
    return settings;
}

constexpr wchar_t kAccountConnections[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

// A site that reaches the PBX only through a proxy, set the ways
// administrators set it: the API base URL names a host that does not
// resolve, so that nothing arrives unless it went through the proxy. The
// telephony service's account usually has no proxy of its own, or asks for
// detection that finds nothing: then the machine-wide WinHTTP setting
// (`netsh winhttp set proxy`) is the one.
TEST_F(PbxRuntimeTest, EveryRequestAndTheEventStreamGoThroughTheProxySetForTheService) {
    const std::wstring port = m_sim.BaseUrl().substr(m_sim.BaseUrl().rfind(L':') + 1);
    const std::wstring base = L"http://pbx.invalid:" + port + L"/v1";
    ASSERT_TRUE(m_sim.Control(L"POST", L"settings", L"{\"proxy\":true}").dwStatus == 200);
    ASSERT_TRUE(WriteStringSetting(TestedProviderKey(), L"ApiBaseUrl", base));
    const std::string proxy = ToUtf8(L"127.0.0.1:" + port);
    CRegistrySnapshot account(HKEY_CURRENT_USER, kAccountConnections);
    CRegistrySnapshot machine(HKEY_LOCAL_MACHINE, kAccountConnections);
    const struct {
        const wchar_t* pszWhat;
        std::optional<DWORD> accountFlags;  // nullopt: no settings, detection
        bool bMachineWide;
    } cases[] = {
        {L"the account's fixed proxy", 2, false},
        {L"the machine-wide proxy, the account going direct", 1, true},
        {L"the machine-wide proxy, the account's detection finding none", std::nullopt, true},
    };
    DWORD dwRequestID = 600;
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.pszWhat));
        RegDeleteTreeW(HKEY_CURRENT_USER, kAccountConnections);
        if (c.accountFlags) {
            ASSERT_TRUE(SetRegBinary(HKEY_CURRENT_USER, kAccountConnections, L"DefaultConnectionSettings",
                                     AccountProxySettings(*c.accountFlags, *c.accountFlags == 2 ? proxy : "", "")));
        }
        WINHTTP_PROXY_INFO machineWide{WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr};
        const std::wstring machineProxy = L"127.0.0.1:" + port;
        if (c.bMachineWide) machineWide = {WINHTTP_ACCESS_TYPE_NAMED_PROXY, const_cast<LPWSTR>(machineProxy.c_str()), nullptr};
        ASSERT_TRUE(WinHttpSetDefaultProxyConfiguration(&machineWide));
        m_sim.ClearRequests();

        ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
        const std::wstring uuid = Ring(L"[\"22\"]", L"4930123456");
        ASSERT_TRUE(WaitForState(1, LINECALLSTATE_OFFERING));
        Hangup(uuid);
        ASSERT_TRUE(WaitForState(1, LINECALLSTATE_IDLE));
        ASSERT_NO_FATAL_FAILURE(PlaceAndDropCall(0, dwRequestID += 10));

        const std::vector<SimRequest> requests = m_sim.Requests();
        for (const auto& [pszMethod, pszPath] : {std::pair{L"POST", L"/v1/login"}, {L"GET", L"/v1/extensions/phone/data"},
                                                {L"GET", L"/v1/extensions/phone/calls"},
                                                {L"POST", L"/v1/extensions/phone/calls"}})
            EXPECT_FALSE(RequestsTo(pszMethod, pszPath).empty()) << ToUtf8(pszMethod) << " " << ToUtf8(pszPath);
        EXPECT_EQ(RequestsTo(L"DELETE", L"").size(), 1u);
        for (const SimRequest& request : requests) {
            SCOPED_TRACE(ToUtf8(request.sMethod + L" " + request.sTarget));
            EXPECT_TRUE(request.bProxied);
            EXPECT_EQ(request.sTarget, L"http://pbx.invalid:" + port + request.sPath);
        }
        StopProvider();
        m_lines.clear();
    }
}

// A configuration script that never comes (its server takes the connection
// and says nothing): the start does not wait for it but logs in directly,
// and the lines and calls work meanwhile.
TEST_F(PbxRuntimeTest, ProxyDetectionThatHangsDoesNotHoldUpTheStart) {
    WSADATA wsa{};
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    SOCKET silent = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int cbAddress = sizeof(address);
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(silent, 4), 0);
    ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&address), &cbAddress), 0);
    const std::string scriptUrl = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/proxy.pac";
    CRegistrySnapshot account(HKEY_CURRENT_USER, kAccountConnections);
    ASSERT_TRUE(SetRegBinary(HKEY_CURRENT_USER, kAccountConnections, L"DefaultConnectionSettings",
                             AccountProxySettings(4, "", scriptUrl)));

    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    const std::wstring uuid = Ring(L"[\"22\"]", L"4930123456");
    ASSERT_TRUE(WaitForState(1, LINECALLSTATE_OFFERING));
    StopProvider();
    // The detection holds the library until it gives up, which it does once
    // its server goes; the next test must load the library afresh.
    closesocket(silent);
    WSACleanup();
    const ULONGLONG qwWatchdog = GetTickCount64() + 60000;
    while (GetModuleHandleW(L"ORVOTSP.TSP") != nullptr && GetTickCount64() < qwWatchdog) Sleep(20);
    EXPECT_EQ(GetModuleHandleW(L"ORVOTSP.TSP"), nullptr);
}

// An "ApiBaseUrl" the settings refuse (which ones is SettingsStoreTest's):
// nothing is sent anywhere, and the login state says why.
TEST_F(PbxRuntimeTest, InvalidApiBaseUrlSendsNothingAndTheLoginStateSaysSo) {
    ASSERT_TRUE(WriteStringSetting(TestedProviderKey(), L"ApiBaseUrl", L"ftp" + m_sim.ApiBaseUrl().substr(4)));
    ASSERT_NO_FATAL_FAILURE(StartProvider(0));
    EXPECT_EQ(LastLoginState(), Localized(L"Invalid API base URL", L"Ung\u00fcltige API-Basis-URL"));
    StopProvider();
    EXPECT_TRUE(m_sim.Requests().empty());
}

}  // namespace
