// The one translation from errno to Win32 error codes, for every file of the
// layer. FormatMessageA later gives, for the code set here, the text of the
// errno behind it.
#pragma once

#include "winapi/linux/types.h"

// `path`, when given, is the name the failing call was about: ENOENT then
// gives ERROR_PATH_NOT_FOUND when a folder on the way is missing.
DWORD Win32ErrorFromErrno(int error, const char* path = nullptr);
// SetLastError(Win32ErrorFromErrno(error, path)), remembering the errno.
void SetLastErrorFromErrno(int error, const char* path = nullptr);
