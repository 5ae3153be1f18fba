// The one gateway to the Win32 API. Every file outside src/winapi reaches the
// operating system through this header and never includes a system header
// itself. On Windows it is the real API; on Linux it declares our own layer
// (src/winapi/linux), which keeps the Win32 names, types, constants and error
// codes and implements only the calls this program makes.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0501  // Windows XP: the oldest system we still run on.
#undef WINVER
#define WINVER _WIN32_WINNT

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

// Wide literals: WCHAR is wchar_t on Windows and char16_t on Linux.
#define WIDE(s) L##s

// The CompareString flags under which two paths name the same file.
constexpr DWORD kPathCompareFlags = NORM_IGNORECASE;

#else  // Linux: our layer.

#include "winapi/linux/api.h"
#include "winapi/linux/com_types.h"
#include "winapi/linux/types.h"

#define WIDE(s) u##s

// Letter case tells file names apart here.
constexpr DWORD kPathCompareFlags = 0;

#endif

// What both platforms share beyond the Win32 API proper.
#include "winapi/portable.h"
