// Questions and messages with Win32 message-box styles and answers, asked on
// the console by single keys, with a window message box where the console
// cannot be used.
#pragma once

#include "base/string.h"
#include "winapi/winapi.h"

// Shows `text` on the console with the prompt of the style's button set and
// returns the answer (IDOK, IDYES, ...) read as one key without echo. Falls
// back to a window message box when the console cannot show the text or give
// an answer; 0 only when that box fails. A style of 0 means MB_OK with the
// information icon.
int ConsoleMessageBox(const ClString& text, UINT style, HWND owner, const char* caption);
// One character from standard input (a key without echo on a console), or 0
// when none could be read.
char ReadConsoleKey();
// Through the current application object when there is one, else
// ConsoleMessageBox directly.
int AppMessageBox(const ClString& text, UINT style, HWND owner, const char* caption);
// Shows an error report with the exclamation style; never lets an exception
// out (a failure only beeps).
void ShowError(const ClString& text);
