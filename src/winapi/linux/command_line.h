// The Windows-style command line of the Linux layer: built from argv for
// GetCommandLineA, and the tail after the program name that WinMain receives.
#pragma once

#include <stddef.h>

#include <string>

// One line that the program's tokenizer reads back to the items the user
// gave: argv[0] in double quotes; an element starting with "-", or with "/"
// when every switch name in it is a switch word of the tool, as written but
// with everything after its first ":" in double quotes; any other element
// (the empty one too) in double quotes; an element holding a double quote as
// written. Elements are joined by one blank.
std::string BuildCommandLine(int argc, const char* const* argv);

// Where, in `line`, the command line that WinMain receives starts: after the
// program name (quoted or not) and the blanks that follow it.
size_t CommandLineTailOffset(const char* line);
