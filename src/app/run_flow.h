// The run flow: title, command line, banner, counter update, exit code.
#pragma once

#include "winapi/winapi.h"

// Runs the tool once; returns the exit code (0, or 1 for a bad command
// line). Failures leave as thrown ClException*.
int RunFlow(HINSTANCE instance, LPSTR commandLine, int show);
