// The command-line options: how one item of the command line changes the
// options record, and the messages for bad items.
#pragma once

#include "app/counter_options.h"
#include "base/tokenizer.h"

enum class ItemOutcome {
  kAccepted,  // applied (or ignored, as the program's own path)
  kBad,       // reported; parsing goes on, the run ends with 1
  kUsage,     // "?" or --help: the usage text was printed; the run ends with 0
  kVersion,   // --version: the run prints the banner alone and ends with 0
};

// Applies the item that `items` has just read: a positional argument or a
// switch (/i, /b[:file], /e[:file], /nologo, /c, /n, "?", --help, --version,
// with "/" or "-", in any letter case). Prints the message of a bad item or the usage text
// itself. An item that stands in for an argument the command line could not carry is a bad
// item that names that argument.
ItemOutcome ApplyCommandLineItem(const ClCommandLine& items, CounterOptions& options,
                                 bool& showBanner);

// A macro name that can stand in #define lines and a batch SET line: a C
// identifier that is no word of the preprocessor (defined, __VA_ARGS__...)
// and no operator name of C++ (and, or...).
bool IsValidBuildName(const ClString& name);
// A file name that puts nothing but its name into the generated files: no
// control characters.
bool IsValidFileName(const ClString& name);
