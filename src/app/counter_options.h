// The options of one run, filled from the command line and read by the
// counter update.
#pragma once

#include "base/string.h"

struct CounterOptions {
  ClString headerFile;       // positional argument 1; default "Tickwright.h"
  ClString buildName;        // positional argument 2; default "BUILD_NUMBER"
  ClString batFile;          // the value of /b; default the header's name
  ClString envFile;          // the value of /e; default the header's name
  bool interactive = false;  // /i: ask before incrementing
  bool makeBatFile = false;  // /b: also write the batch file
  bool makeEnvFile = false;  // /e: also write the environment file
  bool checkOut = false;     // /c: check read-only targets out of SourceSafe
  bool noIncrement = false;  // /n: leave the number unchanged
};
