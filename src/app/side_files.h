// The files written beside the header with the same number: the batch file
// of /b ("@SET NAME=N" and CR LF, for cmd.exe) and the environment file of /e
// ("NAME=N" and a line feed, for sh, make, docker --env-file and CI runners).
#pragma once

#include "app/counter_options.h"
#include "app/read_only.h"
#include "base/file.h"

enum class SideFile { kBatch, kEnvironment };

// Completes the file's name in `options` (default: the header's name; its
// extension forced to "bat" or "env", so that it never names the header),
// claims it in `file`, makes it writable (read-only flow) and checks that it
// can be written: all before the header is written. Throws whatever refuses
// it.
void PrepareSideFile(SideFile which, CounterOptions& options, ClFileReplacement& file);
// Readies the file's text for `number` (ClFileReplacement::Prepare); the
// caller commits it once every file of the run is ready.
void PrepareSideFileText(SideFile which, const CounterOptions& options, ClFileReplacement& file,
                         DWORD number);
