// SafeWrite on Linux (the contract is in winapi/safe_write.h). Linux adds
// owners, permission bits and access lists, hard and symbolic links, FIFOs,
// sticky folders and RLIMIT_FSIZE to what Windows knows. Each is decided with
// the user's effective ids before anything is written, never by trying.
//
// Two locks make a claim: an flock() on the claim file, and an open-file-
// description lock (F_OFD_SETLK) on the existing target. The latter is
// shared by every name of the file, and it never meets the flock() that the
// layer's CreateFileA takes as a share mode, so the caller can still read
// the target under its own share mode while the claim stands.
#include "winapi/safe_write.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "winapi/linux/last_error.h"
#include "winapi/linux/syscalls.h"

namespace {

constexpr int kMaxLinks = 40;
// How often a name that keeps changing under us is looked at again.
constexpr int kAttempts = 8;
constexpr char kAccessList[] = "system.posix_acl_access";

void CloseKeepingErrno(int fd) {
  const int saved = errno;
  sys.close(fd);
  errno = saved;
}

// Moves a descriptor off 0, 1 and 2: a file of ours there would receive
// what the program prints once a standard handle is closed.
int AboveStandard(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  CloseKeepingErrno(fd);
  return moved;
}

int Open(const std::string& path, int flags, mode_t mode = 0) {
  return AboveStandard(
      RetryOnInterrupt([&] { return sys.open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY, mode); }));
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool IsReadOnly(const struct stat& st) { return (st.st_mode & 0222) == 0; }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file that `name` leads to: symbolic links followed, as the kernel
// follows them, up to the first name that is no link or does not exist (a
// dangling link names the file to create). False with errno set.
bool ResolveName(const char* name, std::string* file) {
  std::string path = name;
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    struct stat st;
    if (sys.lstat(path.c_str(), &st) != 0) {
      if (errno != ENOENT) return false;
      *file = path;
      return true;
    }
    if (!S_ISLNK(st.st_mode)) {
      *file = path;
      return true;
    }
    std::vector<char> target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    const ssize_t length = sys.readlink(path.c_str(), target.data(), target.size());
    if (length < 0) return false;
    if (static_cast<size_t>(length) == target.size()) continue;  // grew meanwhile: again
    std::string next(target.data(), static_cast<size_t>(length));
    const size_t slash = path.find_last_of('/');
    if (next[0] != '/' && slash != std::string::npos) next = path.substr(0, slash + 1) + next;
    path = next;
  }
  errno = ELOOP;
  return false;
}

// Takes this run's lock on the open target `fd`: exclusive where the file
// could be opened for writing, else shared. False with errno EAGAIN when
// another run holds it.
bool LockRange(int fd, bool exclusive) {
  struct flock range = {};
  range.l_type = exclusive ? F_WRLCK : F_RDLCK;
  range.l_whence = SEEK_SET;  // start 0, length 0: the whole file, however long
  return RetryOnInterrupt([&] { return sys.lockRange(fd, F_OFD_SETLK, &range); }) == 0;
}

bool HasAccessList(const std::string& path) {
  return sys.getxattr(path.c_str(), kAccessList, nullptr, 0) > 0;
}

bool WriteAllAt(int fd, const void* data, size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  for (size_t done = 0; done < size;) {
    const ssize_t count = RetryOnInterrupt(
        [&] { return sys.pwrite(fd, bytes + done, size - done, static_cast<off_t>(done)); });
    if (count <= 0) {
      if (count == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(count);
  }
  return true;
}

bool ReadAllAt(int fd, std::vector<char>* data) {
  for (size_t done = 0; done < data->size();) {
    const ssize_t count = RetryOnInterrupt([&] {
      return sys.pread(fd, data->data() + done, data->size() - done, static_cast<off_t>(done));
    });
    if (count < 0) return false;
    if (count == 0) {
      data->resize(done);  // cut short meanwhile: there is less to put back
      return true;
    }
    done += static_cast<size_t>(count);
  }
  return true;
}

// Makes a rename in the folder durable. Some file systems cannot flush a
// folder (EINVAL); their renames are as durable as they get.
bool FlushFolder(int folder) {
  return RetryOnInterrupt([&] { return sys.fsync(folder); }) == 0 || errno == EINVAL;
}

// Failures of the claim file that leave the write to the target itself.
bool LeavesWriteInPlace(int error) {
  switch (error) {
    case EACCES:  // a folder that takes no new file
    case EPERM:   // ... or refuses the rename (sticky)
    case EROFS:
    case ENAMETOOLONG:  // no room for the suffix
    case ENOENT:        // a missing folder: the in-place write reports it
    case ENOTDIR:
    case ENOSPC:  // no room for a second copy
    case EDQUOT:
    case EXDEV:  // another file system behind a mount
    case EBUSY:  // a mount point
      return true;
    default:
      return false;
  }
}

// Locks the existing regular file `file` as a whole for this run (`*locked`
// stays -1 where there is none). False with the last error set when another
// run holds it.
bool LockTarget(const std::string& file, int* locked) {
  for (int attempt = 0;; ++attempt) {
    if (attempt == kAttempts) {
      SetLastError(ERROR_SHARING_VIOLATION);  // the name keeps changing
      return false;
    }
    bool writable = true;
    int fd = Open(file, O_RDWR | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY)) {
      writable = false;
      fd = Open(file, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    }
    if (fd < 0) {
      // Absent, a folder, or unreadable: there is nothing to lock, and the
      // read or the check says what is wrong.
      if (errno == ENOENT || errno == ENOTDIR || errno == EISDIR || errno == EACCES ||
          errno == EPERM || errno == ENAMETOOLONG) {
        return true;
      }
      SetLastErrorFromErrno(errno, file.c_str());
      return false;
    }
    struct stat opened, named;
    if (sys.fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
      CloseKeepingErrno(fd);
      return true;
    }
    if (!LockRange(fd, writable)) {
      const int error = errno;
      CloseKeepingErrno(fd);
      if (error == EAGAIN || error == EACCES)
        SetLastError(ERROR_SHARING_VIOLATION);
      else
        SetLastErrorFromErrno(error, file.c_str());
      return false;
    }
    if (sys.stat(file.c_str(), &named) == 0 && SameFile(opened, named)) {
      *locked = fd;
      return true;
    }
    CloseKeepingErrno(fd);  // replaced under us: lock the new file
  }
}

// Makes the claim file `name`, or takes it over when it is our own stale
// claim; `*claim` stays -1 where the write must go in place. False with the
// last error set when another run holds it.
bool TakeClaimFile(const std::string& name, int* claim) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const int fd = Open(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
    if (fd >= 0) {
      // Ours from the start; a run that took it for stale meanwhile has it.
      if (RetryOnInterrupt([&] { return sys.flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
          SetLastError(ERROR_SHARING_VIOLATION);
        } else {
          sys.unlink(name.c_str());
          SetLastErrorFromErrno(error);
        }
        CloseKeepingErrno(fd);
        return false;
      }
      *claim = fd;
      return true;
    }
    if (errno != EEXIST) {
      if (LeavesWriteInPlace(errno)) return true;
      SetLastErrorFromErrno(errno, name.c_str());
      return false;
    }
    // Something is there. Only our own stale claim is taken over.
    struct stat named;
    if (sys.lstat(name.c_str(), &named) != 0) {
      if (errno == ENOENT) continue;
      SetLastErrorFromErrno(errno, name.c_str());
      return false;
    }
    if (!S_ISREG(named.st_mode) || named.st_uid != geteuid() || named.st_nlink != 1) return true;
    const int stale = Open(name, O_RDWR | O_NOFOLLOW | O_NONBLOCK);
    if (stale < 0) {
      if (errno == ENOENT) continue;
      return true;  // a link put there meanwhile, or a file we may not write
    }
    struct stat opened;
    if (sys.fstat(stale, &opened) != 0 || !SameFile(named, opened)) {
      CloseKeepingErrno(stale);
      continue;
    }
    if (RetryOnInterrupt([&] { return sys.flock(stale, LOCK_EX | LOCK_NB); }) != 0) {
      const int error = errno;
      CloseKeepingErrno(stale);
      if (error == EWOULDBLOCK)
        SetLastError(ERROR_SHARING_VIOLATION);  // a live run's
      else
        SetLastErrorFromErrno(error);
      return false;
    }
    if (sys.lstat(name.c_str(), &named) != 0 || !SameFile(named, opened)) {
      CloseKeepingErrno(stale);
      continue;
    }
    if (RetryOnInterrupt([&] { return sys.ftruncate(stale, 0); }) != 0) {
      SetLastErrorFromErrno(errno);
      CloseKeepingErrno(stale);
      return false;
    }
    *claim = stale;
    return true;
  }
  SetLastError(ERROR_SHARING_VIOLATION);
  return false;
}

}  // namespace

void SafeWrite::Release() {
  if (claimFile_ != kNoFile) {
    // Removed while still held, and only while the name still leads to our
    // file: another run cannot come in between, and a name swapped meanwhile
    // by somebody else is not ours to remove.
    struct stat held, named;
    if (!committed_ && sys.fstat(claimFile_, &held) == 0 &&
        sys.lstat(claimName_.c_str(), &named) == 0 && SameFile(held, named)) {
      sys.unlink(claimName_.c_str());
    }
    CloseKeepingErrno(claimFile_);
    claimFile_ = kNoFile;
  }
  if (lockedTarget_ != kNoFile) CloseKeepingErrno(lockedTarget_);
  lockedTarget_ = kNoFile;
  checked_ = exists_ = inPlace_ = committed_ = false;
}

bool SafeWrite::Claim(const char* target) {
  Release();
  failedStep_ = Step::kNone;
  if (!ResolveName(target, &file_)) {
    SetLastErrorFromErrno(errno, target);
    return Fail(Step::kOpen);
  }
  claimName_ = file_ + ".TMP";
  if (LockTarget(file_, &lockedTarget_) && TakeClaimFile(claimName_, &claimFile_)) return true;
  return Fail(Step::kOpen);
}

bool SafeWrite::Check() {
  checked_ = false;
  struct stat st;
  if (sys.stat(file_.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      SetLastErrorFromErrno(errno, file_.c_str());
      return Fail(Step::kOpen);
    }
    // Absent: it is made in its folder, which must take a new file.
    if (sys.faccessat(AT_FDCWD, FolderOf(file_).c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
      SetLastErrorFromErrno(errno, file_.c_str());
      return Fail(Step::kOpen);
    }
    exists_ = false;
    inPlace_ = claimFile_ == kNoFile;
    checked_ = true;
    return true;
  }
  if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && IsReadOnly(st))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return Fail(Step::kOpen);
  }
  if (!S_ISREG(st.st_mode)) {
    SetLastError(ERROR_BAD_FILE_TYPE);
    return Fail(Step::kOpen);
  }
  // As the user, not as whoever could rename over it.
  if (sys.faccessat(AT_FDCWD, file_.c_str(), W_OK, AT_EACCESS) != 0) {
    SetLastErrorFromErrno(errno, file_.c_str());
    return Fail(Step::kOpen);
  }
  exists_ = true;
  // A rename would split a hard link, drop an access list, or give the file
  // to the user where only root may give it back.
  inPlace_ = claimFile_ == kNoFile || st.st_nlink != 1 ||
             (st.st_uid != geteuid() && geteuid() != 0) || HasAccessList(file_);
  checked_ = true;
  return true;
}

bool SafeWrite::Commit(const void* data, size_t size) {
  failedStep_ = Step::kNone;
  if (!checked_ && !Check()) return false;
  checked_ = false;
  // A size limit would cut any write that reaches past it, in place too.
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      size > limit.rlim_cur) {
    SetLastErrorFromErrno(EFBIG);
    return Fail(Step::kWrite);
  }
  if (!inPlace_) {
    if (Replace(data, size)) return true;
    if (failedStep_ != Step::kNone) return false;
    // The rename path gave way: the claim file stays, empty, as the claim.
    RetryOnInterrupt([&] { return sys.ftruncate(claimFile_, 0); });
  }
  return WriteInPlace(data, size);
}

// False with failedStep_ still kNone: the write goes in place instead.
bool SafeWrite::Replace(const void* data, size_t size) {
  if (exists_) {
    struct stat target, fresh;
    if (sys.stat(file_.c_str(), &target) != 0 || sys.fstat(claimFile_, &fresh) != 0) {
      SetLastErrorFromErrno(errno, file_.c_str());
      return Fail(Step::kOpen);
    }
    const bool newOwner = fresh.st_uid != target.st_uid || fresh.st_gid != target.st_gid;
    if (newOwner && sys.fchown(claimFile_, target.st_uid, target.st_gid) != 0) {
      if (errno == EPERM) return false;  // a group the user is no member of
      SetLastErrorFromErrno(errno);
      return Fail(Step::kWrite);
    }
    // After the owner, whose change clears the set-user-ID bits.
    if ((newOwner || (fresh.st_mode & 07777) != (target.st_mode & 07777)) &&
        sys.fchmod(claimFile_, target.st_mode & 07777) != 0) {
      SetLastErrorFromErrno(errno);
      return Fail(Step::kWrite);
    }
  }
  if (!WriteAllAt(claimFile_, data, size) ||
      RetryOnInterrupt([&] { return sys.fsync(claimFile_); }) != 0) {
    if (errno == ENOSPC || errno == EDQUOT) return false;
    SetLastErrorFromErrno(errno);
    return Fail(Step::kWrite);
  }
  const int folder = Open(FolderOf(file_), O_RDONLY | O_DIRECTORY);
  if (folder < 0) {
    SetLastErrorFromErrno(errno, file_.c_str());
    return Fail(Step::kMove);
  }
  int moved;
  if (exists_) {
    moved = sys.rename(claimName_.c_str(), file_.c_str());
  } else {
    moved = sys.renameat2(AT_FDCWD, claimName_.c_str(), AT_FDCWD, file_.c_str(), RENAME_NOREPLACE);
    if (moved != 0 && (errno == EINVAL || errno == ENOSYS)) {
      // A file system without RENAME_NOREPLACE: a link cannot replace.
      moved = link(claimName_.c_str(), file_.c_str());
      if (moved == 0) sys.unlink(claimName_.c_str());
    }
  }
  if (moved != 0) {
    const int error = errno;
    CloseKeepingErrno(folder);
    if (LeavesWriteInPlace(error)) return false;
    if (error == EEXIST)
      SetLastError(ERROR_ALREADY_EXISTS);  // appeared meanwhile
    else
      SetLastErrorFromErrno(error, file_.c_str());
    return Fail(Step::kMove);
  }
  committed_ = true;  // the claim file is the target now
  const bool flushed = FlushFolder(folder);
  if (!flushed) SetLastErrorFromErrno(errno);
  CloseKeepingErrno(folder);
  return flushed ? true : Fail(Step::kMove);
}

bool SafeWrite::WriteInPlace(const void* data, size_t size) {
  int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK;
  if (!exists_) flags |= O_CREAT | O_EXCL;
  const int fd = Open(file_, flags, 0666);
  if (fd < 0) {
    SetLastErrorFromErrno(errno == ELOOP ? EACCES : errno, file_.c_str());
    return Fail(Step::kOpen);
  }
  struct stat st;
  const bool created = !exists_;
  auto fail = [&](Step step, int error) {
    if (created) sys.unlink(file_.c_str());  // nobody else has seen it: locked
    if (error) SetLastErrorFromErrno(error, file_.c_str());
    CloseKeepingErrno(fd);
    return Fail(step);
  };
  if (sys.fstat(fd, &st) != 0) return fail(Step::kOpen, errno);
  if (!S_ISREG(st.st_mode)) {
    CloseKeepingErrno(fd);
    SetLastError(ERROR_BAD_FILE_TYPE);
    return Fail(Step::kOpen);
  }
  if (!created && IsReadOnly(st)) {
    CloseKeepingErrno(fd);
    SetLastError(ERROR_ACCESS_DENIED);  // refused even to root
    return Fail(Step::kOpen);
  }
  // The share mode of the layer's writers, and this run's lock where the
  // target is not yet the file it locked (made here, or replaced by a
  // check-out).
  bool holdsLock = false;
  if (lockedTarget_ != kNoFile) {
    struct stat locked;
    if (sys.fstat(lockedTarget_, &locked) != 0) return fail(Step::kOpen, errno);
    holdsLock = SameFile(locked, st);
  }
  if (RetryOnInterrupt([&] { return sys.flock(fd, LOCK_EX | LOCK_NB); }) != 0 ||
      (!holdsLock && !LockRange(fd, true))) {
    const int error = errno;
    if (error != EWOULDBLOCK && error != EAGAIN && error != EACCES) return fail(Step::kOpen, error);
    fail(Step::kOpen, 0);
    SetLastError(ERROR_SHARING_VIOLATION);
    return false;
  }

  const auto oldSize = static_cast<size_t>(st.st_size);
  std::vector<char> oldBytes(oldSize < size ? oldSize : size);
  if (!ReadAllAt(fd, &oldBytes)) return fail(Step::kWrite, errno);
  if (size > oldSize) {
    // Room first: a full disk fails here, before any byte changes. A file
    // system that cannot reserve room gets the write alone.
    if (RetryOnInterrupt([&] {
          return sys.fallocate(fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(oldSize),
                               static_cast<off_t>(size - oldSize));
        }) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS) {
      return fail(Step::kWrite, errno);
    }
  }
  auto putBack = [&] {
    const int error = errno;
    if (!created) {
      WriteAllAt(fd, oldBytes.data(), oldBytes.size());
      RetryOnInterrupt([&] { return sys.ftruncate(fd, static_cast<off_t>(oldSize)); });
    }
    return fail(Step::kWrite, error);
  };
  if (!WriteAllAt(fd, data, size)) return putBack();
  if (size < oldSize &&
      RetryOnInterrupt([&] { return sys.ftruncate(fd, static_cast<off_t>(size)); }) != 0)
    return putBack();
  if (RetryOnInterrupt([&] { return sys.fsync(fd); }) != 0) {
    // The new text is written; whether it reached the disk is unknown.
    SetLastErrorFromErrno(errno, file_.c_str());
    CloseKeepingErrno(fd);
    return Fail(Step::kWrite);
  }
  sys.close(fd);
  return true;
}
