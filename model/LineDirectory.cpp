#include "model/LineDirectory.h"

LineDirectory g_LineDirectory;
