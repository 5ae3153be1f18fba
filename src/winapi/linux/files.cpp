// The file calls of the Linux layer: opening existing files for reading with
// share modes, reading, writing to standard handles, attributes and full
// paths.
//
// Where Linux forces a difference from Windows:
// - Share modes are flock() locks, so only processes of this layer keep them.
//   An open without FILE_SHARE_READ is exclusive; FILE_SHARE_WRITE and
//   FILE_SHARE_DELETE change nothing, and only regular files are locked.
// - A file is read-only when it has no write permission bit, whoever asks:
//   root too, as Windows tells administrators too.
// - Files are opened for GENERIC_READ, as existing files, and nothing else.
//   Security attributes and template files are ignored, and descriptors are
//   never inherited.
// - ReadFile treats the end of a pipe like the end of a file: success with 0
//   bytes, not ERROR_BROKEN_PIPE.
// - A FIFO or socket in the file system is refused with ERROR_BAD_FILE_TYPE,
//   at once: Windows has no such files, and opening one would wait for a
//   peer for ever.
// - WriteFile writes text with Linux's line end (WriteText): only standard
//   handles are open for writing.
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
#include "winapi/scoped_handle.h"

namespace {

// How many times we reopen a name whose file keeps being replaced under us.
constexpr int kOpenAttempts = 8;

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

enum class OpenOutcome { kOpened, kNameChanged, kFailed };

// One attempt of CreateFileA: open, check the kind of file, lock, check the
// name. On kFailed the last error is set.
OpenOutcome TryOpen(const char* name, int lockKind, ScopedFile* result) {
  ScopedFile fd(RetryOnInterrupt(
      [&] { return sys.open(name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0); }));
  if (!fd) {
    SetLastErrorFromErrno(errno, name);
    return OpenOutcome::kFailed;
  }
  struct stat st;
  if (sys.fstat(fd.Get(), &st) != 0) {
    SetLastErrorFromErrno(errno);
    return OpenOutcome::kFailed;
  }
  if (S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return OpenOutcome::kFailed;
  }
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
    SetLastError(ERROR_BAD_FILE_TYPE);
    return OpenOutcome::kFailed;
  }
  if (!S_ISREG(st.st_mode)) {
    // Opened without waiting for a FIFO's peer; a device reads as it always does.
    const int flags = sys.fcntl(fd.Get(), F_GETFL, 0);
    if (flags < 0 || sys.fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
      SetLastErrorFromErrno(errno);
      return OpenOutcome::kFailed;
    }
  } else {
    switch (LockByName(fd.Get(), st, name, lockKind)) {
      case LockResult::kLocked:
        break;
      case LockResult::kBusy:
        SetLastError(ERROR_SHARING_VIOLATION);
        return OpenOutcome::kFailed;
      case LockResult::kNameChanged:
        return OpenOutcome::kNameChanged;
      case LockResult::kFailed:
        SetLastErrorFromErrno(errno);
        return OpenOutcome::kFailed;
    }
  }
  *result = std::move(fd);
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
      RetryOnInterrupt([&] { return sigtimedwait(&pipe_, nullptr, &now); });
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
  if (!name || access != GENERIC_READ || (shareMode & ~kShareModes) || creation != OPEN_EXISTING ||
      (flags & ~FILE_ATTRIBUTE_NORMAL)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::unique_ptr<FileHandle> file(new (std::nothrow) FileHandle);
  if (!file) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  const int lockKind = (shareMode & FILE_SHARE_READ) ? LOCK_SH : LOCK_EX;
  ScopedFile fd;
  for (int attempt = 0;; ++attempt) {
    if (attempt == kOpenAttempts) {
      SetLastError(ERROR_SHARING_VIOLATION);  // the name keeps changing
      return INVALID_HANDLE_VALUE;
    }
    OpenOutcome outcome = TryOpen(name, lockKind, &fd);
    if (outcome == OpenOutcome::kFailed) return INVALID_HANDLE_VALUE;
    if (outcome == OpenOutcome::kOpened) break;
  }
  file->fd = fd.Release();
  SetLastError(ERROR_SUCCESS);
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
  size_t done = 0;
  const bool ok = WriteText(handle->fd, static_cast<const char*>(buffer), toWrite, &done);
  *written = static_cast<DWORD>(done);
  return ok ? TRUE : FALSE;
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
