// Errors of the Linux layer: the thread's last error, the one errno table,
// and the system texts of FormatMessageA.
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "winapi/linux/api.h"
#include "winapi/linux/last_error.h"
#include "winapi/linux/syscalls.h"

namespace {

thread_local DWORD lastError;
// The errno behind the last code that the table produced on this thread, so
// that its text is the one the system gave.
thread_local DWORD lastMappedCode;
thread_local int lastMappedErrno;

struct ErrnoMapping {
  int error;
  DWORD code;
};

// errno -> Win32. The first row for a code also names the errno whose text
// describes that code when no errno was remembered for it.
constexpr ErrnoMapping kErrnoTable[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EROFS, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EXDEV, ERROR_NOT_SAME_DEVICE},
    {ESPIPE, ERROR_SEEK},
    {EWOULDBLOCK, ERROR_SHARING_VIOLATION},
    {ETXTBSY, ERROR_SHARING_VIOLATION},
    {EEXIST, ERROR_FILE_EXISTS},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {EPIPE, ERROR_NO_DATA},
    {ENOSPC, ERROR_DISK_FULL},
    {ENOSYS, ERROR_CALL_NOT_IMPLEMENTED},
    {ENOTSUP, ERROR_NOT_SUPPORTED},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {EBUSY, ERROR_BUSY},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {EFBIG, ERROR_FILE_TOO_LARGE},
    {EFAULT, ERROR_NOACCESS},
    {EIO, ERROR_IO_DEVICE},
    {EDQUOT, ERROR_DISK_QUOTA_EXCEEDED},
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME},
    {ETIMEDOUT, ERROR_TIMEOUT},
};

// Codes that the layer sets without an errno behind them.
struct OwnText {
  DWORD code;
  const char* text;
};
constexpr OwnText kOwnTexts[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_SHARING_VIOLATION, "The file is in use by another process."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, "The file name, directory name, or volume label syntax is incorrect."},
    {ERROR_NO_UNICODE_TRANSLATION,
     "No mapping for the Unicode character exists in the target multi-byte code page."},
    {ERROR_INVALID_WINDOW_HANDLE, "There are no windows: invalid window handle."},
    {ERROR_UNABLE_TO_MOVE_REPLACEMENT,
     "Unable to move the replacement file to the file to be replaced."},
    {ERROR_BUFFER_OVERFLOW, "The file name is too long."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {ERROR_PARTIAL_COPY, "Only part of a memory read request was completed."},
    {ERROR_BAD_FILE_TYPE, "Not a regular file (a FIFO, socket or device)."},
    // The HRESULTs of the COM layer.
    {static_cast<DWORD>(E_NOTIMPL), "Not implemented."},
    {static_cast<DWORD>(E_NOINTERFACE), "No such interface supported."},
    {static_cast<DWORD>(E_POINTER), "Invalid pointer."},
    {static_cast<DWORD>(E_FAIL), "Unspecified error."},
    {static_cast<DWORD>(E_UNEXPECTED), "Unexpected failure."},
    {static_cast<DWORD>(E_OUTOFMEMORY), "Not enough memory to complete the operation."},
    {static_cast<DWORD>(E_INVALIDARG), "One or more arguments are not valid."},
    {static_cast<DWORD>(CO_E_CLASSSTRING),
     "Invalid class string: no class is registered under this name."},
    {static_cast<DWORD>(REGDB_E_CLASSNOTREG), "Class not registered."},
    {static_cast<DWORD>(CO_E_NOTINITIALIZED), "CoInitialize has not been called."},
    {static_cast<DWORD>(RPC_E_CHANGED_MODE),
     "Cannot change the thread's apartment mode after it is set."},
    {static_cast<DWORD>(CLASS_E_NOAGGREGATION), "The class does not support aggregation."},
    {static_cast<DWORD>(CO_E_DLLNOTFOUND), "The shared object of the class was not found."},
    {static_cast<DWORD>(CO_E_ERRORINDLL),
     "The shared object of the class cannot be loaded or has no DllGetClassObject."},
};

constexpr DWORD kMessageNotFound = 317;  // ERROR_MR_MID_NOT_FOUND

const char* OwnTextOf(DWORD code) {
  for (const OwnText& entry : kOwnTexts)
    if (entry.code == code) return entry.text;
  return nullptr;
}

bool ParentFolderMissing(const char* path) {
  std::string parent(path);
  size_t slash = parent.find_last_of('/');
  if (slash == std::string::npos) return false;  // the current directory exists
  parent.resize(slash == 0 ? 1 : slash);
  struct stat st;
  return sys.stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
}

}  // namespace

DWORD Win32ErrorFromErrno(int error, const char* path) {
  if (error == ENOENT && path && ParentFolderMissing(path)) return ERROR_PATH_NOT_FOUND;
  for (const ErrnoMapping& entry : kErrnoTable)
    if (entry.error == error) return entry.code;
  return ERROR_GEN_FAILURE;
}

void SetLastErrorFromErrno(int error, const char* path) {
  DWORD code = Win32ErrorFromErrno(error, path);
  lastMappedCode = code;
  lastMappedErrno = error;
  lastError = code;
}

DWORD WINAPI GetLastError() { return lastError; }

void WINAPI SetLastError(DWORD code) { lastError = code; }

DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPSTR buffer, DWORD size,
                            va_list*) {
  const DWORD supported =
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || (flags & ~supported) || !buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string text;
  if (const char* own = OwnTextOf(messageId)) {
    text = own;
  } else if (messageId == lastMappedCode && lastMappedErrno != 0) {
    text = strerror(lastMappedErrno);
  } else {
    for (const ErrnoMapping& entry : kErrnoTable) {
      if (entry.code == messageId) {
        text = strerror(entry.error);
        break;
      }
    }
  }
  if (text.empty()) {
    SetLastError(kMessageNotFound);
    return 0;
  }
  text += "\r\n";
  if (text.size() + 1 > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}
