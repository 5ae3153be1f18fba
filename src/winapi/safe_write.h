// The one way this program writes a file whose old text must survive every
// failure. Through it go the counter header, the batch file and the
// environment file of the tool, and the SourceSafe server's database files
// and the COM registry's entries. (The server's journal is appended to and
// its lock file is never written; they follow the same checks of their own
// in server/.) Whatever happens to a run (a full disk, a size limit, a
// failing call, a kill at any moment, a hostile name beside the target), the
// target holds its old text or its new one, and no write reaches a file that
// the user could not have written.
//
// The contract, step by step:
//
// 1. Claim. The target's name is resolved to the file it leads to (links
//    followed), so that every name of one file meets at one claim:
//    - the claim file "<file>.TMP" beside that file, made exclusively and
//      readable and writable by its owner alone. A name that is there
//      already is taken over only when it is a stale claim of a killed run:
//      a regular file, not a link, owned by the user, with one link, that no
//      run holds, and empty or the start of a text that this program writes
//      there (the caller's OwnText says which). It is then removed and made
//      anew. Anything else there (a link, a FIFO, a folder, another user's
//      file, a file with a second name, the user's own text) is never opened
//      for writing, followed or removed: the run then writes in place.
//    - a lock on the existing file itself, which every name of it shares
//      (hard links, and bind mounts on Linux) and which needs no right to
//      write it. On Linux this process's own opens of the file through the
//      layer pass it, and every other open through the layer is refused; on
//      Windows it keeps out other runs only.
//    - where there is neither a claim file nor a file to lock (a new file
//      whose claim name is too long, or taken by a folder), a lock on the
//      folder, which keeps other such runs out.
//    A claim that another run holds fails at once with
//    ERROR_SHARING_VIOLATION. The claim lasts until the object ends; a claim
//    file that was not put in place is removed then, while still held.
// 2. Check: the target is absent (and its folder takes a new file), or a
//    regular file that the user may write. A read-only, append-only or
//    immutable file or a folder gives ERROR_ACCESS_DENIED, a FIFO, socket or
//    device ERROR_BAD_FILE_TYPE, as opening it for writing would; nothing
//    blocks. The check also decides the way of step 4: in place where a
//    rename would change what the file is or would fail (a second hard link,
//    a mount on the file or of it elsewhere, an access list, an owner that
//    the user cannot give, a sticky folder that keeps the user from
//    renaming over it, an append-only folder, no claim file).
// 3. Prepare: everything that can fail before the target changes. A name
//    that leads to the claim file of another SafeWrite of this process is
//    refused (ERROR_ACCESS_DENIED). To be renamed, the new text is written
//    into the claim file and flushed, and only then does the file get the
//    target's owner and mode: nobody else can open it before it holds the
//    whole text. (The folder's flush after the rename makes the owner and
//    mode last, as it makes the rename last.) In place, the target is opened under its lock, its
//    old text is kept, and room for a longer new text is taken (a full disk or a size limit fails
//    here). A claim file that cannot be filled for want of room gives way to the write in place.
// 4. Commit: the claim file is renamed over the target in one step and the
//    folder flushed; or, in place, the new text is written over the old one,
//    padded with line feeds to the old length when it is shorter, flushed,
//    and only then cut to its own length and flushed again. A write or cut
//    that fails puts the old text back.
//
// A caller with several targets claims and checks them all, prepares them
// all, and only then commits them, so that a target that cannot be written
// leaves every other one as it was.
//
// What others see meanwhile:
// - Replaced in one step, a reader sees the whole old text or the whole new
//   one; a kill or a power cut leaves one of them, and at most a stale claim
//   file, which the next run takes over.
// - In place, a reader that runs during the write may see old and new bytes
//   mixed: nothing keeps it out but this layer's share modes. A kill leaves
//   the old text, the new one, or the new one followed by line feeds (the
//   old length, before the cut). A power cut may leave a mixture.
//
// Failures return false with the last error set and tell their step, so
// that a caller can report "cannot open", "cannot write" or "cannot move".
// No descriptor of this object ever is 0, 1 or 2 on Linux: a closed standard
// handle stays closed. Objects of one thread; several may live at once.
#pragma once

#include <string>
#include <vector>

#include "winapi/scoped_handle.h"
#include "winapi/winapi.h"

struct stat;

class SafeWrite {
 public:
  enum class Step { kNone, kOpen, kWrite, kMove };
  // Whether `size` bytes found at the claim name are the start of a text
  // that this program writes to the target. An empty file always is.
  using OwnText = bool (*)(const char* data, size_t size);

  SafeWrite() = default;
  SafeWrite(const SafeWrite&) = delete;
  SafeWrite& operator=(const SafeWrite&) = delete;
  ~SafeWrite() { Release(); }

  // Step 1 for `target`. False when another run holds the claim or the names
  // cannot be looked at; a claim file that cannot be made is no failure.
  bool Claim(const char* target, OwnText ownText = nullptr);
  // Step 2. May be called again after the target changed (a check-out).
  bool Check();
  // Step 3: `size` bytes are to become the target's whole text. Made after
  // a check of its own where none was made since the claim.
  bool Prepare(const void* data, size_t size);
  // Step 4, after a successful Prepare.
  bool Commit();
  // Steps 3 and 4 for a caller with one target.
  bool Commit(const void* data, size_t size) { return Prepare(data, size) && Commit(); }

  // The step of the last failure.
  Step FailedStep() const { return failedStep_; }
  // The claim file's name, for a report of a failed rename.
  const std::string& ClaimFileName() const { return claimName_; }

#ifndef _WIN32
  // Whether a SafeWrite of this process holds the lock on the file that `st`
  // describes: the layer's own opens of that file take no share lock then,
  // which the claim's lock already is.
  static bool LocksFile(const struct stat& st);
#endif

 private:
  // Every SafeWrite of this process that holds a claim.
  static std::vector<const SafeWrite*>& Live();

  bool Fail(Step step) {
    failedStep_ = step;
    return false;
  }
  bool WriteInPlace();
  bool PutOldTextBack();
  bool LeadsToAnotherClaim() const;
  void Release();

  // The platform's primitives, in linux/ and windows/safe_write.cpp. Each
  // that fails sets the last error; "gives way" means false with
  // failedStep_ still kNone, and the write goes in place instead.
  bool ResolveTarget(const char* target);      // file_
  bool LockTarget();                           // lock_
  bool LockFolder();                           // lock_, on the target's folder
  bool TakeClaimFile();                        // claim_, or none: in place
  bool InspectTarget();                        // exists_, inPlace_ and what the claim file takes
  bool LeadsTo(const SafeWrite& other) const;  // file_ is other's claim file
  bool WithinSizeLimit(size_t size) const;
  bool FillClaimFile();       // text_; may give way
  bool MoveClaimFile();       // may give way
  bool OpenTarget();          // target_, oldText_; may create it
  bool Reserve(size_t size);  // room in target_ up to `size` bytes
  bool WriteAll(const ScopedFile& file, const char* data, size_t size);
  bool Flush(const ScopedFile& file);
  bool Cut(const ScopedFile& file, size_t size);
  void RemoveClaimFile();
  void RemoveCreatedTarget();

  std::string file_;       // the file the target's name leads to
  std::string claimName_;  // file_ + ".TMP"
  OwnText ownText_ = nullptr;
  ScopedFile claim_;           // the claim file, held until the object ends
  ScopedFile stale_;           // a stale claim taken over, held so that no run takes it too
  ScopedLock lock_;            // the target's own lock
  ScopedFile folder_;          // Linux: the target's folder, flushed after a rename
  ScopedFile target_;          // in place: the target, open from Prepare to Commit
  std::string text_;           // the new text; in place, padded to the old length
  size_t size_ = 0;            // the new text's own length
  std::vector<char> oldText_;  // in place: what a failed write puts back
  bool checked_ = false;
  bool exists_ = false;
  bool inPlace_ = false;  // decided by the check
  bool prepared_ = false;
  bool created_ = false;  // in place: the target was made by this object
  bool committed_ = false;
#ifdef _WIN32
  DWORD attributes_ = 0;  // the target's, for the claim file
#else
  unsigned owner_ = 0, group_ = 0, mode_ = 0;  // the target's, for the claim file
  // Device and inode of the locked target and of the claim file, so that
  // they are known without asking the system again.
  unsigned long long locked_[2] = {}, claimed_[2] = {};
#endif
  Step failedStep_ = Step::kNone;
};
