// The process's PBX clients (common/ConstructionOrder.h).
#include "common/ConstructionOrder.h"
#include "http/CHTTPContactEvent.h"
#include "http/CHTTPContactLog.h"

CHTTPContactLog g_CommandClient ORVO_BUILT_IN_ORDER(ORVO_ORDER_HTTP)(ClientAnswerSize);
CHTTPContactLog g_SessionClient ORVO_BUILT_IN_ORDER(ORVO_ORDER_HTTP)(ClientAnswerSize);
CHTTPContactEvent g_EventClient ORVO_BUILT_IN_ORDER(ORVO_ORDER_HTTP)(ClientAnswerSize);
