// The server's operating-system services on Windows: Win32 calls. The build
// picks this file or platform_posix.cpp.
#include <algorithm>
#include <utility>

#include "platform.h"
#include "platform_shared.h"
#include "winapi/guid_text.h"

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

// Opens `path` for writing with `access`, making it where it is missing:
// a link (a reparse point) is opened as itself and refused, as is anything
// but a file on a disk. Windows itself refuses a read-only file.
ScopedFile OpenForWriting(const std::string& path, DWORD access) {
  ScopedFile file(CreateFileA(
      path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return {};
  if (GetFileType(file.Get()) != FILE_TYPE_DISK) {
    SetLastError(ERROR_BAD_FILE_TYPE);
    return {};
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.Get(), &info)) return {};
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    SetLastError(ERROR_ACCESS_DENIED);
    return {};
  }
  return file;
}

ScopedFile OpenForReading(const std::string& path) {
  return ScopedFile(CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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

void SetWin32Error(std::string* error, DWORD code) { SetError(error, code); }

bool FileLock::Acquire(const std::string& path, bool exclusive, std::string* error,
                       unsigned waitMs) {
  Release();
  ScopedFile file = OpenForWriting(path, GENERIC_READ | GENERIC_WRITE);
  if (!file) {
    SetError(error, GetLastError());
    return false;
  }
  const DWORD kind = (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | LOCKFILE_FAIL_IMMEDIATELY;
  for (unsigned waited = 0;; waited += kLockRetryMs) {
    OVERLAPPED whole = {};
    if (LockFileEx(file.Get(), kind, 0, 1, 0, &whole)) break;
    if (GetLastError() != ERROR_LOCK_VIOLATION) {
      SetError(error, GetLastError());
      return false;
    }
    if (waited >= waitMs) {
      if (error) *error = kHeldTooLong;
      return false;
    }
    Sleep(kLockRetryMs);
  }
  file_ = std::move(file);
  return true;
}

bool GetFileIdentity(const std::string& path, FileIdentity* identity) {
  ScopedFile file = OpenForReading(path);
  return file && IdentityOf(file.Get(), identity);
}

bool ReadWholeFile(const std::string& path, std::string* data, bool* missing, std::string* error,
                   FileIdentity* identity) {
  ScopedFile file = OpenForReading(path);
  FileIdentity before, after;
  if (!file || !IdentityOf(file.Get(), &before)) {
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
  ScopedFile file = OpenForWriting(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES);
  LARGE_INTEGER before, after;
  if (!file || !GetFileSizeEx(file.Get(), &before)) {
    SetError(error, GetLastError());
    return false;
  }
  if (!WriteAll(file.Get(), data)) {
    // Cut back what went in, as long as nobody has appended since (a
    // handle that only appends cannot cut).
    const DWORD code = GetLastError();
    ScopedFile cutter = OpenForWriting(path, GENERIC_WRITE);
    if (cutter && GetFileSizeEx(cutter.Get(), &after) && after.QuadPart > before.QuadPart &&
        after.QuadPart < before.QuadPart + static_cast<LONGLONG>(data.size()) &&
        SetFilePointerEx(cutter.Get(), before, nullptr, FILE_BEGIN)) {
      SetEndOfFile(cutter.Get());
    }
    SetError(error, code);
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
  std::string id = GuidText(classId), key = "Software\\Classes\\CLSID\\" + id;
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
  std::string key = "Software\\Classes\\CLSID\\" + GuidText(classId);
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
