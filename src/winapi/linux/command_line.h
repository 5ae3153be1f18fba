// The Windows-style command line of the Linux layer: built from argv for
// GetCommandLineA, and the tail after the program name that WinMain receives.
#pragma once

#include <stddef.h>

#include <string>
#include <vector>

// One line that the program's tokenizer reads back to the items the user
// gave, as a Windows console reads the same words typed with blanks between
// them, with the rules of Linux where a console could not type them:
// argv[0] in double quotes, without any double quote it holds; an element
// starting with "-", or with "/" when every switch name in it is a switch
// word of the tool or no further "/" comes before its first ":", is a switch
// group, written as given but with everything after that ":" in double
// quotes; any other element (the empty one too) in double quotes, so that a
// path or a hyphen inside a name stays one word. Across elements a prefix at
// the end of a word takes the next word as its name, a ":" word after a
// switch name starts its value, and an empty value takes the next word that
// is no switch. An element after argv[0] that holds a double quote cannot
// be carried: it is added to `uncarried`, when given, and a stand-in item
// takes its place (see UncarriedNumber).
std::string BuildCommandLine(int argc, const char* const* argv,
                             std::vector<std::string>* uncarried = nullptr);

// The number, in `uncarried`, of the element that a command-line item of a
// rebuilt line stands in for, or -1 for an item of the user's own.
long UncarriedNumber(const char* item);

// Where, in `line`, the command line that WinMain receives starts: after the
// program name (quoted or not) and the blanks that follow it.
size_t CommandLineTailOffset(const char* line);
