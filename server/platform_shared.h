// What the server's platform files give each other: platform.cpp holds what
// both systems share, platform_posix.cpp and platform_win32.cpp what each
// does its own way. Not for the rest of the server, which uses platform.h.
#pragma once

#include <string>

#include "winapi/winapi.h"

// What a read reports when the file changed under it.
extern const char kChangedWhileRead[];
// What a lock reports when another program held it for the whole wait.
extern const char kHeldTooLong[];
// How often a held lock is tried again while FileLock::Acquire waits.
constexpr unsigned kLockRetryMs = 20;

// Sets `error` (when given) to the system's text of a Win32 error code (the
// layer's on Linux), without its line break.
void SetWin32Error(std::string* error, DWORD code);
