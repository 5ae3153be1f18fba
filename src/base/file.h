// Files, for the class library, with failures thrown as ClFileException
// naming the file: a thin owner of a Win32 file handle for reading, the new
// text of a file that must never be seen half written (the counter header,
// the batch file, the environment file: SafeWrite's steps), and full path
// names.
#pragma once

#include "base/string.h"
#include "winapi/safe_write.h"
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

// One target from its claim to its new text. The claim keeps every other run
// away from the target (through any of its names) until the object ends, so
// that a run can read the target, let go of it, have it checked out and then
// write it, with nobody reading or writing in between.
class ClFileReplacement {
 public:
  ClFileReplacement() = default;
  ClFileReplacement(const ClFileReplacement&) = delete;
  ClFileReplacement& operator=(const ClFileReplacement&) = delete;

  // Claims `target`; `ownText` tells a stale claim of a killed run from a
  // file of the user's. Another run's claim (ERROR_SHARING_VIOLATION) and
  // any name that cannot be looked at throw ClFileException("Cannot open
  // file").
  void Claim(const ClString& target, SafeWrite::OwnText ownText);
  // Throws ClFileException("Cannot open file") with the error that opening
  // the target for writing would give: a read-only file or a folder
  // (ERROR_ACCESS_DENIED), a FIFO or device, a missing folder. Nothing is
  // written; made again by Commit.
  void Check();
  // Readies `size` bytes to become the target's whole text: all that can
  // fail before the target changes. Throws ClFileException naming the
  // target ("Cannot open file" or "ERROR writing file").
  void Prepare(const void* data, DWORD size);
  // Makes the prepared text the target's, or throws ClFileException naming
  // the target ("ERROR writing file", or "Cannot rename or move file"
  // naming both files); the target then holds its old text.
  void Commit();

 private:
  [[noreturn]] void Throw();

  ClString target_;
  SafeWrite write_;
};

// `out` receives the full path of `name`, or with `directoryOnly` its
// directory with the trailing separator.
void GetFullPath(ClString& out, const char* name, bool directoryOnly = false);
