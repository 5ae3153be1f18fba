// Writing a file's new content so that it is never seen half written: a
// temporary file in the same folder, flushed, then put in the target's place
// in one step.
#pragma once

#include "base/string.h"

// Writes `size` bytes as the new content of `target`. A target that exists
// keeps its permissions; one that does not is created, but never over a file
// that appeared meanwhile. Returns false, having written nothing, when the
// target's folder takes no new file or the temporary cannot be moved into
// place (a folder on another file system): the caller then rewrites in place.
// Any other failure throws ClFileException naming `target`; the target is
// then untouched and the temporary file removed.
bool WriteByReplacing(const ClString& target, const void* data, DWORD size);
