// The process-wide objects with constructors, in the order they must be built:
// the trace log first (everything traces), the manager last. They are
// destroyed in reverse, so the manager's closing lines still reach the log.
#include "config/CPredialNumbers.h"
#include "config/CSharedMem.h"
#include "http/CHTTPContactEvent.h"
#include "log/Trace.h"
#include "manager/BackgroundThreads.h"
#include "manager/CGenericTSPIManager.h"
#include "model/LineTable.h"
#include "pbx/ExtensionDirectory.h"

CLoggingFileWithEvent TraceLog;
CSharedMem g_SharedMem;
CPredialNumbers g_Predial;
std::deque<PhoneLine> g_PhoneLines;
std::vector<ExtensionInfo> g_Extensions;
std::map<std::wstring, ExtensionInfo> g_ExtensionMap;
CHTTPContactLog g_CommandClient(ClientAnswerSize);
CHTTPContactLog g_SessionClient(ClientAnswerSize);
CHTTPContactEvent g_EventClient(ClientAnswerSize);
CGenericTSPIManager g_Manager;
CNwObserve g_NwObserve;
