// The processor-fault layer's steps, the same on every system (the design is
// in faults.h, the contract in portable.h); the primitives they stand on are
// in linux/ and windows/faults.cpp.
#include "winapi/faults.h"

#include <stdlib.h>

FaultLayer faultLayer;

#if TW_THROW_STACK
namespace {

// The throw needs room for the exception, its call-stack snapshot and the
// unwinder.
constexpr size_t kThrowStackSize = 256 * 1024;

}  // namespace

// The trampoline of a throw stack. On entry its stack holds the address to
// unwind the faulting frame from and, above it, the faulting stack pointer:
// a frame that looks called from the faulting instruction, but marked as a
// signal frame so that the unwinder takes that address as it is, not as a
// return address. One text for both processors, with their registers and
// word size; ELF and COFF name a function in their own ways.
#if defined(__x86_64__)
#define TW_REGISTER(name) "%r" #name
#define TW_WORD "8"
#define TW_TWO_WORDS "16"
#elif defined(__i386__)
#define TW_REGISTER(name) "%e" #name
#define TW_WORD "4"
#define TW_TWO_WORDS "8"
#else
#error "Processor faults: name this processor's registers and write its trampoline."
#endif
#ifdef _WIN32
#define TW_FUNCTION(name) ".globl " name "\n .def " name "; .scl 2; .type 32; .endef\n"
#define TW_FUNCTION_END(name) ""
#else
#define TW_FUNCTION(name) ".globl " name "\n .hidden " name "\n .type " name ", @function\n"
#define TW_FUNCTION_END(name) " .size " name ", .-" name "\n"
#endif
asm(" .text\n"
    " .p2align 4\n"
    " " TW_FUNCTION("tw_fault_trampoline")
    "tw_fault_trampoline:\n"
    " .cfi_startproc\n"
    " .cfi_signal_frame\n"
    " .cfi_offset " TW_REGISTER(sp) ", 0\n"
    " push " TW_REGISTER(bp) "\n"
    " .cfi_adjust_cfa_offset " TW_WORD "\n"
    " .cfi_offset " TW_REGISTER(bp) ", -" TW_TWO_WORDS "\n"
    " mov " TW_REGISTER(sp) ", " TW_REGISTER(bp) "\n"
    " .cfi_def_cfa_register " TW_REGISTER(bp) "\n"
    " and $-16, " TW_REGISTER(sp) "\n"
    " call tw_throw_pending_fault\n"
    " ud2\n"
    " .cfi_endproc\n"
    TW_FUNCTION_END("tw_fault_trampoline"));

bool GuardedStack::Allocate(size_t size) {
  if (base_) return true;
  const size_t total = size + PageSize();
  base_ = Map(total);
  total_ = base_ ? total : 0;
  return base_ != nullptr;
}

// Never the stack we stand on: a fault that cannot be unwound ends in
// std::terminate on the throw stack, and its report exits the process from
// there, through the static destructors, this one among them. The process's
// end reclaims the stack then.
void GuardedStack::Free() {
  if (!base_ || Holds(reinterpret_cast<uintptr_t>(__builtin_frame_address(0)))) return;
  Unmap(base_, total_);
  base_ = nullptr;
  total_ = 0;
}

uintptr_t FaultLayer::TrampolineStack(uintptr_t unwindFrom, uintptr_t unwindSp) {
  auto* top = reinterpret_cast<uintptr_t*>(throwStack_.High());
  top[-1] = unwindSp;
  top[-2] = unwindFrom;
  return reinterpret_cast<uintptr_t>(top - 2);
}
#endif

bool FaultLayer::Install(FaultTranslator translator) {
#if TW_THROW_STACK
  if (!throwStack_.Allocate(kThrowStackSize)) return false;
#endif
  if (!PrepareThread(!handlersInstalled_)) return false;
  if (!handlersInstalled_) {
    if (!InstallHandlers()) return false;
    handlersInstalled_ = true;
  }
  thread_.store(GetCurrentThreadId());
  translator_.store(translator);
  return true;
}

void FaultLayer::Remove() {
  translator_.store(nullptr);
  if (handlersInstalled_) {
    RemoveHandlers();
    handlersInstalled_ = false;
  }
  // Only the installing thread can give up what was readied for it; called
  // on another thread, that stays.
  if (thread_.load() == GetCurrentThreadId()) ReleaseThread();
  thread_.store(0);
}

bool FaultLayer::Translates([[maybe_unused]] uintptr_t sp) const {
  if (!translator_.load() || GetCurrentThreadId() != thread_.load() || translating_.load())
    return false;
#if TW_THROW_STACK
  if (throwStack_.Holds(sp)) return false;
#endif
  return true;
}

void FaultLayer::Pend(const EXCEPTION_RECORD& record, const void* frame) {
  pending_ = {record, frame};
  translating_.store(true);
}

// Not instrumented: its cleanup runs on the throw stack after the translator's
// frames were unwound, where AddressSanitizer's bookkeeping before a call that
// does not return would take their stale poison for an overflow.
__attribute__((no_sanitize_address)) void ThrowPendingFault() {
  // Cleared when the translator's exception leaves this frame.
  struct Translating {
    ~Translating() { faultLayer.translating_.store(false); }
  } translating;
  const FaultLayer::PendingFault fault = faultLayer.pending_;
  faultLayer.translator_.load()(&fault.record, fault.record.ExceptionAddress, fault.frame);
  abort();  // a translator that returns breaks its contract
}

bool SetFaultTranslator(FaultTranslator translator) {
  if (!translator) {
    faultLayer.Remove();
    return true;
  }
  return faultLayer.Install(translator);
}
