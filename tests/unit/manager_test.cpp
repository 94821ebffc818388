// The manager's asynchronous reply path.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "manager/CGenericTSPIManager.h"
#include "model/ProviderState.h"
#include "model/TapiDefs.h"
#include "support/TraceCapture.h"

namespace {

std::vector<std::pair<DWORD, LONG>> g_completions;

void CALLBACK RecordCompletion(DRV_REQUESTID dwRequestID, LONG lResult) { g_completions.push_back({dwRequestID, lResult}); }

// Without a completion procedure the reply is only traced.
TEST(ManagerTest, SendReplyReachesTheCompletionProcedure) {
    g_completions.clear();
    g_pfnAsyncCompletion = &RecordCompletion;
    g_Manager.SendReply(17, LINEERR_OPERATIONFAILED);
    g_pfnAsyncCompletion = nullptr;
    CTraceCapture capture(6);
    g_Manager.SendReply(5, 0);
    EXPECT_EQ(g_completions, (std::vector<std::pair<DWORD, LONG>>{{17, LINEERR_OPERATIONFAILED}}));
    EXPECT_TRUE(capture.Contains(L"Func.CTspiManager::SendReply.Param._dwRequestID 5"));
}

}  // namespace
