// Handles of the layer: every HANDLE the layer gives out is a LinuxHandle
// that it created; CloseHandle releases it whatever its kind.
#include "winapi/linux/handles.h"

#include <errno.h>
#include <unistd.h>

#include "winapi/linux/api.h"
#include "winapi/linux/last_error.h"
#include "winapi/linux/syscalls.h"

bool FileHandle::Close() {
  bool ok = true;
  // Closing releases the share-mode lock with the descriptor. An interrupted
  // close has freed the descriptor all the same, so EINTR is no failure and
  // never retried: by then the number may be another file's.
  if (fd >= 0 && sys.close(fd) != 0 && errno != EINTR) {
    SetLastErrorFromErrno(errno);
    ok = false;
  }
  fd = -1;
  return ok;
}

LinuxHandle* LinuxHandleFrom(HANDLE handle) {
  if (!handle || handle == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return static_cast<LinuxHandle*>(handle);
}

FileHandle* FileHandleFrom(HANDLE handle) {
  LinuxHandle* object = LinuxHandleFrom(handle);
  if (!object) return nullptr;
  auto* file = dynamic_cast<FileHandle*>(object);
  if (!file || file->fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return file;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  LinuxHandle* object = LinuxHandleFrom(handle);
  if (!object) return FALSE;
  bool ok = object->Close();
  if (!object->IsStatic()) delete object;
  return ok ? TRUE : FALSE;
}
