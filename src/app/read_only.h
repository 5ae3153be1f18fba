// Read-only targets: a read-only header, batch file or environment file is
// taken to be protected by SourceSafe; under /c it is checked out before it is
// written.
#pragma once

#include "app/counter_options.h"

enum class Target { kHeader, kBatchFile, kEnvFile };

// Returns when `path` may be written: it does not exist, it is not
// read-only, or it was checked out (under /c). Throws otherwise. The run's one
// SourceSafe session is made on the first check-out and lives until exit.
void EnsureWritable(const ClString& path, Target target, const CounterOptions& options);
