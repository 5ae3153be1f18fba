// One line of text to standard output, reaching the user by another road
// when the console cannot take it.
#pragma once

#include "base/string.h"
#include "winapi/winapi.h"

// Writes `length` bytes of the NUL-terminated `text` and then CR LF. True
// only when both went to a console. A redirected output gets the text too
// (and the result is false); without `noFallback`, text that reached no
// output is shown in a window message box.
bool ConsolePrint(const char* text, DWORD length, bool noFallback = false);
inline bool ConsolePrint(const ClString& text, bool noFallback = false) {
  return ConsolePrint(text.GetText(), text.GetLength(), noFallback);
}
