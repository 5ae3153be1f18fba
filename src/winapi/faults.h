// The processor-fault layer behind SetFaultTranslator (the contract is in
// portable.h). Its steps, the same on every system, are in faults.cpp; the
// primitives they stand on (the handlers, the stacks' memory, the thread's
// preparation) in linux/ and windows/faults.cpp.
//
// A fault of the translating thread stops it in a handler, which notes the
// fault (Pend) and resumes the thread in a trampoline instead of the faulting
// instruction. The trampoline's unwind information leads back into the
// faulting frame, so that the translator's exception, thrown from
// ThrowPendingFault above it, unwinds the faulting function (compiled with
// -fnon-call-exceptions) and its callers as if that instruction had thrown
// it. Nothing is thrown from inside the handler or the system's dispatcher.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "winapi/portable.h"
#include "winapi/winapi.h"

// Whether the exception is thrown on a stack of our own, through a
// trampoline that describes the faulting frame as a signal frame to libgcc's
// DWARF unwinder: everywhere but on 64-bit Windows, where the system's
// unwinder throws it and accepts frames only on the thread's own stack.
#if defined(_WIN32) && defined(__x86_64__)
#define TW_THROW_STACK 0
#else
#define TW_THROW_STACK 1
#endif

#ifdef _WIN32
#define TW_HIDDEN
#else
#define TW_HIDDEN __attribute__((visibility("hidden")))
#endif

// Where the handler resumes the thread. Entered as if called from the
// faulting instruction; see faults.cpp and windows/faults.cpp.
extern "C" TW_HIDDEN void FaultTrampoline() asm("tw_fault_trampoline");
// Called by the trampoline: throws the translator's exception for the
// pending fault, which leaves through the trampoline into the faulting frame.
extern "C" [[noreturn]] TW_HIDDEN void ThrowPendingFault() asm("tw_throw_pending_fault");

// The system's page size.
size_t PageSize();

#if TW_THROW_STACK
// A stack of our own with a page that faults below it.
class GuardedStack {
 public:
  GuardedStack() = default;
  GuardedStack(const GuardedStack&) = delete;
  GuardedStack& operator=(const GuardedStack&) = delete;
  ~GuardedStack() { Free(); }

  // `size` bytes; true at once when allocated already.
  bool Allocate(size_t size);
  void Free();
  char* Low() const { return base_ + PageSize(); }
  char* High() const { return base_ + total_; }
  size_t Size() const { return total_ - PageSize(); }
  // Whether `address` lies on the stack or its guard page.
  bool Holds(uintptr_t address) const {
    return address >= reinterpret_cast<uintptr_t>(base_) &&
           address < reinterpret_cast<uintptr_t>(High());
  }

 private:
  // The system's primitives: `total` bytes whose lowest page faults (null
  // when they cannot be had), and their release.
  static char* Map(size_t total);
  static void Unmap(char* base, size_t total);

  char* base_ = nullptr;
  size_t total_ = 0;
};
#endif

// The installation: the handlers and the translating thread. Removed at
// exit, so that nothing is translated after the translator's module has
// begun to go away, or onto stacks that are gone.
class FaultLayer {
 public:
  ~FaultLayer() { Remove(); }

  bool Install(FaultTranslator translator);
  void Remove();

  // For the handlers. Whether a fault of the calling thread, stopped with
  // its stack pointer at `sp`, is the translator's to throw now.
  bool Translates(uintptr_t sp) const;
  // Notes the fault for ThrowPendingFault. From here until the translator's
  // exception leaves ThrowPendingFault, the translator is at work, and a
  // fault there takes the system's course.
  void Pend(const EXCEPTION_RECORD& record, const void* frame);
#if TW_THROW_STACK
  // The stack pointer to enter the trampoline with: the throw stack's top,
  // holding the address to unwind the faulting frame from and, above it,
  // the faulting stack pointer.
  uintptr_t TrampolineStack(uintptr_t unwindFrom, uintptr_t unwindSp);
#endif

 private:
  friend void ThrowPendingFault();

  // The system's primitives, in linux/ and windows/faults.cpp.
  // Readies the calling thread, the one to translate for (`first`: while no
  // handlers are installed).
  bool PrepareThread(bool first);
  // Undoes what PrepareThread did that outlives it; on the installing thread.
  void ReleaseThread();
  bool InstallHandlers();
  void RemoveHandlers();

  // The fault being thrown: written by the handler, read by the trampoline.
  struct PendingFault {
    EXCEPTION_RECORD record;
    const void* frame;
  };

  std::atomic<FaultTranslator> translator_{nullptr};
  std::atomic<DWORD> thread_{0};
  std::atomic<bool> translating_{false};
  PendingFault pending_ = {};
  bool handlersInstalled_ = false;
#if TW_THROW_STACK
  // Kept for the next Install once allocated; freed only with the layer,
  // after the handlers are gone.
  GuardedStack throwStack_;
#endif
#ifndef _WIN32
  // The signal handlers' stack, on the installing thread.
  GuardedStack altStack_;
#endif
};

extern FaultLayer faultLayer;
