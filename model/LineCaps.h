// The TAPI records of every line: built when the provider starts, freed when it stops.
#pragma once

// Builds the line record of every line index below the device count.
void LineCapsInit();
// Frees the line records' TAPI records.
void LineCapsDelete();
