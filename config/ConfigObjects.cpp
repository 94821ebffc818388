// The process-wide settings objects, built after the trace log
// (common/ConstructionOrder.h): reading the dialing location traces.
#include "common/ConstructionOrder.h"
#include "config/CPredialNumbers.h"
#include "config/CSharedMem.h"

CSharedMem g_SharedMem ORVO_BUILT_IN_ORDER(ORVO_ORDER_CONFIG);
CPredialNumbers g_Predial ORVO_BUILT_IN_ORDER(ORVO_ORDER_CONFIG);
