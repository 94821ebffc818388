// The line table (common/ConstructionOrder.h).
#include "common/ConstructionOrder.h"
#include "model/LineTable.h"

std::deque<PhoneLine> g_PhoneLines ORVO_BUILT_IN_ORDER(ORVO_ORDER_MODEL);
