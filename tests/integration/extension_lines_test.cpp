// Lines that follow the account's extensions without help: the directory is
// read periodically, so a new extension's line arrives by LINE_CREATE with no
// re-initialisation; every extension keeps its permanent line ID across
// restarts, and an ID once given never goes to a newcomer; calls
// between the account's extensions carry the directory names and the
// internal origin, calls from outside no name and the external origin.
// ctest-lock: registry
#include <map>
#include <set>

#include "support/ProviderRuntimeFixture.h"

namespace {

// The parties of the call information the provider reports (where their
// numbers and names lie in the record is the line records' unit test's).
enum Party { kCaller, kCalled, kConnected };

// Far beyond one refresh period of the test (1 s) and a directory read.
constexpr DWORD kRefreshWaitMs = 30000;

class ExtensionLinesTest : public ProviderRuntimeFixture {
protected:
    void SetUp() override {
        ProviderRuntimeFixture::SetUp();
        // The directory is read every second while these tests run.
        ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, TestedProviderKey(), L"DirectoryRefreshSeconds", 1));
    }

    // The line's address (its extension) and permanent line ID, by device ID.
    std::map<std::wstring, DWORD> PermanentIDs(DWORD dwLines) {
        std::map<std::wstring, DWORD> ids;
        for (DWORD dwLine = 0; dwLine < dwLines; ++dwLine) {
            std::vector<BYTE> caps;
            std::vector<BYTE> addressCaps;
            EXPECT_EQ(m_host.GetDevCaps(dwLine, 4096, &caps), 0) << "line " << dwLine;
            EXPECT_EQ(m_host.GetAddressCaps(dwLine, 0, 4096, &addressCaps), 0) << "line " << dwLine;
            if (caps.size() < sizeof(LINEDEVCAPS) || addressCaps.size() < sizeof(LINEADDRESSCAPS)) continue;
            const auto* pCaps = reinterpret_cast<const LINEDEVCAPS*>(caps.data());
            const auto* pAddressCaps = reinterpret_cast<const LINEADDRESSCAPS*>(addressCaps.data());
            const std::wstring address = RecordText(addressCaps, pAddressCaps->dwAddressSize, pAddressCaps->dwAddressOffset);
            ids[address] = pCaps->dwPermanentLineID;
        }
        return ids;
    }

};

TEST_F(ExtensionLinesTest, NewExtensionArrivesWithoutReinitializationAndEveryLineKeepsItsPermanentID) {
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    const std::map<std::wstring, DWORD> before = PermanentIDs(3);
    ASSERT_EQ(before.size(), 3u);
    m_host.ClearEvents();

    // A new colleague: no re-initialisation is asked for.
    ASSERT_NO_FATAL_FAILURE(
        SetDirectory({{L"21", L"Office"}, {L"22", L"Reception"}, {L"23", L"Lab"},
                      {L"24", L"Store", L"7f000000-0000-4000-8000-000000000024"}}));
    ASSERT_TRUE(m_host.WaitForCount([](const HostEvent& e) { return e.kind == HostEvent::DeviceCreated; }, 1,
                                    kRefreshWaitMs));
    EXPECT_EQ(CountMessages(LINE_CREATE), 1u);
    EXPECT_EQ(CountMessages(LINE_REMOVE), 0u);
    EXPECT_EQ(m_host.CreatedDevices(), std::vector<DWORD>{3});
    EXPECT_EQ(LineName(3), L"ORVO lena.muster 24");
    // The line works: a call to 24 is offered on it.
    HDRVLINE hdLine24 = nullptr;
    ASSERT_EQ(m_host.OpenLine(3, LineHandle(3), &hdLine24), 0);
    Ring(L"[\"24\"]", L"4930555");
    ASSERT_TRUE(WaitForState(3, LINECALLSTATE_OFFERING));
    // Neither a new login nor a new stream was needed for it: the start's own only.
    EXPECT_EQ(RequestsTo(L"POST", L"/v1/login").size(), 1u);
    EXPECT_EQ(RequestsTo(L"GET", L"/v1/extensions/phone/calls").size(), 1u);

    std::map<std::wstring, DWORD> withNew = PermanentIDs(4);
    ASSERT_EQ(withNew.size(), 4u);
    for (const auto& [address, id] : before) EXPECT_EQ(withNew[address], id) << "extension " << ToUtf8(address);
    // The provider's permanent ID above the line's own number (that each
    // line's is its own is the next test's, over many lines).
    for (const auto& [address, id] : withNew) EXPECT_EQ(id >> 16, CTapiHost::kPermanentProviderID);
}

// A call centre's account, its directory (some 86 KB of JSON) more than the
// 64 K units of answer a client reads at once: every extension is a line with its
// name; after a restart every line is there with the ID it had, whatever
// place the directory now gives its extension; the numbers of extensions
// that left go to no newcomer.
TEST_F(ExtensionLinesTest, PermanentIDsOfManyExtensionsSurviveRestartsAndAreNeverReused) {
    constexpr DWORD kExtensions = 1200;
    constexpr DWORD kLeaving = 100;
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, TestedProviderKey(), L"PermanentLineIDs");
    // Thousands of lines at the full log level would spend the test's time writing the log.
    ASSERT_TRUE(WriteStringSetting(TestedProviderKey(), L"DebugLevel", L"1"));
    // Line names as "<user> <number>: <name>", so that the directory's names show.
    ASSERT_TRUE(WriteStringSetting(TestedProviderKey(), L"LineFormat", L"2"));
    auto numbered = [this](DWORD dwFirst) {
        const std::wstring body =
            L"{\"count\":" + std::to_wstring(kExtensions) + L",\"first\":" + std::to_wstring(dwFirst) + L"}";
        ASSERT_EQ(m_sim.Control(L"POST", L"extensions", body).dwStatus, 200u);
    };
    ASSERT_NO_FATAL_FAILURE(numbered(10000));
    ASSERT_NO_FATAL_FAILURE(StartProvider(kExtensions));
    const std::map<std::wstring, DWORD> first = PermanentIDs(kExtensions);
    ASSERT_EQ(first.size(), kExtensions);
    for (DWORD dwLine = 0; dwLine < kExtensions; ++dwLine) {
        const std::wstring number = std::to_wstring(10000 + dwLine);
        ASSERT_EQ(LineName(dwLine), L"ORVO lena.muster " + number + L": Extension " + number) << "line " << dwLine;
    }
    std::set<DWORD> given;
    for (const auto& [address, id] : first) given.insert(id);
    EXPECT_EQ(given.size(), kExtensions);
    ASSERT_NO_FATAL_FAILURE(StopProvider());

    ASSERT_NO_FATAL_FAILURE(StartProvider(kExtensions));
    EXPECT_EQ(PermanentIDs(kExtensions), first);
    ASSERT_NO_FATAL_FAILURE(StopProvider());

    // The first extensions leave and as many new ones come: every one that
    // stays is now listed kLeaving places further up.
    ASSERT_NO_FATAL_FAILURE(numbered(10000 + kLeaving));
    ASSERT_NO_FATAL_FAILURE(StartProvider(kExtensions));
    const std::map<std::wstring, DWORD> after = PermanentIDs(kExtensions);
    ASSERT_EQ(after.size(), kExtensions);
    size_t nNew = 0;
    for (const auto& [address, id] : after) {
        const auto before = first.find(address);
        if (before != first.end()) {
            EXPECT_EQ(id, before->second) << "extension " << ToUtf8(address);
        } else {
            ++nNew;
            EXPECT_EQ(given.count(id), 0u) << "newcomer " << ToUtf8(address) << " got a given ID";
        }
    }
    EXPECT_EQ(nNew, kLeaving);
}

TEST_F(ExtensionLinesTest, RefreshSetToZeroReadsTheDirectoryOnlyAtStart) {
    ASSERT_TRUE(SetRegDword(HKEY_LOCAL_MACHINE, TestedProviderKey(), L"DirectoryRefreshSeconds", 0));
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    m_sim.ClearRequests();
    ASSERT_NO_FATAL_FAILURE(SetDirectory(
        {{L"21", L"Office"}, {L"22", L"Reception"}, {L"23", L"Lab"}, {L"24", L"Store"}}));
    // A later ring proves the provider alive; three keep-alive ticks have passed by then.
    Sleep(ScaledMs(3000));
    Ring(L"[\"21\"]", L"4930777");
    ASSERT_TRUE(WaitForState(0, LINECALLSTATE_OFFERING));
    EXPECT_TRUE(RequestsTo(L"GET", L"/v1/extensions/phone/data").empty());
    EXPECT_EQ(CountMessages(LINE_CREATE), 0u);
}

// What TAPI reads of a call's parties.
struct PartyView {
    std::wstring number;
    std::wstring name;
    DWORD dwFlags;
};

class CallPartyTest : public ProviderRuntimeFixture {
protected:
    void Emit(const wchar_t* pszUuid, const wchar_t* pszExtension, const wchar_t* pszCaller, const wchar_t* pszCallee,
              const wchar_t* pszState, const wchar_t* pszDirection) const {
        const std::wstring body = L"{\"event\":{\"uuid\":" + JsonQuote(pszUuid) + L",\"extension\":" +
                                  JsonQuote(pszExtension) + L",\"caller\":" + JsonQuote(pszCaller) + L",\"callee\":" +
                                  JsonQuote(pszCallee) + L",\"state\":" + JsonQuote(pszState) + L",\"direction\":" +
                                  JsonQuote(pszDirection) + L"}}";
        ASSERT_EQ(m_sim.Control(L"POST", L"emit", body).dwStatus, 200u);
    }

    // The call info of the line's first call.
    std::vector<BYTE> CallInfo(DWORD dwLine) {
        std::vector<BYTE> info;
        for (const HostEvent& event : m_host.LineEvents()) {
            if (event.htLine != LineHandle(dwLine) || event.dwMsg != LINE_NEWCALL) continue;
            EXPECT_EQ(m_host.GetCallInfo(reinterpret_cast<HDRVCALL>(event.dwParam1), 4096, &info), 0);
            break;
        }
        EXPECT_GE(info.size(), sizeof(LINECALLINFO));
        return info;
    }

    static PartyView PartyOf(const std::vector<BYTE>& info, Party party) {
        const auto* p = reinterpret_cast<const LINECALLINFO*>(info.data());
        const DWORD* pPairs[] = {&p->dwCallerIDSize, &p->dwCalledIDSize, &p->dwConnectedIDSize};
        const DWORD dwFlags[] = {p->dwCallerIDFlags, p->dwCalledIDFlags, p->dwConnectedIDFlags};
        const DWORD* pPair = pPairs[party];  // number size and offset, then name size and offset
        return {RecordText(info, pPair[0], pPair[1]), RecordText(info, pPair[2], pPair[3]), dwFlags[party]};
    }

    static DWORD Origin(const std::vector<BYTE>& info) { return reinterpret_cast<const LINECALLINFO*>(info.data())->dwOrigin; }
};

TEST_F(CallPartyTest, ExtensionsOfTheAccountAreNamedAndInternalOutsideCallersAreNeither) {
    ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
    constexpr DWORD kNamed = LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME;
    constexpr DWORD kNumberOnly = LINECALLPARTYID_ADDRESS;

    // 21 calls 22; 22 answers.
    ASSERT_NO_FATAL_FAILURE(Emit(L"int-1", L"21", L"21", L"22", L"caller-dial", L"outbound"));
    ASSERT_NO_FATAL_FAILURE(Emit(L"int-1", L"21", L"21", L"22", L"dial", L"outbound"));
    ASSERT_NO_FATAL_FAILURE(Emit(L"int-1", L"22", L"21", L"22", L"ring", L"inbound"));
    ASSERT_TRUE(WaitForState(0, LINECALLSTATE_RINGBACK));
    ASSERT_TRUE(WaitForState(1, LINECALLSTATE_OFFERING));
    ASSERT_NO_FATAL_FAILURE(Emit(L"int-1", L"22", L"21", L"22", L"answer", L"inbound"));
    ASSERT_NO_FATAL_FAILURE(Emit(L"int-1", L"21", L"21", L"22", L"answer", L"outbound"));
    ASSERT_TRUE(WaitForState(1, LINECALLSTATE_CONNECTED));
    ASSERT_TRUE(WaitForState(0, LINECALLSTATE_CONNECTED));
    // An outside caller rings 23.
    Ring(L"[\"23\"]", L"4930123456");
    ASSERT_TRUE(WaitForState(2, LINECALLSTATE_OFFERING));

    const std::vector<BYTE> on21 = CallInfo(0), on22 = CallInfo(1), on23 = CallInfo(2);
    ASSERT_GE(on21.size(), sizeof(LINECALLINFO));
    ASSERT_GE(on22.size(), sizeof(LINECALLINFO));
    ASSERT_GE(on23.size(), sizeof(LINECALLINFO));
    const struct {
        const char* pszWhat;
        const std::vector<BYTE>& info;
        Party party;
        const wchar_t* pszNumber;
        const wchar_t* pszName;
        DWORD dwFlags;
    } rows[] = {
        {"22 sees its caller", on22, kCaller, L"21", L"Office", kNamed},
        {"22 sees itself called", on22, kCalled, L"22", L"Reception", kNamed},
        {"22 sees who it is connected to", on22, kConnected, L"21", L"Office", kNamed},
        {"21 sees itself calling", on21, kCaller, L"21", L"Office", kNamed},
        {"21 sees whom it called", on21, kCalled, L"22", L"Reception", kNamed},
        {"21 sees who it is connected to", on21, kConnected, L"22", L"Reception", kNamed},
        {"23 sees an outside caller, unnamed", on23, kCaller, L"+4930123456", L"", kNumberOnly},
        {"23 sees itself called", on23, kCalled, L"23", L"Lab", kNamed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pszWhat);
        const PartyView party = PartyOf(row.info, row.party);
        EXPECT_EQ(party.number, row.pszNumber);
        EXPECT_EQ(party.name, row.pszName);
        EXPECT_EQ(party.dwFlags, row.dwFlags);
    }

    EXPECT_EQ(Origin(on22), static_cast<DWORD>(LINECALLORIGIN_INTERNAL));
    EXPECT_EQ(Origin(on23), static_cast<DWORD>(LINECALLORIGIN_EXTERNAL));
    // The call 21 dialled is its own outgoing call.
    EXPECT_EQ(Origin(on21), static_cast<DWORD>(LINECALLORIGIN_OUTBOUND));

    // TAPI heard of the names: the caller and called IDs with the offering,
    // the connected ID with the answer.
    const auto InfoEvents = [&](DWORD dwLine, DWORD dwStates) {
        return m_host.CountEvents([&](const HostEvent& e) {
            return e.htLine == LineHandle(dwLine) && e.dwMsg == LINE_CALLINFO && (e.dwParam1 & dwStates) == dwStates;
        });
    };
    EXPECT_GE(InfoEvents(1, LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_CALLEDID), 1u);
    EXPECT_GE(InfoEvents(1, LINECALLINFOSTATE_CONNECTEDID), 1u);
    EXPECT_GE(InfoEvents(0, LINECALLINFOSTATE_CALLEDID), 1u);
    EXPECT_GE(InfoEvents(0, LINECALLINFOSTATE_CONNECTEDID), 1u);

    // The address capabilities say names may come.
    std::vector<BYTE> addressCaps;
    ASSERT_EQ(m_host.GetAddressCaps(0, 0, 4096, &addressCaps), 0);
    const auto* pCaps = reinterpret_cast<const LINEADDRESSCAPS*>(addressCaps.data());
    EXPECT_EQ(pCaps->dwCallerIDFlags, kNamed);
    EXPECT_EQ(pCaps->dwCalledIDFlags, kNamed);
    EXPECT_EQ(pCaps->dwConnectedIDFlags, kNamed);
}

// An account whose names and password are not ASCII.
const char kUmlautAccount[] = R"({"customer": "c-orvo-demo-4711",
  "users": [{"name": "lena.muster", "password": "Demo-Pass-\u00dc"}],
  "extensions": [{"extension_number": "21", "name": "Max M\u00fcller"},
                 {"extension_number": "22", "name": "J\u00fcrgen \u00d6zt\u00fcrk"},
                 {"extension_number": "23", "name": "Lab \ud83d\ude00"}]})";

// PBXs write the same content in different ways: every way gives the same
// lines, names and calls.
class WireDialectTest : public CallPartyTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(CallPartyTest::SetUp());
        ASSERT_TRUE(WriteProtectedSetting(TestedProviderKey(), L"Password", L"Demo-Pass-\u00dc"));
        ASSERT_TRUE(WriteStringSetting(TestedProviderKey(), L"LineFormat", L"2"));
    }
    void StartSimulator() override {
        ASSERT_TRUE(WriteFileBytes(m_dir.File(L"account.json"), kUmlautAccount));
        ASSERT_TRUE(m_sim.Start({false, m_dir.File(L"account.json")})) << ToUtf8(m_sim.Error());
    }
};

TEST_F(WireDialectTest, EveryDialectGivesTheSameNamesAndCalls) {
    const struct {
        const char* pszName;
        const wchar_t* pszSettings;
    } dialects[] = {
        {"raw UTF-8, compact, LF", L"{}"},
        {"escaped, byte-order mark, CR LF, no ids", L"{\"ascii_json\":true,\"bom\":true,\"line_end\":\"crlf\",\"event_ids\":false}"},
        {"pretty, CR, heartbeats, no replay", L"{\"pretty_json\":true,\"line_end\":\"cr\",\"heartbeat_ms\":200,\"replay\":false}"},
        {"escaped, pretty, byte-order mark, chunked",
         L"{\"ascii_json\":true,\"pretty_json\":true,\"bom\":true,\"chunked\":true,\"heartbeat_ms\":200}"},
    };
    int nCall = 0;
    for (const auto& dialect : dialects) {
        SCOPED_TRACE(dialect.pszName);
        ASSERT_EQ(m_sim.Control(L"POST", L"reset").dwStatus, 200u);
        ASSERT_EQ(m_sim.Control(L"POST", L"settings", dialect.pszSettings).dwStatus, 200u);
        m_host.ClearEvents();
        ASSERT_NO_FATAL_FAILURE(StartAndOpenLines());
        // The password went as UTF-8 and was taken.
        const std::vector<SimRequest> logins = RequestsTo(L"POST", L"/v1/login");
        ASSERT_FALSE(logins.empty());
        EXPECT_NE(logins[0].body.find("\"Demo-Pass-\xC3\x9C\""), std::string::npos) << logins[0].body;
        EXPECT_EQ(LineName(0), L"ORVO lena.muster 21: Max M\u00fcller");
        EXPECT_EQ(LineName(1), L"ORVO lena.muster 22: J\u00fcrgen \u00d6zt\u00fcrk");
        EXPECT_EQ(LineName(2), L"ORVO lena.muster 23: Lab \xD83D\xDE00");
        // 21 calls 22: both names in the call information, as the directory gave them.
        const std::wstring uuid = L"dialect-" + std::to_wstring(++nCall);
        ASSERT_NO_FATAL_FAILURE(Emit(uuid.c_str(), L"22", L"21", L"22", L"ring", L"inbound"));
        ASSERT_TRUE(WaitForState(1, LINECALLSTATE_OFFERING));
        const std::vector<BYTE> info = CallInfo(1);
        ASSERT_GE(info.size(), sizeof(LINECALLINFO));
        EXPECT_EQ(PartyOf(info, kCaller).name, L"Max M\u00fcller");
        EXPECT_EQ(PartyOf(info, kCalled).name, L"J\u00fcrgen \u00d6zt\u00fcrk");
        ASSERT_NO_FATAL_FAILURE(StopProvider());
    }
}

}  // namespace
