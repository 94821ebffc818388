// The order in which the process-wide objects are built. Each layer defines
// its own in one file of its folder, in the order they need among
// themselves, and marks them with its layer's rank below: a lower rank is
// built earlier and destroyed later. So the trace log exists before anything
// that traces and outlives it, and the manager is built last and destroyed
// first, its closing lines still reaching the log. Objects without a rank are
// built after all of these.
#pragma once

#define ORVO_ORDER_LOG 1010
#define ORVO_ORDER_CONFIG 1020
#define ORVO_ORDER_HTTP 1030
#define ORVO_ORDER_PBX 1040
#define ORVO_ORDER_MODEL 1050
#define ORVO_ORDER_MANAGER 1060

#define ORVO_BUILT_IN_ORDER(rank) __attribute__((init_priority(rank)))
