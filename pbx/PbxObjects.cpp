// The extension directory as last read (common/ConstructionOrder.h).
#include "common/ConstructionOrder.h"
#include "pbx/ExtensionDirectory.h"

std::vector<ExtensionInfo> g_Extensions ORVO_BUILT_IN_ORDER(ORVO_ORDER_PBX);
