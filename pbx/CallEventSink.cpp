#include "pbx/CallEventSink.h"

CallEventSink g_CallEventSink;
