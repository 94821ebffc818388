// The manager and the network observer, the last process-wide objects built
// and the first destroyed (common/ConstructionOrder.h), so the manager's
// closing lines still reach the log.
#include "common/ConstructionOrder.h"
#include "manager/BackgroundThreads.h"
#include "manager/CGenericTSPIManager.h"

CGenericTSPIManager g_Manager ORVO_BUILT_IN_ORDER(ORVO_ORDER_MANAGER);
CNwObserve g_NwObserve ORVO_BUILT_IN_ORDER(ORVO_ORDER_MANAGER);
