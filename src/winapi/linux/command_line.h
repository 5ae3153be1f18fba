// The Windows-style command line of the Linux layer: built from argv for
// GetCommandLineA, and the tail after the program name that WinMain receives.
#pragma once

#include <stddef.h>

#include <string>
#include <vector>

// One line that the program's tokenizer reads back to the items the user
// gave: argv[0] in double quotes, without any double quote it holds; an
// element starting with "-", or with "/" when every switch name in it is a
// switch word of the tool or no further "/" comes before its first ":", as
// written but with everything after that ":" in double quotes; any other
// element (the empty one too) in double quotes. Elements are joined by one
// blank. An element after argv[0] that holds a double quote cannot be
// carried: it is left out, and added to `uncarried` when given.
std::string BuildCommandLine(int argc, const char* const* argv,
                             std::vector<std::string>* uncarried = nullptr);

// Where, in `line`, the command line that WinMain receives starts: after the
// program name (quoted or not) and the blanks that follow it.
size_t CommandLineTailOffset(const char* line);
