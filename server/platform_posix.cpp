// The server's operating-system services on Linux: POSIX calls, made
// through the layer's system-call table (winapi/linux/syscalls.h) where it
// has them. The build picks this file or platform_win32.cpp.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "platform.h"
#include "platform_shared.h"
#include "winapi/full_path.h"
#include "winapi/guid_text.h"
#include "winapi/linux/com_registry.h"
#include "winapi/linux/syscalls.h"

const char kServerPathSeparator = '/';
const char kServerLibraryName[] = "libtwsourcesafe.so";

namespace {

std::string ErrorText(int code) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may not be in the buffer.
  return strerror_r(code, buffer, sizeof(buffer));
}

void SetError(std::string* error, int code) {
  if (error) *error = ErrorText(code);
}

// Opens a file of the database without waiting on a FIFO, and refuses
// anything but a regular file: invalid with `error` set. A file made here is
// 0600.
ScopedFile OpenRegularFile(const std::string& path, int flags, std::string* error,
                           struct stat* info = nullptr) {
  ScopedFile fd(sys.open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600));
  struct stat own;
  if (!info) info = &own;
  // A link where none is followed is refused as SafeWrite refuses it.
  if (!fd && errno == ELOOP && (flags & O_NOFOLLOW)) errno = EACCES;
  // ENXIO: a FIFO that nobody reads, opened for writing.
  if (!fd && errno != ENXIO) {
    SetError(error, errno);
    return {};
  }
  if (fd && sys.fstat(fd.Get(), info) != 0) {
    SetError(error, errno);
    return {};
  }
  if (!fd || !S_ISREG(info->st_mode)) {
    SetWin32Error(error, ERROR_BAD_FILE_TYPE);
    errno = EINVAL;  // there, but unusable
    return {};
  }
  return fd;
}

// Opens `path` for writing with `flags`, or makes it where it is missing:
// no link followed, a regular file only, nothing waited on. open() checks
// the user's permission with the effective ids; root, whom it lets write
// anything, is refused a file without any write permission, as SafeWrite
// refuses it. `*made` tells that the file is new, and 0600 until the caller
// gives it NewFileMode() once it is whole.
ScopedFile OpenForWriting(const std::string& path, int flags, bool* made, std::string* error) {
  *made = false;
  flags |= O_NOFOLLOW;
  // A file that another run makes and removes meanwhile is looked at again,
  // a few times.
  for (int attempt = 0; attempt < 8; ++attempt) {
    struct stat info;
    ScopedFile fd = OpenRegularFile(path, flags, error, &info);
    if (fd) {
      if (info.st_mode & 0222) return fd;
      SetError(error, EACCES);
      errno = EACCES;
      return {};
    }
    if (errno != ENOENT) return {};
    fd = OpenRegularFile(path, flags | O_CREAT | O_EXCL, error);
    if (fd) {
      *made = true;
      return fd;
    }
    if (errno != EEXIST) return {};
  }
  return {};
}

// The permissions that a plain creation gives a file: 0666 less the umask,
// read from /proc, since umask() would change it meanwhile for every thread
// of the program that loaded the server. 0600 where /proc does not say.
mode_t NewFileMode() {
  ScopedFile fd(sys.open("/proc/self/status", O_RDONLY | O_CLOEXEC, 0));
  if (!fd) return 0600;
  char text[4096];
  const ssize_t got = RetryOnInterrupt([&] { return sys.read(fd.Get(), text, sizeof(text) - 1); });
  fd.Reset();
  text[got > 0 ? got : 0] = '\0';
  const char* line = strstr(text, "\nUmask:");
  if (!line) return 0600;
  return 0666 & ~static_cast<mode_t>(strtoul(line + strlen("\nUmask:"), nullptr, 8));
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written =
        RetryOnInterrupt([&] { return sys.write(fd, data.data(), data.size()); });
    if (written < 0) return false;
    data.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

FileIdentity IdentityOf(const struct stat& info) {
  FileIdentity identity;
  identity.device = info.st_dev;
  identity.inode = info.st_ino;
  identity.size = static_cast<uint64_t>(info.st_size);
  identity.modified = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  return identity;
}

std::string CurrentFolder() {
  std::string folder(256, '\0');
  while (!sys.getcwd(folder.data(), folder.size())) {
    if (errno != ERANGE) return "/";
    folder.resize(folder.size() * 2);
  }
  folder.resize(strlen(folder.c_str()));
  return folder;
}

// The registry entry of a class: the registry's folder and the braced id.
std::string RegistrationPath(REFCLSID classId, bool perUser) {
  char folder[4096];
  if (ComRegistryFolder(perUser, folder, sizeof(folder)) == 0) return "";
  return std::string(folder) + GuidText(classId);
}

std::string ResultText(HRESULT result) {
  char text[32];
  snprintf(text, sizeof(text), "error 0x%08X", static_cast<unsigned>(result));
  return text;
}

}  // namespace

// The text of a code of the Win32 layer, without its line break.
void SetWin32Error(std::string* error, DWORD code) {
  if (!error) return;
  char text[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof(text), nullptr);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n')) --length;
  *error = length ? std::string(text, length) : "error " + std::to_string(code);
}

bool FileLock::Acquire(const std::string& path, bool exclusive, std::string* error,
                       unsigned waitMs) {
  Release();
  bool made = false;
  ScopedFile fd = OpenForWriting(path, O_RDWR, &made, error);
  if (!fd) return false;
  // An empty lock file is whole at once.
  if (made && sys.fchmod(fd.Get(), NewFileMode()) != 0) {
    SetError(error, errno);
    return false;
  }
  const int kind = (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  for (unsigned waited = 0;; waited += kLockRetryMs) {
    if (RetryOnInterrupt([&] { return sys.flock(fd.Get(), kind); }) == 0) break;
    if (errno != EWOULDBLOCK) {
      SetError(error, errno);
      return false;
    }
    if (waited >= waitMs) {
      if (error) *error = kHeldTooLong;
      return false;
    }
    usleep(kLockRetryMs * 1000);
  }
  file_ = std::move(fd);
  return true;
}

bool GetFileIdentity(const std::string& path, FileIdentity* identity) {
  struct stat info;
  if (sys.stat(path.c_str(), &info) != 0) return false;
  *identity = IdentityOf(info);
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* data, bool* missing, std::string* error,
                   FileIdentity* identity) {
  *missing = false;
  struct stat before, after;
  ScopedFile fd = OpenRegularFile(path, O_RDONLY, error, &before);
  if (!fd) {
    *missing = errno == ENOENT || errno == ENOTDIR;
    return false;
  }
  // One byte beyond the size, so that a file that grew meanwhile shows it.
  const auto size = static_cast<size_t>(before.st_size);
  data->resize(size + 1);
  size_t done = 0;
  while (done < data->size()) {
    const ssize_t got = RetryOnInterrupt(
        [&] { return sys.read(fd.Get(), data->data() + done, data->size() - done); });
    if (got < 0) {
      SetError(error, errno);
      return false;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  data->resize(done);
  if (done != size || sys.fstat(fd.Get(), &after) != 0 ||
      !(IdentityOf(after) == IdentityOf(before))) {
    if (error) *error = kChangedWhileRead;
    return false;
  }
  if (identity) *identity = IdentityOf(before);
  return true;
}

bool AppendToFile(const std::string& path, std::string_view data, std::string* error) {
  bool made = false;
  ScopedFile fd = OpenForWriting(path, O_WRONLY | O_APPEND, &made, error);
  if (!fd) return false;
  // Room and the size limit first, so that a full disk or a limit fails
  // before any byte is written; a write that fails part way is cut back,
  // as long as nobody has appended since.
  struct stat before, after;
  struct rlimit limit;
  bool written = sys.fstat(fd.Get(), &before) == 0;
  if (written && sys.getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      static_cast<uint64_t>(before.st_size) + data.size() > limit.rlim_cur) {
    errno = EFBIG;
    written = false;
  }
  if (written && RetryOnInterrupt([&] {
                   return sys.fallocate(fd.Get(), FALLOC_FL_KEEP_SIZE, before.st_size,
                                        static_cast<off_t>(data.size()));
                 }) != 0 &&
      errno != EOPNOTSUPP && errno != ENOSYS) {
    written = false;
  }
  if (written && !WriteAll(fd.Get(), data)) {
    written = false;
    const int code = errno;
    if (sys.fstat(fd.Get(), &after) == 0 && after.st_size > before.st_size &&
        after.st_size < before.st_size + static_cast<off_t>(data.size())) {
      RetryOnInterrupt([&] { return sys.ftruncate(fd.Get(), before.st_size); });
    }
    errno = code;
  }
  const int code = errno;
  // A new file gets its mode once its first text is in.
  if (made) sys.fchmod(fd.Get(), NewFileMode());
  if (!written) SetError(error, code);
  return written;
}

bool MakeFolder(const std::string& path, std::string* error) {
  if (mkdir(path.c_str(), 0755) == 0 || (errno == EEXIST && IsFolder(path))) return true;
  SetError(error, errno);
  return false;
}

bool IsFile(const std::string& path) {
  struct stat info;
  return sys.stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsFolder(const std::string& path) {
  struct stat info;
  return sys.stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool SetWritable(const std::string& path, bool writable, std::string* error) {
  struct stat info;
  if (sys.stat(path.c_str(), &info) != 0) {
    SetError(error, errno);
    return false;
  }
  mode_t mode = info.st_mode & 07777;
  mode = writable ? mode | S_IWUSR : mode & ~(S_IWUSR | S_IWGRP | S_IWOTH);
  if (mode != (info.st_mode & 07777) && sys.chmod(path.c_str(), mode) != 0) {
    SetError(error, errno);
    return false;
  }
  return true;
}

std::string FullPath(std::string_view path) {
  return LexicalFullPath(IsAbsolutePath(path) ? std::string() : CurrentFolder(), path);
}

bool IsAbsolutePath(std::string_view path) { return !path.empty() && path[0] == '/'; }

std::string_view FileNameOf(std::string_view path) {
  size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(std::string_view path) {
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return "";
  return std::string(path.substr(0, slash == 0 ? 1 : slash));
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

std::string GetEnvironment(const char* name) {
  const char* value = getenv(name);
  return value ? value : "";
}

std::string LoginName() {
  // getlogin needs a controlling terminal; the password entry does not.
  const char* name = getlogin();
  if (name && *name) return name;
  const passwd* entry = getpwuid(geteuid());
  return entry && entry->pw_name ? entry->pw_name : "";
}

std::string TimeStamp() {
  time_t now = time(nullptr);
  struct tm parts;
  gmtime_r(&now, &parts);
  char text[32];
  strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

std::string ThisModulePath() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&ThisModulePath), &info) == 0 || !info.dli_fname) return "";
  return FullPath(info.dli_fname);
}

std::string ProgramPath() {
  std::string path(4096, '\0');
  ssize_t length = sys.readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0) return "";
  path.resize(static_cast<size_t>(length));
  return path;
}

bool WriteServerRegistration(REFCLSID classId, const char* progId, const std::string& library,
                             bool perUser, std::string* where, std::string* error) {
  *where = RegistrationPath(classId, perUser);
  HRESULT result = ComRegisterInprocServer(perUser, classId, progId, library.c_str(), nullptr);
  if (FAILED(result) && error) *error = ResultText(result);
  return SUCCEEDED(result);
}

bool RemoveServerRegistration(REFCLSID classId, bool perUser, std::string* where, bool* existed,
                              std::string* error) {
  *where = RegistrationPath(classId, perUser);
  HRESULT result = ComUnregisterInprocServer(perUser, classId);
  *existed = result == S_OK;
  if (FAILED(result) && error) *error = ResultText(result);
  return SUCCEEDED(result);
}
