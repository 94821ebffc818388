// The manager's operation table and its asynchronous reply path.
#include <gtest/gtest.h>

#include <vector>

#include "manager/CGenericTSPIManager.h"
#include "manager/ProviderState.h"
#include "model/TapiDefs.h"
#include "support/TraceCapture.h"

namespace {

TEST(ManagerTest, UnusedLineRequestsAreRefusedAndOpenCloseDefaultToSuccess) {
    CTspiManager& manager = g_Manager;
    int dummy = 0;
    void* p = &dummy;
    const std::vector<std::pair<int, LONG>> results = {
        {12, manager.LineRequest12(p, 1)},    {13, manager.LineRequest13(p, p, 1)},
        {14, manager.LineRequest14(p, 1)},    {15, manager.LineRequest15(p, 1, p)},
        {17, manager.LineRequest17(p, p, 1)}, {18, manager.LineRequest18(p, 1, 1)},
        {19, manager.LineRequest19(p, 1, p)}, {21, manager.LineRequest21(p, 1, p)},
        {22, manager.LineRequest22(p, 1, 1)}, {23, manager.LineRequest23(p, 1)},
        {26, manager.LineRequest26(p, 1, p)}, {27, manager.LineRequest27(p, p, 1)},
        {28, manager.LineRequest28(p, 1, p)}, {29, manager.LineRequest29(p, 1)},
        {30, manager.LineRequest30(p, 1)},    {31, manager.LineRequest31(p, 1)},
        {32, manager.LineRequest32(p, p, 1)}, {42, g_Manager.Reserved42(p, 1)},
    };
    for (const auto& [slot, result] : results) EXPECT_EQ(result, LINEERR_OPERATIONUNAVAIL) << "slot " << slot;

    EXPECT_EQ(manager.CTspiManager::LineOpen(nullptr), 0);
    EXPECT_EQ(manager.CTspiManager::LineClose(nullptr), 0);
    EXPECT_EQ(manager.CTspiManager::LineMakeCall(nullptr, 1, L"123"), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(manager.CTspiManager::LineDrop(nullptr, 1), LINEERR_OPERATIONUNAVAIL);
}

struct Completion {
    DWORD dwRequestID;
    LONG lResult;
};
std::vector<Completion> g_completions;

void CALLBACK RecordCompletion(DRV_REQUESTID dwRequestID, LONG lResult) {
    g_completions.push_back({dwRequestID, lResult});
}

TEST(ManagerTest, SendReplyReachesTheCompletionProcedure) {
    g_completions.clear();
    g_pfnAsyncCompletion = &RecordCompletion;
    g_Manager.SendReply(17, LINEERR_OPERATIONFAILED);
    g_pfnAsyncCompletion = nullptr;
    ASSERT_EQ(g_completions.size(), 1u);
    EXPECT_EQ(g_completions[0].dwRequestID, 17u);
    EXPECT_EQ(g_completions[0].lResult, LINEERR_OPERATIONFAILED);
}

TEST(ManagerTest, SendReplyWithoutCompletionProcedureOnlyTraces) {
    CTraceCapture capture(6);
    g_completions.clear();
    g_pfnAsyncCompletion = nullptr;
    g_Manager.SendReply(5, 0);
    EXPECT_TRUE(g_completions.empty());
    EXPECT_TRUE(capture.Contains(L"Func.CTspiManager::SendReply.Param._dwRequestID 5"));
}

}  // namespace
