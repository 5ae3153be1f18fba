// What a HANDLE points to on Linux: an object of the layer that knows how to
// close itself. Files (standard handles included) and threads are handles.
#pragma once

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
  bool Close() override;
};

// The layer object behind a handle, or null (last error ERROR_INVALID_HANDLE)
// for a null, invalid or foreign handle.
LinuxHandle* LinuxHandleFrom(HANDLE handle);
// The file behind a handle, or null with ERROR_INVALID_HANDLE.
FileHandle* FileHandleFrom(HANDLE handle);

// Called once at start, before anything opens a file: a closed standard
// descriptor would be the number of the next file opened, and all that is
// printed would go into that file. Each closed one is held by a descriptor
// that leads nowhere, and GetStdHandle gives null for it, as Windows gives
// a program started without that handle.
void ReserveStandardHandles();
