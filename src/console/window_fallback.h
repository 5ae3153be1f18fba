// The window side of the console dialogue: the process's console window,
// raising it, and window message boxes that may nest.
#pragma once

#include "winapi/winapi.h"

// Message boxes of the program showing now, minus one. Changed only by
// interlocked operations; above 0 after an increment, another box shows.
extern LONG messageBoxDepth;

// The window of this process's console (cached in the application object),
// or null.
HWND FindConsoleWindow();
// Restores a minimised window and brings it to the front; throws
// ClWin32Exception when its placement cannot be read.
void RaiseConsoleWindow(HWND window);
// MessageBoxA on a thread of its own (without owner), waited for; on the
// calling thread when no thread can be made.
int ThreadMessageBox(HWND owner, const char* text, const char* caption, UINT style);
