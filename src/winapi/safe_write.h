// The one way this program writes a file whose old text must survive every
// failure: the counter header, the batch file and the SourceSafe server's
// database files all go through SafeWrite. Whatever happens (a full disk, a
// size limit, a kill, a failing call, a hostile name beside the target), the
// target holds its old text or its new text, never anything else, and no
// write reaches a file that the user could not have written.
//
// The contract, step by step:
//
// 1. Claim. The target's name is resolved to the file it leads to (links
//    followed), so that every name of one file meets at one claim:
//    - the claim file "<file>.TMP" beside that file, made exclusively. A name
//      that is there already is taken over only when it is our own stale
//      claim: a regular file, not a link, owned by the user, with one link,
//      that no run holds. Anything else there (a link, a FIFO, a folder,
//      another user's file, a file with a second name) is never opened for
//      writing, followed or removed: the run then writes in place (step 4).
//    - on Linux also a lock on the existing file itself, which all its names
//      (hard links too) share.
//    A claim that another run holds fails at once with
//    ERROR_SHARING_VIOLATION. The claim lasts until the object ends; a claim
//    file that was not put in place is removed then, while still held.
// 2. Check, before any byte of any target is written: the target is absent
//    (and its folder takes a new file), or a regular file (also through a
//    link) that the user may write. A read-only file or a folder gives
//    ERROR_ACCESS_DENIED, a FIFO, socket or device ERROR_BAD_FILE_TYPE, as
//    opening the target for writing would; nothing blocks.
// 3. Replace, where a rename keeps all that the target is: the new text goes
//    into the claim file, which gets the target's owner and permissions and
//    is flushed, then renamed over the target in one step, and the folder is
//    flushed. Not taken, in favour of step 4, when the target has a second
//    hard link, an access list or an owner that the user cannot give, and
//    not when the claim file cannot be made or filled (a folder that takes no
//    new file, a full disk) or renamed (another file system, a sticky folder).
// 4. In place, otherwise: the target is opened under its lock, room for the
//    new text is taken first, so that a full disk or a size limit fails
//    before any byte changes; then the text is written, a longer old text is
//    cut, and the file is flushed. A write that fails half way puts the old
//    bytes back.
//
// Failures return false with the last error set and tell their step, so
// that a caller can report "cannot open", "cannot write" or "cannot move".
// No descriptor of this object ever is 0, 1 or 2 on Linux: a closed standard
// handle stays closed.
#pragma once

#include <string>

#include "winapi/winapi.h"

class SafeWrite {
 public:
  enum class Step { kNone, kOpen, kWrite, kMove };

  SafeWrite() = default;
  SafeWrite(const SafeWrite&) = delete;
  SafeWrite& operator=(const SafeWrite&) = delete;
  ~SafeWrite() { Release(); }

  // Step 1 for `target`. False when another run holds the claim or the names
  // cannot be looked at; a claim file that cannot be made is no failure.
  bool Claim(const char* target);
  // Step 2. May be called again after the target changed (a check-out).
  bool Check();
  // Steps 3 or 4: `size` bytes become the target's whole text. Check() is
  // made first when it was not made since the claim.
  bool Commit(const void* data, size_t size);

  // The step of the last failure.
  Step FailedStep() const { return failedStep_; }
  // The claim file's name, for a report of a failed rename.
  const std::string& ClaimFileName() const { return claimName_; }

 private:
#ifdef _WIN32
  using File = HANDLE;
  static inline const File kNoFile = INVALID_HANDLE_VALUE;
#else
  using File = int;
  static constexpr File kNoFile = -1;
#endif
  bool Fail(Step step) {
    failedStep_ = step;
    return false;
  }
  bool WriteInPlace(const void* data, size_t size);
  bool Replace(const void* data, size_t size);
  void Release();

  std::string file_;       // the file the target's name leads to
  std::string claimName_;  // file_ + ".TMP"
  File claimFile_ = kNoFile;
  File lockedTarget_ = kNoFile;  // Linux: the target's own lock
  bool checked_ = false;
  bool exists_ = false;
  bool inPlace_ = false;  // decided by the check
  bool committed_ = false;
  Step failedStep_ = Step::kNone;
};
