// One owner for every descriptor and HANDLE of the program: it closes what
// it holds when it ends, on every path, and keeps the last error (errno on
// Linux) across the close, so that a failure can still be reported after its
// file is gone.
#pragma once

#include <utility>

#include "winapi/winapi.h"
#ifndef _WIN32
#include "winapi/linux/syscalls.h"
#endif

template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedHandle() = default;
  explicit ScopedHandle(Handle handle) : handle_(handle) {}
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { Reset(); }

  Handle Get() const { return handle_; }
  explicit operator bool() const { return handle_ != Traits::kInvalid; }
  // Gives the handle up without closing it.
  Handle Release() { return std::exchange(handle_, Traits::kInvalid); }
  void Reset(Handle handle = Traits::kInvalid) {
    if (handle_ != Traits::kInvalid) Traits::Close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = Traits::kInvalid;
};

// A HANDLE that CloseHandle closes (the Linux layer's handles too): a
// file's, for which INVALID_HANDLE_VALUE means none...
struct FileHandleTraits {
  using Handle = HANDLE;
  static inline const Handle kInvalid = INVALID_HANDLE_VALUE;
  static void Close(Handle handle) {
    const DWORD saved = GetLastError();
    CloseHandle(handle);
    SetLastError(saved);
  }
};
// ... or another object's (a thread, a mutex), for which null does.
struct ObjectHandleTraits : FileHandleTraits {
  static inline const Handle kInvalid = nullptr;
};
using ScopedObject = ScopedHandle<ObjectHandleTraits>;

#ifdef _WIN32
using ScopedFile = ScopedHandle<FileHandleTraits>;

// A mutex that this thread owns: given up, then closed.
struct OwnedMutexTraits {
  using Handle = HANDLE;
  static inline const Handle kInvalid = nullptr;
  static void Close(Handle mutex) {
    const DWORD saved = GetLastError();
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    SetLastError(saved);
  }
};
using ScopedLock = ScopedHandle<OwnedMutexTraits>;
#else
struct FdTraits {
  using Handle = int;
  static constexpr Handle kInvalid = -1;
  static void Close(Handle fd) {
    const int saved = errno;
    sys.close(fd);
    errno = saved;
  }
};
using ScopedFile = ScopedHandle<FdTraits>;
using ScopedLock = ScopedFile;  // a descriptor that holds an flock()
#endif
