// The new text of a file that must never be seen half written (the counter
// header, the batch file, the environment file), for the class library:
// SafeWrite's steps, with their failures thrown as ClFileException naming
// the target.
#pragma once

#include "base/string.h"
#include "winapi/safe_write.h"

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
