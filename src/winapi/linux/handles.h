// What a HANDLE points to on Linux: an object of the layer that knows how to
// close itself. Files (standard handles included) and threads are handles.
#pragma once

#include <string>

#include "winapi/linux/types.h"

struct LinuxHandle {
  virtual ~LinuxHandle() = default;
  // Releases what the handle holds; false with the last error set on failure.
  virtual bool Close() = 0;
  // Standard handles live for the whole process; CloseHandle keeps the object.
  virtual bool IsStatic() const { return false; }
};

struct FileHandle : LinuxHandle {
  int fd = -1;
  std::string deleteOnClosePath;  // FILE_FLAG_DELETE_ON_CLOSE: unlinked at close
  bool standard = false;          // one of the three standard handles
  bool Close() override;
  bool IsStatic() const override { return standard; }
};

// The layer object behind a handle, or null (last error ERROR_INVALID_HANDLE)
// for a null, invalid or foreign handle.
LinuxHandle* LinuxHandleFrom(HANDLE handle);
// The file behind a handle, or null with ERROR_INVALID_HANDLE.
FileHandle* FileHandleFrom(HANDLE handle);
