// The string table: loading entries by id, with a fallback text for a
// missing one, and printf-style formatting into a ClString.
#pragma once

#include "base/string.h"
#include "res/string_ids.h"
#include "winapi/winapi.h"

// The program's own module, whose string table every load uses unless a
// caller names another. Recorded at start-up.
extern HINSTANCE programModule;

// Appends entry `id` of `module` to `text`. True when the entry exists and
// is not empty; otherwise false and `text` is left as it was.
bool AppendResString(ClString& text, UINT id, HMODULE module = programModule);
// Appends entry `id`, or " <string %u not found> " with the id in its place.
// Callers empty `text` first, so in use it sets `text` to the entry.
void LoadResString(ClString& text, UINT id, HMODULE module = programModule);

// Appends the printf-style `format` filled with the arguments to `text`.
void FormatText(ClString& text, const char* format, ...) __attribute__((format(printf, 2, 3)));
void FormatTextV(ClString& text, const char* format, va_list args)
    __attribute__((format(printf, 2, 0)));
// Sets `text` to entry `id` of the program's module used as a printf-style
// format. A missing entry yields the loader's fallback text, arguments unused.
void FormatResString(ClString& text, UINT id, ...);
void FormatResStringV(ClString& text, UINT id, va_list args);
