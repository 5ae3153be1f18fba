// The file calls of the Linux layer: opening with share modes, reading and
// writing, attributes, full paths, temporary names, deleting and renaming.
//
// Where Linux forces a difference from Windows:
// - Share modes are flock() locks, so only processes of this layer keep them.
//   They are coarser than Windows' share modes: any open for writing and any
//   open without FILE_SHARE_READ is exclusive, so a writer keeps readers out
//   even when it shares reading. FILE_SHARE_WRITE and FILE_SHARE_DELETE change
//   nothing, and only regular files are locked.
// - A file is read-only when it has no write permission bit. Writing to such a
//   file is refused even to root, as Windows refuses it even to administrators.
// - Files are opened for GENERIC_READ, GENERIC_WRITE or both, and nothing
//   else. Security attributes and template files are ignored, and descriptors
//   are never inherited.
// - FILE_FLAG_DELETE_ON_CLOSE unlinks the name, made absolute at open, when the
//   handle closes. Windows deletes the file itself.
// - ReadFile treats the end of a pipe like the end of a file: success with 0
//   bytes, not ERROR_BROKEN_PIPE.
// - A FIFO or socket in the file system is refused with ERROR_BAD_FILE_TYPE,
//   at once: Windows has no such files, and opening one would wait for a
//   peer for ever.
// - WriteFile to a standard handle writes text with Linux's line end
//   (WriteText); to any other file, the bytes as given.
// - Replacing a file is SafeWrite's (safe_write.cpp).
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "winapi/full_path.h"
#include "winapi/linux/api.h"
#include "winapi/linux/handles.h"
#include "winapi/linux/last_error.h"
#include "winapi/linux/syscalls.h"
#include "winapi/linux/terminal.h"
#include "winapi/safe_write.h"

namespace {

// How many times we reopen a name whose file keeps being replaced under us.
constexpr int kOpenAttempts = 8;

// Owns a descriptor and closes it through the table. Closing keeps errno, so
// an error can still be reported after the owner has closed its descriptor.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int get() const { return fd_; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1) {
    if (fd_ >= 0) {
      int saved = errno;
      sys.close(fd_);
      errno = saved;
    }
    fd_ = fd;
  }

 private:
  int fd_;
};

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

BOOL FailErrno(int error, const char* path = nullptr) {
  SetLastErrorFromErrno(error, path);
  return FALSE;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool IsReadOnly(mode_t mode) { return (mode & 0222) == 0; }

// The current directory, or empty with errno set.
std::string CurrentDirectory() {
  std::vector<char> buffer(256);
  while (!sys.getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

enum class LockResult { kLocked, kBusy, kNameChanged, kFailed };

// Locks the regular file open on `fd` (described by `st`) without waiting,
// then checks that `name` still leads to it: a file renamed over the name
// after our open leaves our lock on a file that nobody will open again. A
// file that this process has claimed to rewrite is locked already.
// kFailed leaves errno set.
LockResult LockByName(int fd, const struct stat& st, const char* name, int kind) {
  if (!SafeWrite::LocksFile(st) &&
      RetryOnInterrupt([&] { return sys.flock(fd, kind | LOCK_NB); }) != 0)
    return errno == EWOULDBLOCK ? LockResult::kBusy : LockResult::kFailed;
  struct stat current;
  if (sys.stat(name, &current) != 0 || !SameFile(st, current)) return LockResult::kNameChanged;
  return LockResult::kLocked;
}

// Removes a file that a failing open created, if the name still leads to it:
// a failed CreateFileA leaves nothing behind, and never removes a file that
// someone else has put at the name since.
void DiscardCreated(const char* name, const struct stat& created) {
  int saved = errno;
  struct stat current;
  if (sys.stat(name, &current) == 0 && SameFile(created, current)) sys.unlink(name);
  errno = saved;
}

// Opens `name` as the disposition asks and tells whether this call made the
// file. -1 with errno on failure.
int OpenForDisposition(const char* name, int flags, DWORD creation, bool* created) {
  *created = false;
  auto open = [&](int extra) {
    return RetryOnInterrupt([&] { return sys.open(name, flags | extra, 0666); });
  };
  switch (creation) {
    case CREATE_NEW: {
      int fd = open(O_CREAT | O_EXCL);
      *created = fd >= 0;
      return fd;
    }
    case CREATE_ALWAYS:
    case OPEN_ALWAYS:
      // Opening and creating separately tells us whether the file existed.
      for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        int fd = open(0);
        if (fd >= 0 || errno != ENOENT) return fd;
        fd = open(O_CREAT | O_EXCL);
        if (fd >= 0) {
          *created = true;
          return fd;
        }
        if (errno != EEXIST) return -1;
      }
      // A dangling symbolic link gets here (or a name that keeps coming and
      // going). Create the target as open() does, not knowing who made it.
      return open(O_CREAT);
    default:
      return open(0);
  }
}

struct OpenPlan {
  const char* name;
  int flags;
  DWORD creation;
  int lockKind;
  bool modifies;  // writes, or truncates an existing file
  bool truncates;
  DWORD fileFlags;
};

enum class OpenOutcome { kOpened, kNameChanged, kFailed };

// One attempt of CreateFileA: open, lock, check the name, truncate. On
// kFailed the last error is set.
OpenOutcome TryOpen(const OpenPlan& plan, UniqueFd* result, bool* created) {
  UniqueFd fd(OpenForDisposition(plan.name, plan.flags, plan.creation, created));
  if (fd.get() < 0) {
    SetLastErrorFromErrno(errno, plan.name);
    return OpenOutcome::kFailed;
  }
  struct stat st;
  if (sys.fstat(fd.get(), &st) != 0) {
    int error = errno;
    if (*created) sys.unlink(plan.name);  // made a moment ago by O_EXCL
    SetLastErrorFromErrno(error);
    return OpenOutcome::kFailed;
  }
  auto fail = [&](int error) {
    if (*created) DiscardCreated(plan.name, st);
    SetLastErrorFromErrno(error);
    return OpenOutcome::kFailed;
  };
  if (S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return OpenOutcome::kFailed;
  }
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
    SetLastError(ERROR_BAD_FILE_TYPE);
    return OpenOutcome::kFailed;
  }
  const bool regular = S_ISREG(st.st_mode);
  // Opened without waiting for a FIFO's peer; a device reads as it always does.
  if (!regular && fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK) != 0)
    return fail(errno);
  if (regular) {
    switch (LockByName(fd.get(), st, plan.name, plan.lockKind)) {
      case LockResult::kLocked:
        break;
      case LockResult::kBusy:
        // Whoever holds the lock may be using a file we created; it stays.
        SetLastError(ERROR_SHARING_VIOLATION);
        return OpenOutcome::kFailed;
      case LockResult::kNameChanged:
        return OpenOutcome::kNameChanged;
      case LockResult::kFailed:
        return fail(errno);
    }
  }
  if (!*created && plan.modifies && IsReadOnly(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return OpenOutcome::kFailed;
  }
  if (regular && plan.truncates && !*created &&
      RetryOnInterrupt([&] { return sys.ftruncate(fd.get(), 0); }) != 0) {
    return fail(errno);
  }
  if (*created && (plan.fileFlags & FILE_ATTRIBUTE_READONLY) &&
      sys.fchmod(fd.get(), st.st_mode & 07777 & ~0222) != 0) {
    return fail(errno);
  }
  if (regular && (plan.fileFlags & (FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_RANDOM_ACCESS))) {
    // Only a hint: a file system that takes none still reads correctly.
    int advice =
        (plan.fileFlags & FILE_FLAG_SEQUENTIAL_SCAN) ? POSIX_FADV_SEQUENTIAL : POSIX_FADV_RANDOM;
    sys.fadvise(fd.get(), 0, 0, advice);
  }
  result->Reset(fd.Release());
  return OpenOutcome::kOpened;
}

// Holds back the SIGPIPE of a write to a pipe whose reader is gone, which
// would end the process, so that the write fails with EPIPE instead.
class SigpipeBlock {
 public:
  SigpipeBlock() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
  }
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;
  ~SigpipeBlock() {
    int saved = errno;
    if (!wasPending_) {
      // Take back the signal our write raised, not one that was waiting already.
      struct timespec now = {};
      while (sigtimedwait(&pipe_, nullptr, &now) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    errno = saved;
  }

 private:
  sigset_t pipe_;
  sigset_t previous_;
  bool wasPending_;
};

}  // namespace

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                          DWORD creation, DWORD flags, HANDLE) {
  constexpr DWORD kShareModes = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  constexpr DWORD kFlags = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL |
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_WRITE_THROUGH |
                           FILE_FLAG_RANDOM_ACCESS | FILE_FLAG_SEQUENTIAL_SCAN |
                           FILE_FLAG_DELETE_ON_CLOSE;
  const bool reads = access & GENERIC_READ;
  const bool writes = access & GENERIC_WRITE;
  if (!name || (!reads && !writes) || (access & ~(GENERIC_READ | GENERIC_WRITE)) ||
      (shareMode & ~kShareModes) || creation < CREATE_NEW || creation > TRUNCATE_EXISTING ||
      (creation == TRUNCATE_EXISTING && !writes) || (flags & ~kFlags)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::unique_ptr<FileHandle> file(new (std::nothrow) FileHandle);
  if (!file) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  if (flags & FILE_FLAG_DELETE_ON_CLOSE) {
    // Absolute, so that a later change of directory cannot aim the close at
    // another file.
    file->deleteOnClosePath = name;
    if (name[0] != '/') {
      std::string folder = CurrentDirectory();
      if (folder.empty()) {
        SetLastErrorFromErrno(errno);
        return INVALID_HANDLE_VALUE;
      }
      file->deleteOnClosePath = folder + "/" + name;
    }
  }

  OpenPlan plan;
  plan.name = name;
  plan.creation = creation;
  plan.truncates = creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING;
  plan.modifies = writes || plan.truncates;
  plan.flags =
      O_CLOEXEC | O_NOCTTY | O_NONBLOCK | ((flags & FILE_FLAG_WRITE_THROUGH) ? O_DSYNC : 0);
  if (!plan.modifies) {
    plan.flags |= O_RDONLY;
  } else {
    // Truncating needs a descriptor open for writing, even when only
    // reading was asked for.
    plan.flags |= reads || !writes ? O_RDWR : O_WRONLY;
  }
  plan.lockKind = plan.modifies || !(shareMode & FILE_SHARE_READ) ? LOCK_EX : LOCK_SH;
  plan.fileFlags = flags;

  UniqueFd fd;
  bool created = false;
  for (int attempt = 0;; ++attempt) {
    if (attempt == kOpenAttempts) {
      SetLastError(ERROR_SHARING_VIOLATION);  // the name keeps changing
      return INVALID_HANDLE_VALUE;
    }
    OpenOutcome outcome = TryOpen(plan, &fd, &created);
    if (outcome == OpenOutcome::kFailed) return INVALID_HANDLE_VALUE;
    if (outcome == OpenOutcome::kOpened) break;
  }
  file->fd = fd.Release();
  bool mayExist = creation == CREATE_ALWAYS || creation == OPEN_ALWAYS;
  SetLastError(mayExist && !created ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return file.release();
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                     LPOVERLAPPED overlapped) {
  if (read) *read = 0;
  FileHandle* handle = FileHandleFrom(file);
  if (!handle) return FALSE;
  if (overlapped || !read) return Fail(ERROR_INVALID_PARAMETER);
  // Only a regular file promises that a short read is not the end. A
  // terminal or a pipe hands over what it has, and the caller wants that now.
  struct stat st;
  const bool whole = sys.fstat(handle->fd, &st) == 0 && S_ISREG(st.st_mode);
  auto* bytes = static_cast<char*>(buffer);
  DWORD total = 0;
  while (total < toRead) {
    ssize_t count =
        RetryOnInterrupt([&] { return sys.read(handle->fd, bytes + total, toRead - total); });
    if (count < 0) {
      *read = total;
      return FailErrno(errno);
    }
    total += static_cast<DWORD>(count);
    if (count == 0 || !whole) break;
  }
  *read = total;
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                      LPOVERLAPPED overlapped) {
  if (written) *written = 0;
  FileHandle* handle = FileHandleFrom(file);
  if (!handle) return FALSE;
  if (overlapped || !written) return Fail(ERROR_INVALID_PARAMETER);
  struct stat st;
  std::optional<SigpipeBlock> noSigpipe;
  if (sys.fstat(handle->fd, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)))
    noSigpipe.emplace();
  const auto* bytes = static_cast<const char*>(buffer);
  if (handle->text) {
    size_t done = 0;
    const bool ok = WriteText(handle->fd, bytes, toWrite, &done);
    *written = static_cast<DWORD>(done);
    return ok ? TRUE : FALSE;
  }
  DWORD total = 0;
  while (total < toWrite) {
    ssize_t count =
        RetryOnInterrupt([&] { return sys.write(handle->fd, bytes + total, toWrite - total); });
    if (count <= 0) {
      *written = total;
      return FailErrno(count < 0 ? errno : EIO);
    }
    total += static_cast<DWORD>(count);
    *written = total;
  }
  return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  FileHandle* handle = FileHandleFrom(file);
  if (!handle) return INVALID_FILE_SIZE;
  struct stat st;
  if (sys.fstat(handle->fd, &st) != 0) {
    SetLastErrorFromErrno(errno);
    return INVALID_FILE_SIZE;
  }
  auto size = static_cast<uint64_t>(st.st_size);
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
  auto low = static_cast<DWORD>(size);
  // How a caller tells this size from a failure.
  if (low == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
  return low;
}

DWORD WINAPI GetFileType(HANDLE file) {
  FileHandle* handle = FileHandleFrom(file);
  if (!handle) return FILE_TYPE_UNKNOWN;
  struct stat st;
  if (sys.fstat(handle->fd, &st) != 0) {
    SetLastErrorFromErrno(errno);
    return FILE_TYPE_UNKNOWN;
  }
  SetLastError(ERROR_SUCCESS);
  if (S_ISREG(st.st_mode)) return FILE_TYPE_DISK;
  if (S_ISCHR(st.st_mode)) return FILE_TYPE_CHAR;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return FILE_TYPE_PIPE;
  return FILE_TYPE_UNKNOWN;
}

BOOL WINAPI FlushFileBuffers(HANDLE file) {
  FileHandle* handle = FileHandleFrom(file);
  if (!handle) return FALSE;
  if (RetryOnInterrupt([&] { return sys.fsync(handle->fd); }) != 0) return FailErrno(errno);
  return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR name) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  struct stat st;
  if (sys.stat(name, &st) != 0) {
    SetLastErrorFromErrno(errno, name);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return IsReadOnly(st.st_mode) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}

BOOL WINAPI SetFileAttributesA(LPCSTR name, DWORD attributes) {
  if (!name) return Fail(ERROR_INVALID_PARAMETER);
  struct stat st;
  if (sys.stat(name, &st) != 0) return FailErrno(errno, name);
  // A read-only folder still takes new files on Windows, so folders keep
  // their permissions.
  if (S_ISDIR(st.st_mode)) return TRUE;
  const mode_t mode = st.st_mode & 07777;
  mode_t wanted = mode;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    wanted &= ~0222;
  } else if (IsReadOnly(mode)) {
    wanted |= S_IWUSR;
  }
  if (wanted != mode && sys.chmod(name, wanted) != 0) return FailErrno(errno, name);
  return TRUE;
}

DWORD WINAPI GetFullPathNameA(LPCSTR name, DWORD size, LPSTR buffer, LPSTR* filePart) {
  if (!name || (!buffer && size != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!*name) {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  std::string folder;
  if (name[0] != '/') {
    folder = CurrentDirectory();
    if (folder.empty()) {
      SetLastErrorFromErrno(errno);
      return 0;
    }
  }
  const std::string full = LexicalFullPath(folder, name);

  const auto length = static_cast<DWORD>(full.size());
  if (length >= size) return length + 1;
  memcpy(buffer, full.c_str(), full.size() + 1);
  if (filePart) *filePart = full.back() == '/' ? nullptr : buffer + full.rfind('/') + 1;
  return length;
}
