// The batch file of /b: one line that sets a variable named like the macro
// to the build number.
#pragma once

#include "app/counter_options.h"
#include "base/replace_file.h"

// Completes `options.batFile` (default: the header's name; extension forced
// to "bat"), makes it writable (read-only flow), claims it in `batch` and
// checks that it can be written, all before the header is written. Throws
// whatever refuses it.
void PrepareBatchFile(CounterOptions& options, ClFileReplacement& batch);
// Writes the prepared batch file whole.
void WriteBatchFile(const CounterOptions& options, ClFileReplacement& batch, DWORD number);
