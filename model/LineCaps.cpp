#include "model/LineCaps.h"

#include "log/Trace.h"

void LineCapsInit() {
    CFuncTrace trace(3, L"LineCapsInit");
    trace.End();
}

void LineCapsDelete() {
    CFuncTrace trace(3, L"LineCapsDelete");
    trace.End();
}
