// The process-wide objects with constructors, in the order they must be built:
// the trace log first (everything traces), the manager last. They are
// destroyed in reverse, so the manager's closing lines still reach the log.
#include "log/Trace.h"
#include "manager/CGenericTSPIManager.h"

CLoggingFileWithEvent TraceLog;
CGenericTSPIManager g_Manager;
