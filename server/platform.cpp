// The server's operating-system services, for each system: Win32 calls on
// Windows, POSIX calls on Linux. This is the one file of the server with
// platform conditionals.
#include "platform.h"

#include <algorithm>

#include "winapi/safe_write.h"

namespace {

// What a read reports when the file changed under it.
constexpr char kChangedWhileRead[] =
    "it changed while it was read (a program wrote it without taking the database's lock); "
    "try again";

}  // namespace

#ifdef _WIN32

#include <stdio.h>

const char kServerPathSeparator = '\\';
const char kServerLibraryName[] = "twsourcesafe.dll";

namespace {

std::string ErrorText(DWORD code) {
  char text[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof(text), nullptr);
  while (length > 0 &&
         (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == '.')) {
    --length;
  }
  if (length == 0) return "error " + std::to_string(code);
  return std::string(text, length);
}

void SetError(std::string* error, DWORD code) {
  if (error) *error = ErrorText(code);
}

void SetWin32Error(std::string* error, DWORD code) { SetError(error, code); }

// Closes a handle when it goes.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (Valid()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool Valid() const { return handle_ && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }
  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }

 private:
  HANDLE handle_;
};

// Opens `path` for writing with `access`, making it where it is missing:
// a link (a reparse point) is opened as itself and refused, as is anything
// but a file on a disk. Windows itself refuses a read-only file.
HANDLE OpenForWriting(const std::string& path, DWORD access) {
  Handle file(CreateFileA(
      path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.Valid()) return INVALID_HANDLE_VALUE;
  if (GetFileType(file.Get()) != FILE_TYPE_DISK) {
    SetLastError(ERROR_BAD_FILE_TYPE);
    return INVALID_HANDLE_VALUE;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.Get(), &info)) return INVALID_HANDLE_VALUE;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return file.Release();
}

HANDLE OpenForReading(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool IdentityOf(HANDLE file, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  identity->device = info.dwVolumeSerialNumber;
  identity->inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  identity->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  identity->modified =
      static_cast<int64_t>(((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                            info.ftLastWriteTime.dwLowDateTime) *
                           100);
  return true;
}

bool WriteAll(HANDLE file, std::string_view data) {
  while (!data.empty()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, data.data(), chunk, &written, nullptr)) return false;
    data.remove_prefix(written);
  }
  return true;
}

std::string ClassIdText(REFCLSID classId) {
  char text[40];
  snprintf(text, sizeof(text), "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
           static_cast<unsigned long>(classId.Data1), classId.Data2, classId.Data3,
           classId.Data4[0], classId.Data4[1], classId.Data4[2], classId.Data4[3], classId.Data4[4],
           classId.Data4[5], classId.Data4[6], classId.Data4[7]);
  return text;
}

bool SetKeyValue(HKEY root, const std::string& key, const char* name, const std::string& value,
                 std::string* error) {
  HKEY opened;
  LONG result =
      RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &opened, nullptr);
  if (result == ERROR_SUCCESS) {
    result = RegSetValueExA(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
    RegCloseKey(opened);
  }
  if (result != ERROR_SUCCESS) SetError(error, static_cast<DWORD>(result));
  return result == ERROR_SUCCESS;
}

}  // namespace

FileLock::~FileLock() { Release(); }

bool FileLock::Acquire(const std::string& path, bool exclusive, std::string* error) {
  Release();
  Handle file(OpenForWriting(path, GENERIC_READ | GENERIC_WRITE));
  OVERLAPPED whole = {};
  if (!file.Valid() ||
      !LockFileEx(file.Get(), exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0, 1, 0, &whole)) {
    SetError(error, GetLastError());
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(file.Release());
  return true;
}

void FileLock::Release() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));  // closing unlocks
  handle_ = -1;
}

bool GetFileIdentity(const std::string& path, FileIdentity* identity) {
  Handle file(OpenForReading(path));
  return file.Valid() && IdentityOf(file.Get(), identity);
}

bool ReadWholeFile(const std::string& path, std::string* data, bool* missing, std::string* error,
                   FileIdentity* identity) {
  Handle file(OpenForReading(path));
  FileIdentity before, after;
  if (!file.Valid() || !IdentityOf(file.Get(), &before)) {
    DWORD code = GetLastError();
    *missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    SetError(error, code);
    return false;
  }
  *missing = false;
  // One byte beyond the size, so that a file that grew meanwhile shows it.
  const auto size = static_cast<size_t>(before.size);
  data->resize(size + 1);
  size_t done = 0;
  while (done < data->size()) {
    DWORD got = 0;
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(data->size() - done, 1u << 30));
    if (!ReadFile(file.Get(), data->data() + done, chunk, &got, nullptr)) {
      SetError(error, GetLastError());
      return false;
    }
    if (got == 0) break;
    done += got;
  }
  data->resize(done);
  if (done != size || !IdentityOf(file.Get(), &after) || !(after == before)) {
    if (error) *error = kChangedWhileRead;
    return false;
  }
  if (identity) *identity = before;
  return true;
}

bool AppendToFile(const std::string& path, std::string_view data, std::string* error) {
  Handle file(OpenForWriting(path, FILE_APPEND_DATA));
  if (!file.Valid() || !WriteAll(file.Get(), data)) {
    SetError(error, GetLastError());
    return false;
  }
  return true;
}

bool MakeFolder(const std::string& path, std::string* error) {
  if (CreateDirectoryA(path.c_str(), nullptr) || IsFolder(path)) return true;
  SetError(error, GetLastError());
  return false;
}

bool IsFile(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool SetWritable(const std::string& path, bool writable, std::string* error) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    DWORD wanted =
        writable ? attributes & ~FILE_ATTRIBUTE_READONLY : attributes | FILE_ATTRIBUTE_READONLY;
    if (wanted == attributes || SetFileAttributesA(path.c_str(), wanted)) return true;
  }
  SetError(error, GetLastError());
  return false;
}

bool IsAbsolutePath(std::string_view path) {
  return (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
         path.substr(0, 2) == "\\\\";
}

std::string_view FileNameOf(std::string_view path) {
  size_t separator = path.find_last_of("\\/:");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

std::string FullPath(std::string_view path) {
  std::string name(path.empty() ? "." : path);
  std::string full(MAX_PATH, '\0');
  DWORD length =
      GetFullPathNameA(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length >= full.size()) {
    full.resize(length);
    length = GetFullPathNameA(name.c_str(), length, full.data(), nullptr);
  }
  full.resize(length < full.size() ? length : 0);
  return full;
}

std::string FolderOf(std::string_view path) {
  size_t separator = path.find_last_of("\\/");
  if (separator == std::string_view::npos) return "";
  // "C:\" keeps its separator: it is the folder itself.
  return std::string(path.substr(0, separator == 2 && path[1] == ':' ? 3 : separator));
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
  path += name;
  return path;
}

std::string GetEnvironment(const char* name) {
  char buffer[1024];
  DWORD length = GetEnvironmentVariableA(name, buffer, sizeof(buffer));
  if (length < sizeof(buffer)) return std::string(buffer, length);
  std::string value(length, '\0');
  length = GetEnvironmentVariableA(name, value.data(), length);
  value.resize(length);
  return value;
}

std::string LoginName() {
  char name[257];
  DWORD size = sizeof(name);
  return GetUserNameA(name, &size) ? name : "";
}

std::string TimeStamp() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  char text[32];
  snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay,
           now.wHour, now.wMinute, now.wSecond);
  return text;
}

std::string ThisModulePath() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&ThisModulePath), &module)) {
    return "";
  }
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(module, path, sizeof(path));
  return length > 0 && length < sizeof(path) ? std::string(path, length) : "";
}

std::string ProgramPath() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  return length > 0 && length < sizeof(path) ? std::string(path, length) : "";
}

// The class's keys under Software\Classes of the user or the machine, as
// regsvr32 leaves them: CLSID\{id}\InprocServer32 and ProgID, and the
// ProgID's own CLSID.
bool WriteServerRegistration(REFCLSID classId, const char* progId, const std::string& library,
                             bool perUser, std::string* where, std::string* error) {
  HKEY root = perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  std::string id = ClassIdText(classId), key = "Software\\Classes\\CLSID\\" + id;
  *where = (perUser ? "HKEY_CURRENT_USER\\" : "HKEY_LOCAL_MACHINE\\") + key;
  return SetKeyValue(root, key, nullptr, progId, error) &&
         SetKeyValue(root, key + "\\InprocServer32", nullptr, library, error) &&
         SetKeyValue(root, key + "\\InprocServer32", "ThreadingModel", "Apartment", error) &&
         SetKeyValue(root, key + "\\ProgID", nullptr, progId, error) &&
         SetKeyValue(root, std::string("Software\\Classes\\") + progId + "\\CLSID", nullptr, id,
                     error);
}

bool RemoveServerRegistration(REFCLSID classId, bool perUser, std::string* where, bool* existed,
                              std::string* error) {
  HKEY root = perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  std::string key = "Software\\Classes\\CLSID\\" + ClassIdText(classId);
  *where = (perUser ? "HKEY_CURRENT_USER\\" : "HKEY_LOCAL_MACHINE\\") + key;
  // Deepest first: a key with subkeys cannot be deleted.
  const std::string keys[] = {key + "\\InprocServer32", key + "\\ProgID", key,
                              "Software\\Classes\\SourceSafe\\CLSID",
                              "Software\\Classes\\SourceSafe"};
  *existed = false;
  for (const std::string& each : keys) {
    LONG result = RegDeleteKeyA(root, each.c_str());
    if (result == ERROR_SUCCESS) {
      *existed = true;
    } else if (result != ERROR_FILE_NOT_FOUND) {
      SetError(error, static_cast<DWORD>(result));
      return false;
    }
  }
  return true;
}

#else

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "winapi/linux/com_registry.h"

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

// The text of a code of the Win32 layer, without its line break.
void SetWin32Error(std::string* error, DWORD code) {
  if (!error) return;
  char text[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof(text), nullptr);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n')) --length;
  *error = length ? std::string(text, length) : "error " + std::to_string(code);
}

// Opens a file of the database without waiting on a FIFO, and refuses
// anything but a regular file: -1 with `error` set. A file made here is
// 0600.
int OpenRegularFile(const std::string& path, int flags, std::string* error,
                    struct stat* info = nullptr) {
  int fd = open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
  struct stat own;
  if (!info) info = &own;
  // A link where none is followed is refused as SafeWrite refuses it.
  if (fd < 0 && errno == ELOOP && (flags & O_NOFOLLOW)) errno = EACCES;
  // ENXIO: a FIFO that nobody reads, opened for writing.
  if (fd < 0 && errno != ENXIO) {
    SetError(error, errno);
    return -1;
  }
  if (fd >= 0 && fstat(fd, info) != 0) {
    SetError(error, errno);
    close(fd);
    return -1;
  }
  if (fd < 0 || !S_ISREG(info->st_mode)) {
    if (fd >= 0) close(fd);
    SetWin32Error(error, ERROR_BAD_FILE_TYPE);
    errno = EINVAL;  // there, but unusable
    return -1;
  }
  return fd;
}

// Closes a descriptor when it goes.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Opens `path` for writing with `flags`, or makes it where it is missing:
// no link followed, a regular file only, nothing waited on. open() checks
// the user's permission with the effective ids; root, whom it lets write
// anything, is refused a file without any write permission, as SafeWrite
// refuses it. `*made` tells that the file is new, and 0600 until the caller
// gives it NewFileMode() once it is whole.
int OpenForWriting(const std::string& path, int flags, bool* made, std::string* error) {
  *made = false;
  flags |= O_NOFOLLOW;
  // A file that another run makes and removes meanwhile is looked at again,
  // a few times.
  for (int attempt = 0; attempt < 8; ++attempt) {
    struct stat info;
    int fd = OpenRegularFile(path, flags, error, &info);
    if (fd >= 0) {
      if (info.st_mode & 0222) return fd;
      close(fd);
      SetError(error, EACCES);
      errno = EACCES;
      return -1;
    }
    if (errno != ENOENT) return -1;
    fd = OpenRegularFile(path, flags | O_CREAT | O_EXCL, error);
    if (fd >= 0) {
      *made = true;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// The permissions that a plain creation gives a file: 0666 less the umask,
// read from /proc, since umask() would change it meanwhile for every thread
// of the program that loaded the server. 0600 where /proc does not say.
mode_t NewFileMode() {
  int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0600;
  char text[4096];
  ssize_t got;
  do {
    got = read(fd, text, sizeof(text) - 1);
  } while (got < 0 && errno == EINTR);
  close(fd);
  text[got > 0 ? got : 0] = '\0';
  const char* line = strstr(text, "\nUmask:");
  if (!line) return 0600;
  return 0666 & ~static_cast<mode_t>(strtoul(line + strlen("\nUmask:"), nullptr, 8));
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t written = write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
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
  while (!getcwd(folder.data(), folder.size())) {
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
  char name[40];
  snprintf(name, sizeof(name), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", classId.Data1,
           classId.Data2, classId.Data3, classId.Data4[0], classId.Data4[1], classId.Data4[2],
           classId.Data4[3], classId.Data4[4], classId.Data4[5], classId.Data4[6],
           classId.Data4[7]);
  return std::string(folder) + name;
}

std::string ResultText(HRESULT result) {
  char text[32];
  snprintf(text, sizeof(text), "error 0x%08X", static_cast<unsigned>(result));
  return text;
}

}  // namespace

FileLock::~FileLock() { Release(); }

bool FileLock::Acquire(const std::string& path, bool exclusive, std::string* error) {
  Release();
  bool made = false;
  Descriptor fd(OpenForWriting(path, O_RDWR, &made, error));
  if (fd.Get() < 0) return false;
  // An empty lock file is whole at once.
  if (made && fchmod(fd.Get(), NewFileMode()) != 0) {
    SetError(error, errno);
    return false;
  }
  while (flock(fd.Get(), exclusive ? LOCK_EX : LOCK_SH) != 0) {
    if (errno != EINTR) {
      SetError(error, errno);
      return false;
    }
  }
  handle_ = fd.Release();
  return true;
}

void FileLock::Release() {
  if (handle_ >= 0) close(static_cast<int>(handle_));  // closing drops the lock
  handle_ = -1;
}

bool GetFileIdentity(const std::string& path, FileIdentity* identity) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  *identity = IdentityOf(info);
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* data, bool* missing, std::string* error,
                   FileIdentity* identity) {
  *missing = false;
  struct stat before, after;
  Descriptor fd(OpenRegularFile(path, O_RDONLY, error, &before));
  if (fd.Get() < 0) {
    *missing = errno == ENOENT || errno == ENOTDIR;
    return false;
  }
  // One byte beyond the size, so that a file that grew meanwhile shows it.
  const auto size = static_cast<size_t>(before.st_size);
  data->resize(size + 1);
  size_t done = 0;
  while (done < data->size()) {
    ssize_t got = read(fd.Get(), data->data() + done, data->size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      SetError(error, errno);
      return false;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  data->resize(done);
  if (done != size || fstat(fd.Get(), &after) != 0 || !(IdentityOf(after) == IdentityOf(before))) {
    if (error) *error = kChangedWhileRead;
    return false;
  }
  if (identity) *identity = IdentityOf(before);
  return true;
}

bool AppendToFile(const std::string& path, std::string_view data, std::string* error) {
  bool made = false;
  Descriptor fd(OpenForWriting(path, O_WRONLY | O_APPEND, &made, error));
  if (fd.Get() < 0) return false;
  const bool written = WriteAll(fd.Get(), data);
  const int code = errno;
  // A new file gets its mode once its first text is in.
  if (made) fchmod(fd.Get(), NewFileMode());
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
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool SetWritable(const std::string& path, bool writable, std::string* error) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    SetError(error, errno);
    return false;
  }
  mode_t mode = info.st_mode & 07777;
  mode = writable ? mode | S_IWUSR : mode & ~(S_IWUSR | S_IWGRP | S_IWOTH);
  if (mode != (info.st_mode & 07777) && chmod(path.c_str(), mode) != 0) {
    SetError(error, errno);
    return false;
  }
  return true;
}

std::string FullPath(std::string_view path) {
  std::string input;
  if (!IsAbsolutePath(path)) input = CurrentFolder() + '/';
  input += path;
  std::string full;  // "/a/b" for each component kept; empty at the root
  for (size_t start = 0; start < input.size();) {
    size_t end = input.find('/', start);
    if (end == std::string::npos) end = input.size();
    std::string_view part(input.data() + start, end - start);
    if (part == "..") {
      full.resize(full.empty() ? 0 : full.rfind('/'));
    } else if (!part.empty() && part != ".") {
      full += '/';
      full += part;
    }
    start = end + 1;
  }
  if (full.empty() || input.back() == '/') full += '/';
  return full;
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
  ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
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

#endif

// Both systems write through the one write path of the tool.
bool WriteFileAtomically(const std::string& path, std::string_view data, std::string* error) {
  SafeWrite write;
  if (write.Claim(path.c_str()) && write.Commit(data.data(), data.size())) return true;
  SetWin32Error(error, GetLastError());
  return false;
}
