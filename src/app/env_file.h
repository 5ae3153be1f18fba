// The environment file of /e: the batch file's sibling for POSIX shells,
// make, docker --env-file and CI runners, one line "NAME=N" and a line feed.
#pragma once

#include "app/counter_options.h"
#include "base/replace_file.h"

// Completes `options.envFile` (default: the header's name; extension forced
// to "env", so that it never names the header or the batch file), makes it
// writable (read-only flow), claims it in `env` and checks that it can be
// written, all before the header is written. Throws whatever refuses it.
void PrepareEnvFile(CounterOptions& options, ClFileReplacement& env);
// Writes the prepared environment file whole.
void WriteEnvFile(const CounterOptions& options, ClFileReplacement& env, DWORD number);
