// The counter header's format: the build number in its first line, and the
// text written from the string table's template.
#pragma once

#include "base/string.h"

// At most this many bytes of the header are read.
constexpr DWORD kHeaderBytesRead = 256;

// The build number of the first line of `text` (up to its first LF, then
// its first CR): "// " and a decimal number. Throws ClException with
// "Error parsing file" (naming `headerFile`) when the line does not begin
// with "// ", or "Error! Bad build number" with the trimmed rest (its
// control characters made visible) when no number follows.
DWORD ParseBuildNumber(const ClString& text, const ClString& headerFile);

// The "%u" scan of the C run time with one meaning on every platform:
// leading white space, one sign, then digits; a negative number wraps
// modulo 2^32 and one beyond 32 bits gives 4294967295. False when no digit
// follows.
bool ScanUnsigned(const char* text, DWORD& value);

// The header's whole text for `number`, naming the header's own file (the
// part of `headerFile` after its last separator) in its #include comment.
ClString FormatHeaderText(DWORD number, const ClString& headerFile, const ClString& buildName);

// Whether `size` bytes are the start of a text that this program writes
// from the string table's template `templateId` (the header's, the batch
// file's or the environment file's), for any number, name and build name:
// how a stale claim file of a killed run is told from a file of the user's.
bool IsStartOfOwnText(UINT templateId, const char* data, size_t size);
// IsStartOfOwnText for the header's template.
bool IsHeaderText(const char* data, size_t size);
