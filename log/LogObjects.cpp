// The log's process-wide objects, built before every other layer's
// (common/ConstructionOrder.h): everything traces.
#include "common/ConstructionOrder.h"
#include "log/Trace.h"

// The rotation's file list is used by the trace log, so it outlives it.
std::vector<std::wstring> g_LogFileList ORVO_BUILT_IN_ORDER(ORVO_ORDER_LOG);
CLoggingFileWithEvent TraceLog ORVO_BUILT_IN_ORDER(ORVO_ORDER_LOG);
