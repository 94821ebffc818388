// One PBX simulator for all the cases of a test suite (its start is the slow
// part), and the session's settings pointed at its demo account before each
// case. TFixture is the fixture the suite builds on otherwise.
#pragma once

#include <gtest/gtest.h>

#include "config/Settings.h"
#include "pbx/SessionState.h"
#include "support/PbxSim.h"
#include "support/TestFiles.h"

template <class TFixture>
class SuiteSimulatorFixture : public TFixture {
protected:
    static void SetUpTestSuite() {
        s_sim = new PbxSim;
        ASSERT_TRUE(s_sim->Start()) << ToUtf8(s_sim->Error());
    }
    static void TearDownTestSuite() {
        delete s_sim;
        s_sim = nullptr;
    }

    void SetUp() override {
        TFixture::SetUp();
        ASSERT_NE(s_sim, nullptr);
        g_sBaseURL = s_sim->ApiBaseUrl();
        g_sUserName = L"lena.muster";  // the simulator's demo account
        g_sPassword = L"Demo-Pass-2024";
        g_bIgnoreCertErrors = 0;
    }

    inline static PbxSim* s_sim = nullptr;
};
