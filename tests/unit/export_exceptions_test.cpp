// Nothing thrown gets across an export: an allocation failure ends it with
// the NOMEM code of its family, any other exception with OPERATIONFAILED,
// traced, and the ProviderLock is left.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/BoundedString.h"
#include "manager/DeviceSet.h"
#include "model/LineTable.h"
#include "model/ProviderLock.h"
#include "model/ProviderState.h"
#include "provider/ExportGuards.h"
#include "provider/TspiExports.h"
#include "support/LineModelFixture.h"
#include "support/TraceCapture.h"

namespace {

enum class Throw { Nothing, BadAlloc, RuntimeError, Int };

const struct {
    const char* pszName;
    Throw what;
    std::wstring warning;  // after "Func.<export>.Warning."
    bool bNoMemory;
} kExceptions[] = {
    {"std::bad_alloc", Throw::BadAlloc, L"Exception.Out of memory", true},
    {"std::runtime_error", Throw::RuntimeError, L"Exception", false},
    {"int", Throw::Int, L"Exception", false},
};

void ThrowIt(Throw what) {
    switch (what) {
        case Throw::BadAlloc: throw std::bad_alloc();
        case Throw::RuntimeError: throw std::runtime_error("broken");
        case Throw::Int: throw 7;
        case Throw::Nothing: break;
    }
}

// TAPI's line event procedure, throwing once when armed: an exception raised
// deep inside an export's body, where an allocation could fail as well.
Throw g_armed = Throw::Nothing;
void CALLBACK ThrowingEventProc(HTAPILINE, HTAPICALL, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    const Throw what = g_armed;
    g_armed = Throw::Nothing;
    ThrowIt(what);
}

class ExportExceptionsTest : public LineModelFixture {
protected:
    void TearDown() override {
        g_armed = Throw::Nothing;
        g_hProvider = nullptr;
        LineModelFixture::TearDown();
    }

    // The result and the trace lines of one run; the lock must be free afterwards.
    void ExpectCaught(const std::wstring& exportName, const std::function<LONG()>& run, LONG lExpected,
                      const std::wstring& warning) {
        CTraceCapture capture(6);
        EXPECT_EQ(run(), lExpected);
        EXPECT_TRUE(capture.Contains(L"Func." + exportName + L".Warning." + warning)) << "no warning traced";
        wchar_t szEnd[64];
        StrFormat(szEnd, L".End.Result 0x%08X", static_cast<DWORD>(lExpected));
        EXPECT_TRUE(capture.Contains(L"Func." + exportName + szEnd)) << "no end line";
        EXPECT_TRUE(LockIsFree());
    }
};

// The locked run is the next test's, through real exports.
TEST_F(ExportExceptionsTest, TheExportRunsTurnEveryExceptionIntoTheFamilysResult) {
    const struct {
        const char* pszName;
        std::function<LONG(Throw)> run;
        LONG lNoMemory, lFailed;
    } runs[] = {
        {"line export",
         [](Throw what) { return RunExport(L"TestExport", [&](const CFuncTrace&) -> LONG { ThrowIt(what); return 42; }); },
         LINEERR_NOMEM, LINEERR_OPERATIONFAILED},
        {"phone export",
         [](Throw what) {
             return RunExport(L"TestExport", [&](const CFuncTrace&) -> LONG { ThrowIt(what); return 42; }, kPhoneExport);
         },
         PHONEERR_NOMEM, PHONEERR_OPERATIONFAILED},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.pszName);
        EXPECT_EQ(r.run(Throw::Nothing), 42);
        for (const auto& e : kExceptions) {
            SCOPED_TRACE(e.pszName);
            ExpectCaught(L"TestExport", [&] { return r.run(e.what); }, e.bNoMemory ? r.lNoMemory : r.lFailed, e.warning);
        }
    }
}

TEST_F(ExportExceptionsTest, ACallbackThatThrowsIsToldOutsideTheExportAndLeavesTheLock) {
    const HTAPILINE htLine = reinterpret_cast<HTAPILINE>(static_cast<ULONG_PTR>(0x3000));
    HDRVLINE hdLine = nullptr;
    HDRVCALL hdCall = nullptr;
    // Each export with what makes it call TAPI back. TAPI is called back only
    // once the lock is let go; what a callback throws is caught and traced there.
    // (A placed call's messages wait for its completion, which comes later.)
    const struct {
        const wchar_t* pszExport;
        std::function<void()> prepare;
        std::function<LONG()> run;
    } exports[] = {
        {L"TSPI_lineOpen",
         [&] {
             // A call on the closed line whose features TAPI has not heard yet: the open announces them.
             AddCall(0, LINECALLSTATE_OFFERING);
             Call(0, 0)->m_qwReportedFeatures = 0;
         },
         [&] { return TSPI_lineOpen(kDeviceIDBase, htLine, &hdLine, 0x00020002, &ThrowingEventProc); }},
        {L"TSPI_providerCreateLineDevice",
         [&] {
             // A line announced and gone again before TAPI numbered it: numbering it tells TAPI it is removed.
             g_hProvider = reinterpret_cast<HPROVIDER>(static_cast<ULONG_PTR>(1));
             CProviderLockGuard lock(LockOwner::ReinitializeDevices);
             ApplyDirectory({{L"uuid-21", L"21", L"", L""}, {L"uuid-22", L"22", L"", L""},
                             {L"uuid-23", L"23", L"", L""}, {L"uuid-24", L"24", L"", L""}});
             ApplyDirectory({{L"uuid-21", L"21", L"", L""}, {L"uuid-22", L"22", L"", L""}, {L"uuid-23", L"23", L"", L""}});
             g_pLineEventProc = &ThrowingEventProc;
         },
         [&] { return TSPI_providerCreateLineDevice(3, 600); }},
    };
    for (const auto& x : exports) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(x.pszExport)));
        for (const auto& e : kExceptions) {
            SCOPED_TRACE(e.pszName);
            BuildLines({L"21", L"22", L"23"});
            g_pLineEventProc = &CEventRecorder::LineEvent;
            x.prepare();
            g_armed = e.what;
            CTraceCapture capture(6);
            EXPECT_NO_THROW(x.run());
            EXPECT_EQ(g_armed, Throw::Nothing) << "TAPI was never called back";
            EXPECT_TRUE(capture.Contains(L"Func.TellQueuedMessages.Warning.Exception in a TAPI callback"));
            EXPECT_TRUE(LockIsFree());
        }
    }
}

}  // namespace
