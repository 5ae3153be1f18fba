// The batch file of /b: one line that sets a variable named like the macro
// to the build number.
#pragma once

#include "app/counter_options.h"

// Completes `options.batFile` (default: the header's name; extension forced
// to "bat"), makes it writable (read-only flow) and writes it whole.
void WriteBatchFile(CounterOptions& options, DWORD number);
