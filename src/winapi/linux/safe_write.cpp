// SafeWrite's primitives on Linux (the steps are in winapi/safe_write.cpp,
// the contract in winapi/safe_write.h). Linux adds owners, permission bits
// and access lists, hard and symbolic links, bind mounts, FIFOs, sticky
// folders, inode flags and RLIMIT_FSIZE to what Windows knows. Each is
// decided with the user's effective ids before anything is written, never
// by trying.
//
// Two flock() locks make a claim: one on the claim file and one on the
// existing target. The latter needs no right to write the file and is
// shared by every name of it; the layer's share modes are flock() locks
// too, so its opens of a file that this process has claimed skip theirs
// (LocksFile).
#include "winapi/safe_write.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "winapi/linux/last_error.h"
#include "winapi/linux/syscalls.h"

namespace {

constexpr int kMaxLinks = 40;
// How often a name that keeps changing under us is looked at again.
constexpr int kAttempts = 8;
constexpr char kAccessList[] = "system.posix_acl_access";
// A stale claim is at most one text of ours; anything larger is not one.
constexpr off_t kMaxStaleClaim = 1 << 20;
constexpr mode_t kClaimMode = 0600;

// Moves a descriptor off 0, 1 and 2: a file of ours there would receive
// what the program prints once a standard handle is closed.
int AboveStandard(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  ScopedFile low(fd);
  return sys.fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
}

ScopedFile Open(const std::string& path, int flags, mode_t mode = 0) {
  return ScopedFile(AboveStandard(RetryOnInterrupt(
      [&] { return sys.open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY, mode); })));
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool IsFile(const unsigned long long (&id)[2], const struct stat& st) {
  return id[1] != 0 && id[0] == st.st_dev && id[1] == st.st_ino;
}

void Remember(unsigned long long (&id)[2], const struct stat& st) {
  id[0] = st.st_dev;
  id[1] = st.st_ino;
}

bool IsReadOnly(const struct stat& st) { return (st.st_mode & 0222) == 0; }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

bool Lock(const ScopedFile& file) {
  return RetryOnInterrupt([&] { return sys.flock(file.Get(), LOCK_EX | LOCK_NB); }) == 0;
}

// Sets the last error for a lock that failed: another run's, or a failure.
void SetLockError() {
  if (errno == EWOULDBLOCK)
    SetLastError(ERROR_SHARING_VIOLATION);
  else
    SetLastErrorFromErrno(errno);
}

bool ReadAllAt(const ScopedFile& file, std::vector<char>* data) {
  for (size_t done = 0; done < data->size();) {
    const ssize_t count = RetryOnInterrupt([&] {
      return sys.pread(file.Get(), data->data() + done, data->size() - done,
                       static_cast<off_t>(done));
    });
    if (count < 0) return false;
    if (count == 0) {
      data->resize(done);  // cut short meanwhile
      return true;
    }
    done += static_cast<size_t>(count);
  }
  return true;
}

// Failures of the claim file that leave the write to the target itself.
bool LeavesWriteInPlace(int error) {
  switch (error) {
    case EACCES:  // a folder that takes no new file
    case EPERM:   // ... or refuses the rename (sticky, append-only)
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

// The inode flags of an open file; none where the file system keeps none.
bool InodeFlags(const ScopedFile& file, int* flags) {
  *flags = 0;
  if (sys.getInodeFlags(file.Get(), flags) == 0) return true;
  *flags = 0;
  return errno == ENOTTY || errno == EOPNOTSUPP || errno == EINVAL || errno == ENOSYS;
}

// Undoes the octal escapes (\040 for a blank) of a field of mountinfo.
std::string Unescaped(const char* begin, const char* end) {
  std::string text;
  for (const char* p = begin; p < end; ++p) {
    if (*p == '\\' && end - p >= 4) {
      text += static_cast<char>(((p[1] - '0') << 6) | ((p[2] - '0') << 3) | (p[3] - '0'));
      p += 3;
    } else {
      text += *p;
    }
  }
  return text;
}

// Whether the file `st` describes, named `name` in its folder, is mounted
// on another name or has something mounted on it: a rename would leave the
// mount on the old file. Only mounts of this mount namespace are seen. A
// line is looked at closely only where its device is the file's and the
// name it mounts or mounts on is the file's own.
bool IsMounted(const struct stat& st, const std::string& name) {
  ScopedFile table = Open("/proc/self/mountinfo", O_RDONLY);
  if (!table) return false;
  std::string text;
  char buffer[8192];
  for (;;) {
    const ssize_t count =
        RetryOnInterrupt([&] { return sys.read(table.Get(), buffer, sizeof buffer); });
    if (count <= 0) break;
    text.append(buffer, static_cast<size_t>(count));
  }
  char device[32];
  const int length = snprintf(device, sizeof device, " %u:%u ", major(st.st_dev), minor(st.st_dev));
  for (size_t at = 0; (at = text.find(device, at)) != std::string::npos;) {
    // Fields: id, parent, major:minor, root, mount point, ...
    const char* root = text.c_str() + at + length;
    const char* rootEnd = strchr(root, ' ');
    const size_t lineEnd = text.find('\n', at);
    at = lineEnd;
    if (!rootEnd || (lineEnd != std::string::npos && rootEnd >= text.c_str() + lineEnd)) continue;
    const char* point = rootEnd + 1;
    const char* pointEnd = strchr(point, ' ');
    if (!pointEnd) continue;
    const std::string mounted = Unescaped(root, rootEnd);
    const std::string mountPoint = Unescaped(point, pointEnd);
    if (NameOf(mounted) != name && NameOf(mountPoint) != name) continue;
    struct stat there;
    if (sys.stat(mountPoint.c_str(), &there) == 0 && SameFile(there, st)) return true;
  }
  return false;
}

}  // namespace

bool SafeWrite::LocksFile(const struct stat& st) {
  for (const SafeWrite* write : Live()) {
    if ((write->lock_ && IsFile(write->locked_, st)) ||
        (write->committed_ && IsFile(write->claimed_, st))) {
      return true;
    }
  }
  return false;
}

// The file that `target` leads to: symbolic links followed, as the kernel
// follows them, up to the first name that is no link or does not exist (a
// dangling link names the file to create).
bool SafeWrite::ResolveTarget(const char* target) {
  std::string path = target;
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    struct stat st;
    if (sys.lstat(path.c_str(), &st) != 0) {
      if (errno != ENOENT) break;
      file_ = path;
      return true;
    }
    if (!S_ISLNK(st.st_mode)) {
      file_ = path;
      return true;
    }
    std::vector<char> next(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    const ssize_t length = sys.readlink(path.c_str(), next.data(), next.size());
    if (length < 0) break;
    if (static_cast<size_t>(length) == next.size()) continue;  // grew meanwhile: again
    std::string link(next.data(), static_cast<size_t>(length));
    const size_t slash = path.find_last_of('/');
    if (link[0] != '/' && slash != std::string::npos) link = path.substr(0, slash + 1) + link;
    path = link;
    if (hops == kMaxLinks) errno = ELOOP;
  }
  SetLastErrorFromErrno(errno, target);
  return false;
}

bool SafeWrite::LockTarget() {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    ScopedFile file = Open(file_, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (!file) {
      // Absent, a folder on the way, or unreadable: there is nothing to
      // lock, and the read or the check says what is wrong.
      if (errno == ENOENT || errno == ENOTDIR || errno == EACCES || errno == EPERM ||
          errno == ENAMETOOLONG) {
        return true;
      }
      SetLastErrorFromErrno(errno, file_.c_str());
      return false;
    }
    struct stat opened, named;
    if (sys.fstat(file.Get(), &opened) != 0 || !S_ISREG(opened.st_mode)) return true;
    if (!Lock(file)) {
      SetLockError();
      return false;
    }
    if (sys.stat(file_.c_str(), &named) == 0 && SameFile(opened, named)) {
      lock_ = std::move(file);
      Remember(locked_, opened);
      return true;
    }
    // Replaced under us: lock the new file.
  }
  SetLastError(ERROR_SHARING_VIOLATION);  // the name keeps changing
  return false;
}

bool SafeWrite::LockFolder() {
  ScopedFile folder = Open(FolderOf(file_), O_RDONLY | O_DIRECTORY);
  struct stat st;
  // Missing or unreadable: the check says what is wrong.
  if (!folder || sys.fstat(folder.Get(), &st) != 0) return true;
  // Another file of this run may hold it already.
  for (const SafeWrite* other : Live()) {
    if (other->lock_ && IsFile(other->locked_, st)) return true;
  }
  if (!Lock(folder)) {
    SetLockError();
    return false;
  }
  lock_ = std::move(folder);
  Remember(locked_, st);
  return true;
}

bool SafeWrite::TakeClaimFile() {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    ScopedFile made = Open(claimName_, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, kClaimMode);
    if (made) {
      struct stat opened, named;
      if (!Lock(made)) {
        // A run that took it for stale before we locked it holds it now.
        if (errno != EWOULDBLOCK) sys.unlink(claimName_.c_str());
        SetLockError();
        return false;
      }
      if (sys.fstat(made.Get(), &opened) != 0 || sys.lstat(claimName_.c_str(), &named) != 0) {
        SetLastErrorFromErrno(errno, claimName_.c_str());
        sys.unlink(claimName_.c_str());
        return false;
      }
      if (!SameFile(opened, named)) {
        SetLastError(ERROR_SHARING_VIOLATION);  // ... and has made its own
        return false;
      }
      claim_ = std::move(made);
      Remember(claimed_, opened);
      return true;
    }
    if (errno != EEXIST) {
      if (LeavesWriteInPlace(errno)) return true;
      SetLastErrorFromErrno(errno, claimName_.c_str());
      return false;
    }
    // Something is there. Only a stale claim of ours is taken over.
    struct stat named, opened;
    if (sys.lstat(claimName_.c_str(), &named) != 0) {
      if (errno == ENOENT) continue;
      SetLastErrorFromErrno(errno, claimName_.c_str());
      return false;
    }
    if (!S_ISREG(named.st_mode) || named.st_uid != geteuid() || named.st_nlink != 1 ||
        named.st_size > kMaxStaleClaim) {
      return true;
    }
    ScopedFile stale = Open(claimName_, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (!stale) {
      if (errno == ENOENT) continue;
      return true;  // a link put there meanwhile, or a file we may not read
    }
    if (sys.fstat(stale.Get(), &opened) != 0 || !SameFile(named, opened)) continue;
    if (!Lock(stale)) {
      SetLockError();  // a live run's
      return false;
    }
    if (sys.lstat(claimName_.c_str(), &named) != 0 || !SameFile(named, opened)) continue;
    std::vector<char> text(static_cast<size_t>(opened.st_size));
    if (!ReadAllAt(stale, &text)) {
      SetLastErrorFromErrno(errno, claimName_.c_str());
      return false;
    }
    if (!text.empty() && !(ownText_ && ownText_(text.data(), text.size()))) return true;
    // Made anew: a descriptor that somebody kept to the old one must not
    // reach the new text. Held until the end, so that no run that opened it
    // meanwhile takes it for stale too.
    if (sys.unlink(claimName_.c_str()) != 0) return true;
    stale_ = std::move(stale);
  }
  SetLastError(ERROR_SHARING_VIOLATION);
  return false;
}

bool SafeWrite::InspectTarget() {
  struct stat st;
  folder_ = Open(FolderOf(file_), O_RDONLY | O_DIRECTORY);
  if (sys.stat(file_.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      SetLastErrorFromErrno(errno, file_.c_str());
      return false;
    }
    // Absent: it is made in its folder, which must take a new file.
    if (sys.faccessat(AT_FDCWD, FolderOf(file_).c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
      SetLastErrorFromErrno(errno, file_.c_str());
      return false;
    }
    exists_ = false;
    owner_ = geteuid();
    group_ = getegid();
    mode_ = 0666 & ~sys.getUmask();
    inPlace_ = !folder_;
    return true;
  }
  if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && IsReadOnly(st))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    SetLastError(ERROR_BAD_FILE_TYPE);
    return false;
  }
  // Append-only and immutable files refuse every write, root's too.
  int flags = 0;
  if (lock_ && IsFile(locked_, st) && !InodeFlags(lock_, &flags)) {
    SetLastErrorFromErrno(errno, file_.c_str());
    return false;
  }
  if (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  // As the user, not as whoever could rename over it.
  if (sys.faccessat(AT_FDCWD, file_.c_str(), W_OK, AT_EACCESS) != 0) {
    SetLastErrorFromErrno(errno, file_.c_str());
    return false;
  }
  exists_ = true;
  owner_ = st.st_uid;
  group_ = st.st_gid;
  mode_ = st.st_mode & 07777;
  const uid_t user = geteuid();
  // A rename would split a hard link, drop an access list, give the file to
  // the user where only root may give it back, or be refused.
  inPlace_ = !claim_ || !folder_ || st.st_nlink != 1 || (st.st_uid != user && user != 0) ||
             sys.getxattr(file_.c_str(), kAccessList, nullptr, 0) > 0;
  struct stat folder;
  if (!inPlace_ && sys.fstat(folder_.Get(), &folder) == 0) {
    const bool sticky =
        (folder.st_mode & S_ISVTX) && user != 0 && folder.st_uid != user && st.st_uid != user;
    int folderFlags = 0;
    inPlace_ = sticky || !InodeFlags(folder_, &folderFlags) ||
               (folderFlags & (FS_APPEND_FL | FS_IMMUTABLE_FL));
  }
  if (!inPlace_) inPlace_ = IsMounted(st, NameOf(file_));
  return true;
}

bool SafeWrite::LeadsTo(const SafeWrite& other) const {
  struct stat target;
  return sys.stat(file_.c_str(), &target) == 0 && IsFile(other.claimed_, target);
}

bool SafeWrite::WithinSizeLimit(size_t size) const {
  struct rlimit limit;
  if (sys.getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
      size <= limit.rlim_cur) {
    return true;
  }
  SetLastErrorFromErrno(EFBIG);
  return false;
}

bool SafeWrite::FillClaimFile() {
  auto givesWay = [] { return errno == ENOSPC || errno == EDQUOT; };
  if (!WriteAll(claim_, text_.data(), text_.size()) || !Flush(claim_)) {
    if (givesWay()) return false;
    return Fail(Step::kWrite);
  }
  // Only now, full and flushed, may the file become what the target is.
  struct stat st;
  if (sys.fstat(claim_.Get(), &st) != 0) {
    SetLastErrorFromErrno(errno);
    return Fail(Step::kWrite);
  }
  const bool newOwner = st.st_uid != owner_ || st.st_gid != group_;
  if (newOwner && sys.fchown(claim_.Get(), owner_, group_) != 0) {
    if (errno == EPERM) return false;  // a group the user is no member of
    SetLastErrorFromErrno(errno);
    return Fail(Step::kWrite);
  }
  // After the owner, whose change clears the set-user-ID bits.
  if ((newOwner || (st.st_mode & 07777) != mode_) && sys.fchmod(claim_.Get(), mode_) != 0) {
    SetLastErrorFromErrno(errno);
    return Fail(Step::kWrite);
  }
  return true;
}

bool SafeWrite::MoveClaimFile() {
  int moved;
  if (exists_) {
    moved = sys.rename(claimName_.c_str(), file_.c_str());
  } else {
    moved = sys.renameat2(AT_FDCWD, claimName_.c_str(), AT_FDCWD, file_.c_str(), RENAME_NOREPLACE);
    if (moved != 0 && (errno == EINVAL || errno == ENOSYS)) {
      // A file system without RENAME_NOREPLACE: a link cannot replace.
      moved = sys.link(claimName_.c_str(), file_.c_str());
      if (moved == 0) sys.unlink(claimName_.c_str());
    }
  }
  if (moved != 0) {
    if (LeavesWriteInPlace(errno)) return false;
    if (errno == EEXIST)
      SetLastError(ERROR_ALREADY_EXISTS);  // appeared meanwhile
    else
      SetLastErrorFromErrno(errno, file_.c_str());
    return Fail(Step::kMove);
  }
  committed_ = true;  // the claim file is the target now
  // Some file systems cannot flush a folder (EINVAL); their renames are as
  // durable as they get.
  if (RetryOnInterrupt([&] { return sys.fsync(folder_.Get()); }) == 0 || errno == EINVAL)
    return true;
  SetLastErrorFromErrno(errno);
  return Fail(Step::kMove);
}

bool SafeWrite::OpenTarget() {
  int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK;
  if (!exists_) flags |= O_CREAT | O_EXCL;
  target_ = Open(file_, flags, 0666);
  if (!target_) {
    SetLastErrorFromErrno(errno == ELOOP ? EACCES : errno, file_.c_str());
    return Fail(Step::kOpen);
  }
  created_ = !exists_;
  struct stat st;
  if (sys.fstat(target_.Get(), &st) != 0) {
    SetLastErrorFromErrno(errno);
    return Fail(Step::kOpen);
  }
  if (!S_ISREG(st.st_mode)) {
    SetLastError(ERROR_BAD_FILE_TYPE);
    return Fail(Step::kOpen);
  }
  if (!created_ && IsReadOnly(st)) {
    SetLastError(ERROR_ACCESS_DENIED);  // refused even to root
    return Fail(Step::kOpen);
  }
  // The share mode of the layer's writers where the target is not the file
  // this object locked (made here, or replaced by a check-out).
  if (!(lock_ && IsFile(locked_, st)) && !Lock(target_)) {
    if (errno == EWOULDBLOCK) created_ = false;  // another run has it now: not ours to remove
    SetLockError();
    return Fail(Step::kOpen);
  }
  oldText_.resize(static_cast<size_t>(st.st_size));
  if (!ReadAllAt(target_, &oldText_) || !Reserve(size_)) {
    SetLastErrorFromErrno(errno, file_.c_str());
    return Fail(Step::kWrite);
  }
  return true;
}

bool SafeWrite::Reserve(size_t size) {
  const size_t oldSize = oldText_.size();
  if (size <= oldSize) return true;
  // A file system that cannot reserve room gets the write alone.
  return RetryOnInterrupt([&] {
           return sys.fallocate(target_.Get(), FALLOC_FL_KEEP_SIZE, static_cast<off_t>(oldSize),
                                static_cast<off_t>(size - oldSize));
         }) == 0 ||
         errno == EOPNOTSUPP || errno == ENOSYS;
}

bool SafeWrite::WriteAll(const ScopedFile& file, const char* data, size_t size) {
  for (size_t done = 0; done < size;) {
    const ssize_t count = RetryOnInterrupt(
        [&] { return sys.pwrite(file.Get(), data + done, size - done, static_cast<off_t>(done)); });
    if (count <= 0) {
      SetLastErrorFromErrno(count == 0 ? EIO : errno, file_.c_str());
      return false;
    }
    done += static_cast<size_t>(count);
  }
  return true;
}

bool SafeWrite::Flush(const ScopedFile& file) {
  if (RetryOnInterrupt([&] { return sys.fsync(file.Get()); }) == 0) return true;
  SetLastErrorFromErrno(errno, file_.c_str());
  return false;
}

bool SafeWrite::Cut(const ScopedFile& file, size_t size) {
  if (RetryOnInterrupt([&] { return sys.ftruncate(file.Get(), static_cast<off_t>(size)); }) == 0)
    return true;
  SetLastErrorFromErrno(errno, file_.c_str());
  return false;
}

// Removed while still held, and only while the name still leads to our
// file: another run cannot come in between, and a name swapped meanwhile by
// somebody else is not ours to remove.
void SafeWrite::RemoveClaimFile() {
  struct stat named;
  if (claim_ && !committed_ && sys.lstat(claimName_.c_str(), &named) == 0 &&
      IsFile(claimed_, named)) {
    sys.unlink(claimName_.c_str());
  }
}

void SafeWrite::RemoveCreatedTarget() {
  struct stat made, named;
  if (created_ && target_ && sys.fstat(target_.Get(), &made) == 0 &&
      sys.lstat(file_.c_str(), &named) == 0 && SameFile(made, named)) {
    sys.unlink(file_.c_str());
  }
  created_ = false;
}
