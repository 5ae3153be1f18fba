// Threads, waits, process and thread ids, and interlocked operations on
// Linux: POSIX threads behind thread handles, std::atomic_ref for the rest.
//
// Where Linux differs from Windows:
// - CreateThread takes no flags (no CREATE_SUSPENDED) and ignores security
//   attributes; a stack size is rounded up to what the system accepts.
// - Only thread handles can be waited for.
// - Thread ids are the kernel's (gettid), unique within the system like
//   Windows thread ids.
#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "winapi/linux/api.h"
#include "winapi/linux/handles.h"
#include "winapi/linux/last_error.h"

namespace {

// What the thread and its handle share; the thread keeps it alive after a
// handle closed early.
struct ThreadState {
  LPTHREAD_START_ROUTINE start = nullptr;
  LPVOID parameter = nullptr;
  std::mutex mutex;
  std::condition_variable changed;
  pid_t id = 0;
  bool finished = false;
  DWORD exitCode = STILL_ACTIVE;
};

struct ThreadHandle : LinuxHandle {
  pthread_t thread{};
  std::shared_ptr<ThreadState> state;
  // Closing a handle never stops its thread: a running one goes on detached.
  bool Close() override {
    bool finished;
    {
      std::lock_guard<std::mutex> lock(state->mutex);
      finished = state->finished;
    }
    int error = finished ? pthread_join(thread, nullptr) : pthread_detach(thread);
    if (error == 0) return true;
    SetLastErrorFromErrno(error);
    return false;
  }
};

ThreadHandle* ThreadHandleFrom(HANDLE handle) {
  auto* thread = dynamic_cast<ThreadHandle*>(LinuxHandleFrom(handle));
  if (!thread) SetLastError(ERROR_INVALID_HANDLE);
  return thread;
}

void* RunThread(void* argument) {
  std::unique_ptr<std::shared_ptr<ThreadState>> owned(
      static_cast<std::shared_ptr<ThreadState>*>(argument));
  std::shared_ptr<ThreadState> state = std::move(*owned);
  owned.reset();
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    state->id = gettid();
  }
  state->changed.notify_all();
  DWORD exitCode = state->start(state->parameter);
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    state->exitCode = exitCode;
    state->finished = true;
  }
  state->changed.notify_all();
  return nullptr;
}

size_t AcceptedStackSize(SIZE_T requested) {
  size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  size_t least = static_cast<size_t>(PTHREAD_STACK_MIN);
  size_t size = requested < least ? least : requested;
  return (size + page - 1) / page * page;
}

std::atomic_ref<LONG> Atomic(LONG volatile* value) {
  // Every access goes through the atomic: volatile adds nothing here.
  return std::atomic_ref<LONG>(*const_cast<LONG*>(value));
}

}  // namespace

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD flags, LPDWORD threadId) {
  if (!start || flags != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto handle = std::make_unique<ThreadHandle>();
  handle->state = std::make_shared<ThreadState>();
  handle->state->start = start;
  handle->state->parameter = parameter;

  pthread_attr_t attributes;
  int error = pthread_attr_init(&attributes);
  if (error == 0 && stackSize != 0)
    error = pthread_attr_setstacksize(&attributes, AcceptedStackSize(stackSize));
  if (error == 0) {
    auto* argument = new std::shared_ptr<ThreadState>(handle->state);
    error = pthread_create(&handle->thread, &attributes, RunThread, argument);
    if (error != 0) delete argument;
  }
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    // Windows reports a thread it cannot create as lack of memory.
    if (error == EAGAIN || error == ENOMEM)
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    else
      SetLastErrorFromErrno(error);
    return nullptr;
  }
  if (threadId) {
    ThreadState& state = *handle->state;
    std::unique_lock<std::mutex> lock(state.mutex);
    state.changed.wait(lock, [&state] { return state.id != 0; });
    *threadId = static_cast<DWORD>(state.id);
  }
  return handle.release();
}

DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  ThreadHandle* thread = ThreadHandleFrom(object);
  if (!thread) return WAIT_FAILED;
  ThreadState& state = *thread->state;
  std::unique_lock<std::mutex> lock(state.mutex);
  auto finished = [&state] { return state.finished; };
  if (milliseconds == INFINITE) {
    state.changed.wait(lock, finished);
    return WAIT_OBJECT_0;
  }
  return state.changed.wait_for(lock, std::chrono::milliseconds(milliseconds), finished)
             ? WAIT_OBJECT_0
             : WAIT_TIMEOUT;
}

BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
  ThreadHandle* handle = ThreadHandleFrom(thread);
  if (!handle) return FALSE;
  if (!exitCode) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(handle->state->mutex);
  *exitCode = handle->state->exitCode;
  return TRUE;
}

DWORD WINAPI GetCurrentThreadId() { return static_cast<DWORD>(gettid()); }

DWORD WINAPI GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

HANDLE WINAPI GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }

LONG WINAPI InterlockedIncrement(LONG volatile* value) { return ++Atomic(value); }

LONG WINAPI InterlockedDecrement(LONG volatile* value) { return --Atomic(value); }
