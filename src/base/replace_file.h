// Writing a file's new content so that it is never seen half written: a
// replacement file beside it, flushed, then put in the target's place in one
// step, with a claim that keeps other runs out meanwhile.
#pragma once

#include "base/file.h"
#include "base/string.h"

// The new content of one file on its way to the file's place. The
// replacement file (the target's name with ".TMP" added) is held from Claim
// to the end of the object, and another run's claim of the same target is
// refused meanwhile. The claim is what guards the target while nobody holds
// it: Windows renames over no file that a handle holds, so a run that has
// read the target under its own lock lets go of it before the rename, and
// a run that opens the target in that moment is refused the claim before it
// has used what it read.
class ClFileReplacement {
 public:
  ClFileReplacement() = default;
  ClFileReplacement(const ClFileReplacement&) = delete;
  ClFileReplacement& operator=(const ClFileReplacement&) = delete;
  // Removes a replacement file that was not put in place; a committed one,
  // now the target, is only let go.
  ~ClFileReplacement();

  // Claims the replacement of `target`. Where the replacement file cannot
  // be made for want of room (a folder that takes no new file, a name too
  // long, a missing folder) the target stays unclaimed. Any other failure,
  // another run's claim (ERROR_SHARING_VIOLATION) included, throws
  // ClFileException("Cannot open file") naming `target`.
  void Claim(const ClString& target);
  bool IsClaimed() const { return file_.IsOpen(); }

  // Writes `size` bytes as the new content of the claimed target and puts
  // them in its place in one step. A target that exists keeps its
  // permissions (ReplaceFileInOneStep); one that does not is created, but
  // never over a file that appeared meanwhile. A read-only target or a
  // folder throws ClFileException(ERROR_ACCESS_DENIED, "Cannot open file")
  // before anything is written. Returns false, having written nothing, when
  // unclaimed or when the replacement cannot be moved into place (another
  // file system): the caller then rewrites in place. Any other failure
  // throws ClFileException naming the target, which is then untouched. No
  // handle of this process may hold the target meanwhile.
  bool Commit(const void* data, DWORD size);

 private:
  ClString target_;
  ClString name_;
  ClFile file_;
  bool committed_ = false;
};

// Claims and commits in one call, for a target that no run holds otherwise.
bool WriteByReplacing(const ClString& target, const void* data, DWORD size);
