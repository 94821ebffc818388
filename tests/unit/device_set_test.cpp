// The device set following the PBX directory: which lines stay, come and go,
// what TAPI hears of it, and what a removed line answers.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/BoundedString.h"
#include "config/ProviderSettings.h"
#include "manager/CGenericTSPIManager.h"
#include "manager/DeviceSet.h"
#include "manager/PartyNames.h"
#include "model/ProviderLock.h"
#include "model/ProviderState.h"
#include "pbx/ExtensionDirectory.h"
#include "provider/TspiExports.h"
#include "support/LineModelFixture.h"
#include "support/TraceCapture.h"

namespace {

const HPROVIDER kProvider = reinterpret_cast<HPROVIDER>(static_cast<ULONG_PTR>(0x4711));

// A directory record as the fixture's lines have them ("uuid-<n>", "Ext <n>").
ExtensionInfo Extension(const std::wstring& number) {
    return ExtensionInfo{L"uuid-" + number, number, L"Ext " + number, L""};
}

std::vector<ExtensionInfo> Directory(const std::vector<std::wstring>& numbers) {
    std::vector<ExtensionInfo> directory;
    for (const std::wstring& number : numbers) directory.push_back(Extension(number));
    return directory;
}

std::wstring DevCapsName(DWORD dwDeviceID) {
    std::vector<BYTE> buffer(1024, 0);
    auto* pCaps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
    pCaps->dwTotalSize = static_cast<DWORD>(buffer.size());
    if (TSPI_lineGetDevCaps(dwDeviceID, 0x00020002, 0, pCaps) != 0) return L"(no caps)";
    return TextAt(pCaps, pCaps->dwLineNameOffset);
}

class DeviceSetTest : public LineModelFixture {
protected:
    void SetUp() override {
        LineModelFixture::SetUp();
        g_hProvider = kProvider;
    }
    void TearDown() override {
        g_hProvider = nullptr;
        LineModelFixture::TearDown();
    }

    DeviceSetChanges Apply(const std::vector<ExtensionInfo>& directory) {
        CProviderLockGuard lock(LockOwner::ReinitializeDevices);
        return ApplyDirectory(directory);
    }

    // The device IDs of the LINE_REMOVE messages and the temporary IDs of the LINE_CREATE messages.
    std::vector<DWORD> Removed() const {
        std::vector<DWORD> ids;
        for (const RecordedEvent& e : EventsOf(LINE_REMOVE)) ids.push_back(static_cast<DWORD>(e.dwParam1));
        return ids;
    }
    static std::vector<DWORD> Created() {
        std::vector<DWORD> ids;
        for (const RecordedEvent& e : CEventRecorder::s_lineCreates) {
            EXPECT_EQ(e.dwMsg, static_cast<DWORD>(LINE_CREATE));
            EXPECT_EQ(e.dwParam1, reinterpret_cast<DWORD_PTR>(kProvider));
            ids.push_back(static_cast<DWORD>(e.dwParam2));
        }
        return ids;
    }
};

TEST_F(DeviceSetTest, LinesFollowTheirExtensionsWhateverPlaceTheDirectoryGivesThem) {
    // Before (the fixture's lines 21, 22, 23 or none), directory after, and what TAPI must hear:
    // the device IDs removed and the temporary IDs (new positions) created; then the
    // address each position holds afterwards.
    struct Case {
        const char* pszName;
        std::vector<std::wstring> before;
        std::vector<ExtensionInfo> after;
        std::vector<DWORD> removed;
        std::vector<DWORD> created;
        std::vector<std::wstring> addresses;
        DWORD dwRenamed;
    };
    ExtensionInfo renumbered = Extension(L"21");
    renumbered.extension_number = L"31";
    ExtensionInfo otherUuid = Extension(L"21");
    otherUuid.uuid = L"uuid-new";
    ExtensionInfo withoutUuid = Extension(L"21");
    withoutUuid.uuid.clear();
    const Case cases[] = {
        {"one leaves, two come", {L"21", L"22", L"23"}, Directory({L"22", L"23", L"24", L"25"}), {100}, {3, 4},
         {L"21", L"22", L"23", L"24", L"25"}, 0},
        {"an empty set gets every line new", {}, Directory({L"21", L"22"}), {}, {0, 1}, {L"21", L"22"}, 0},
        {"the same directory changes nothing", {L"21", L"22", L"23"}, Directory({L"21", L"22", L"23"}), {}, {},
         {L"21", L"22", L"23"}, 0},
        {"another order changes nothing", {L"21", L"22", L"23"}, Directory({L"23", L"21", L"22"}), {}, {},
         {L"21", L"22", L"23"}, 0},
        {"an empty directory removes all", {L"21", L"22", L"23"}, {}, {100, 101, 102}, {}, {L"21", L"22", L"23"}, 0},
        {"a new number keeps the extension's line", {L"21", L"22"}, {renumbered, Extension(L"22")}, {}, {},
         {L"31", L"22"}, 1},
        {"the same number for another extension is a new line", {L"21"}, {otherUuid}, {100}, {1}, {L"21", L"21"}, 0},
        {"without a uuid, the first entry of the number keeps the line", {L"21"}, {withoutUuid, withoutUuid}, {}, {1},
         {L"21", L"21"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        BuildLines(c.before);
        for (LONG pos = 0; pos < static_cast<LONG>(c.before.size()); ++pos) OpenLine(pos);
        std::vector<PhoneLine*> records;
        for (DWORD pos = 0; pos < c.before.size(); ++pos) records.push_back(&g_PhoneLines[pos]);
        CEventRecorder::Reset();

        const DeviceSetChanges changes = Apply(c.after);
        EXPECT_EQ(Removed(), c.removed);
        EXPECT_EQ(Created(), c.created);
        EXPECT_EQ(changes.dwRemoved, c.removed.size());
        EXPECT_EQ(changes.dwCreated, c.created.size());
        EXPECT_EQ(changes.dwRenamed, c.dwRenamed);
        ASSERT_EQ(g_dwDeviceCount, c.addresses.size());
        for (DWORD pos = 0; pos < g_dwDeviceCount; ++pos) {
            SCOPED_TRACE(pos);
            EXPECT_EQ(std::wstring(g_PhoneLines[pos].m_szAddress), c.addresses[pos]);
            EXPECT_EQ(g_PhoneLines[pos].m_dwLinePos, pos);
        }
        // Lines that were there keep their record and device ID; new ones wait for TAPI's.
        for (DWORD pos = 0; pos < records.size(); ++pos) {
            EXPECT_EQ(records[pos], &g_PhoneLines[pos]);
            EXPECT_EQ(g_PhoneLines[pos].m_dwDeviceID, kDeviceIDBase + pos);
        }
        EXPECT_EQ(CountLinesInUse(), c.after.size());
        // TAPI numbers the new lines as it likes, each temporary ID once; the records carry the number.
        for (DWORD tempID : c.created) {
            EXPECT_EQ(g_PhoneLines[tempID].m_dwDeviceID, kNoDeviceID);
            EXPECT_EQ(TSPI_providerCreateLineDevice(tempID, 500 + tempID), 0);
            EXPECT_EQ(TSPI_providerCreateLineDevice(tempID, 600), LINEERR_BADDEVICEID);
            EXPECT_EQ(g_PhoneLines[tempID].m_pLineDevCaps->dwPermanentLineID, (kPermanentProviderID << 16) | (500 + tempID));
            EXPECT_EQ(g_PhoneLines[tempID].m_pLineAddressCaps->dwLineDeviceID, 500 + tempID);
            EXPECT_EQ(DevCapsName(500 + tempID), L"ORVO Lena Muster " + c.addresses[tempID]);
        }
        EXPECT_EQ(TSPI_providerCreateLineDevice(0, 600), LINEERR_BADDEVICEID) << "a line TAPI numbered";
        EXPECT_EQ(TSPI_providerCreateLineDevice(99, 600), LINEERR_BADDEVICEID);
    }
}

// A removed line TAPI is done with (told it is gone, closed) gives its place
// to the next new line, which TAPI numbers anew: an extension that leaves and
// comes back a thousand times leaves the table as long as before.
TEST_F(DeviceSetTest, LineRemovedAndCreatedAgainAThousandTimesLeavesTheTableBounded) {
    OpenLine(2);
    const size_t nRecords = g_PhoneLines.size();
    DWORD dwDeviceID = kDeviceIDBase + 3;
    for (int i = 0; i < 1000; ++i) {
        CEventRecorder::Reset();
        Apply(Directory({L"21", L"22"}));
        ASSERT_EQ(Removed(), std::vector<DWORD>{g_PhoneLines[2].m_dwDeviceID});
        if (i == 0) { ASSERT_EQ(TSPI_lineClose(LineHandle(2)), 0); }
        Apply(Directory({L"21", L"22", L"23"}));
        ASSERT_EQ(Created(), std::vector<DWORD>{2});
        ASSERT_EQ(TSPI_providerCreateLineDevice(2, dwDeviceID), 0);
        ASSERT_EQ(g_PhoneLines[2].m_dwDeviceID, dwDeviceID++);
    }
    EXPECT_EQ(g_dwDeviceCount, 3u);
    EXPECT_EQ(g_PhoneLines.size(), nRecords);
    EXPECT_EQ(CountLinesInUse(), 3u);
    // A device ID TAPI was told is gone names no line any more.
    HDRVLINE hdLine = nullptr;
    EXPECT_EQ(TSPI_lineOpen(kDeviceIDBase + 2, reinterpret_cast<HTAPILINE>(0x77), &hdLine, 0x00020002,
                            &CEventRecorder::LineEvent),
              LINEERR_BADDEVICEID);
}

TEST_F(DeviceSetTest, RenamedExtensionIsRenamedInPlaceAndTapiHearsItsCapabilitiesChanged) {
    const HTAPILINE htLine = OpenLine(1);
    AddCall(1, LINECALLSTATE_CONNECTED);
    PhoneCall* pCall = Call(1, 0);
    CEventRecorder::Reset();
    std::vector<ExtensionInfo> directory = Directory({L"21", L"22", L"23"});
    directory[1].name = L"Front desk";
    directory[1].extension_number = L"222";
    StrCopy(g_pProviderSettings->LineFormat, L"2");

    // The new line format renames every line; TAPI hears it of the one it has open.
    const DeviceSetChanges changes = Apply(directory);
    EXPECT_EQ(changes.dwRenamed, 3u);
    EXPECT_EQ(changes.dwKept, 3u);
    EXPECT_EQ(DevCapsName(101), L"ORVO Lena Muster 222: Front desk");
    EXPECT_EQ(std::wstring(Line(1).m_szAddress), L"222");
    EXPECT_EQ(Call(1, 0), pCall);
    const std::vector<RecordedEvent> states = EventsOf(LINE_LINEDEVSTATE);
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0].htLine, htLine);
    EXPECT_EQ(states[0].dwParam1, static_cast<DWORD_PTR>(LINEDEVSTATE_CAPSCHANGE));
    EXPECT_TRUE(EventsOf(LINE_REMOVE).empty());
    EXPECT_TRUE(CEventRecorder::s_lineCreates.empty());
    EXPECT_EQ(DevCapsName(100), L"ORVO Lena Muster 21: Ext 21");
    EXPECT_EQ(g_PhoneLines[0].m_dwDeviceID, kDeviceIDBase);
}

TEST_F(DeviceSetTest, RemovedLineEndsItsCallsThenAnswersEveryRequestButClosingAsRemoved) {
    const HTAPILINE htLine = OpenLine(0);
    AddCall(0, LINECALLSTATE_CONNECTED);
    const HDRVCALL hdCall = reinterpret_cast<HDRVCALL>(Call(0, 0));
    CEventRecorder::Reset();

    Apply(Directory({L"22", L"23"}));
    // The call ends towards TAPI, then the device goes.
    std::vector<std::pair<DWORD, DWORD_PTR>> messages;
    for (const RecordedEvent& e : Events())
        if (e.dwMsg == LINE_CALLSTATE || e.dwMsg == LINE_REMOVE) messages.emplace_back(e.dwMsg, e.dwParam1);
    EXPECT_EQ(messages, (std::vector<std::pair<DWORD, DWORD_PTR>>{{LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED},
                                                                   {LINE_CALLSTATE, LINECALLSTATE_IDLE},
                                                                   {LINE_REMOVE, 100}}));
    EXPECT_EQ(EventsOf(LINE_REMOVE)[0].htLine, htLine);
    CEventRecorder::Reset();

    const HDRVLINE hdLine = LineHandle(0);
    std::vector<BYTE> record(1024, 0);
    auto sized = [&](DWORD cb) {
        std::fill(record.begin(), record.end(), 0);
        *reinterpret_cast<DWORD*>(record.data()) = cb;
        return record.data();
    };
    LINECALLPARAMS params{};
    params.dwTotalSize = sizeof(params);
    params.dwAddressMode = LINEADDRESSMODE_DIALABLEADDR;
    params.dwBearerMode = LINEBEARERMODE_VOICE;
    params.dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    HDRVLINE hdOpened = nullptr;
    HDRVCALL hdNew = nullptr;
    DWORD dwValue = 0;
    const struct { const char* pszName; std::function<LONG()> run; } requests[] = {
        {"lineOpen", [&] { return TSPI_lineOpen(100, reinterpret_cast<HTAPILINE>(9), &hdOpened, 0x20002, nullptr); }},
        {"lineGetDevCaps", [&] { return TSPI_lineGetDevCaps(100, 0x20002, 0, static_cast<LINEDEVCAPS*>(static_cast<void*>(sized(1024)))); }},
        {"lineGetAddressCaps", [&] { return TSPI_lineGetAddressCaps(100, 0, 0x20002, 0, static_cast<LINEADDRESSCAPS*>(static_cast<void*>(sized(1024)))); }},
        {"lineGetLineDevStatus", [&] { return TSPI_lineGetLineDevStatus(hdLine, static_cast<LINEDEVSTATUS*>(static_cast<void*>(sized(1024)))); }},
        {"lineGetAddressStatus", [&] { return TSPI_lineGetAddressStatus(hdLine, 0, static_cast<LINEADDRESSSTATUS*>(static_cast<void*>(sized(1024)))); }},
        {"lineGetAddressID", [&] { return TSPI_lineGetAddressID(hdLine, &dwValue, LINEADDRESSMODE_DIALABLEADDR, L"21", 6); }},
        {"lineGetID line", [&] { return TSPI_lineGetID(hdLine, 0, nullptr, LINECALLSELECT_LINE, static_cast<VARSTRING*>(static_cast<void*>(sized(64))), L"tapi/line", nullptr); }},
        {"lineGetID call", [&] { return TSPI_lineGetID(nullptr, 0, hdCall, LINECALLSELECT_CALL, static_cast<VARSTRING*>(static_cast<void*>(sized(64))), L"tapi/line", nullptr); }},
        {"lineSetStatusMessages", [&] { return TSPI_lineSetStatusMessages(hdLine, 0, 0); }},
        {"lineConditionalMediaDetection", [&] { return TSPI_lineConditionalMediaDetection(hdLine, LINEMEDIAMODE_INTERACTIVEVOICE, &params); }},
        {"lineDevSpecificFeature", [&] { return TSPI_lineDevSpecificFeature(1, hdLine, 0, nullptr, 0); }},
        {"lineMakeCall", [&] { return TSPI_lineMakeCall(2, hdLine, reinterpret_cast<HTAPICALL>(7), &hdNew, L"100", 0, nullptr); }},
        {"linePickup", [&] { return TSPI_linePickup(3, hdLine, 0, reinterpret_cast<HTAPICALL>(7), &hdNew, L"22", nullptr); }},
        {"lineForward", [&] { return TSPI_lineForward(4, hdLine, 1, 0, nullptr, 0, reinterpret_cast<HTAPICALL>(7), &hdNew, nullptr); }},
        {"lineDrop", [&] { return TSPI_lineDrop(5, hdCall, nullptr, 0); }},
        {"lineAnswer", [&] { return TSPI_lineAnswer(6, hdCall, nullptr, 0); }},
        {"lineMonitorDigits", [&] { return TSPI_lineMonitorDigits(hdCall, 0); }},
        {"lineGetCallInfo", [&] { return TSPI_lineGetCallInfo(hdCall, static_cast<LINECALLINFO*>(static_cast<void*>(sized(1024)))); }},
        {"lineGetCallStatus", [&] { return TSPI_lineGetCallStatus(hdCall, static_cast<LINECALLSTATUS*>(static_cast<void*>(sized(1024)))); }},
        {"lineSetAppSpecific", [&] { return TSPI_lineSetAppSpecific(hdCall, 1); }},
        {"lineSetupTransfer", [&] { return TSPI_lineSetupTransfer(8, hdCall, reinterpret_cast<HTAPICALL>(7), &hdNew, nullptr); }},
    };
    for (const auto& r : requests) {
        SCOPED_TRACE(r.pszName);
        CTraceCapture capture(1);
        EXPECT_EQ(r.run(), LINEERR_NODEVICE);
        bool bTraced = false;
        for (const std::wstring& m : capture.Messages())
            bTraced |= m.find(L".Abort.Error.LINEERR_NODEVICE.#") != std::wstring::npos && m.find(L".Line removed") != std::wstring::npos;
        EXPECT_TRUE(bTraced);
        EXPECT_TRUE(LockIsFree());
    }
    EXPECT_EQ(hdOpened, nullptr);
    EXPECT_EQ(hdNew, nullptr);
    EXPECT_TRUE(Events().empty()) << "a removed line tells TAPI nothing";

    // TAPI lets go of the call and the line: both succeed, and the call's record goes.
    EXPECT_EQ(TSPI_lineCloseCall(hdCall), 0);
    EXPECT_EQ(GetCallCount(0), 0u);
    EXPECT_EQ(TSPI_lineClose(hdLine), 0);
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(TSPI_lineGetDevCaps(100, 0x20002, 0, static_cast<LINEDEVCAPS*>(static_cast<void*>(sized(1024)))),
              LINEERR_NODEVICE);
}

TEST_F(DeviceSetTest, LineWhoseExtensionLeavesBeforeTapiNumberedItIsRemovedWhenTapiDoes) {
    Apply(Directory({L"21", L"22", L"23", L"24"}));
    ASSERT_EQ(Created(), (std::vector<DWORD>{3}));
    CEventRecorder::Reset();
    Apply(Directory({L"21", L"22", L"23"}));
    // TAPI does not know the device yet: nothing to tell it now.
    EXPECT_TRUE(EventsOf(LINE_REMOVE).empty());
    EXPECT_EQ(TSPI_providerCreateLineDevice(3, 600), 0);
    const std::vector<RecordedEvent> removed = EventsOf(LINE_REMOVE);
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(removed[0].dwParam1, 600u);
    std::vector<BYTE> caps(1024, 0);
    reinterpret_cast<LINEDEVCAPS*>(caps.data())->dwTotalSize = 1024;
    EXPECT_EQ(TSPI_lineGetDevCaps(600, 0x20002, 0, reinterpret_cast<LINEDEVCAPS*>(caps.data())), LINEERR_NODEVICE);
}

TEST_F(DeviceSetTest, RemovalReachesTapiAlsoWhenNoLineWasEverOpened) {
    // Without an open there is no line event procedure yet; the one given for new lines takes it.
    g_pLineEventProc = nullptr;
    Apply(Directory({L"22", L"23"}));
    ASSERT_EQ(CEventRecorder::s_lineCreates.size(), 1u);
    EXPECT_EQ(CEventRecorder::s_lineCreates[0].dwMsg, static_cast<DWORD>(LINE_REMOVE));
    EXPECT_EQ(CEventRecorder::s_lineCreates[0].dwParam1, 100u);
}

// A party of a call is named when it is one of the account's extensions
// with a line: a number longer than a line's address too, an extension that
// left or an outside number not.
TEST_F(DeviceSetTest, PartiesAreNamedByTheExtensionsThatHaveALine) {
    const std::wstring longNumber = L"4930123456789012345", leftLongNumber = L"4930123456789012399";
    BuildLines({L"21", L"22", longNumber, leftLongNumber});
    Apply(Directory({L"21", longNumber}));
    const struct {
        std::wstring number;
        std::wstring name;
    } rows[] = {{L"21", L"Ext 21"}, {longNumber, L"Ext " + longNumber}, {L"22", L""}, {leftLongNumber, L""},
                {L"2", L""}, {longNumber.substr(0, kMaxAddressChars), L""}, {L"0301234567", L""}, {L"", L""}};
    CProviderLockGuard lock(LockOwner::DispatchEvents);
    for (const auto& row : rows) EXPECT_EQ(AccountExtensionName(row.number), row.name) << row.number;
}

}  // namespace
