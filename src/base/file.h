// Files: a thin owner of a Win32 file handle for reading, whose failures are
// thrown as ClFileException naming the file, and full path names.
#pragma once

#include "base/string.h"
#include "winapi/scoped_handle.h"
#include "winapi/winapi.h"

class ClFile {
 public:
  ClFile() = default;
  ClFile(const ClFile&) = delete;
  ClFile& operator=(const ClFile&) = delete;

  // Opens `fileName` for reading, shared with no other handle, or throws
  // ClFileException ("Cannot open file") naming it. Callers close an open
  // file first.
  void Open(const ClString& fileName);
  // Closes an open file and forgets its name; never fails.
  void Close();
  // The size of the open file; a file of 4 GiB or more throws.
  DWORD GetSize();
  // `out` receives at most `count` bytes read from the current position, as
  // they are (a NUL byte ends the text for every C-string use).
  void ReadString(ClString& out, DWORD count);

 private:
  ClString name;
  ScopedHandle<FileHandleTraits> handle;
};

// `out` receives the full path of `name`, or with `directoryOnly` its
// directory with the trailing separator.
void GetFullPath(ClString& out, const char* name, bool directoryOnly = false);
