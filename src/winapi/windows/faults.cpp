// Processor faults on Windows: a vectored exception handler that turns a
// fault of the translating thread into a call of its fault translator
// (SetFaultTranslator). MinGW's run time has no working _set_se_translator.
// Any other structured exception of that thread (one raised in software,
// say by an in-process server) is translated at the last chance, by the
// unhandled-exception filter: before that, a handler of the system's or of
// the server's own may still take it, which a vectored handler would
// pre-empt.
//
// The handler does not throw from inside the system's dispatcher: it copies
// the record and resumes the thread in a trampoline whose unwind
// information leads back into the faulting frame, so that the translator's
// exception unwinds the faulting function (compiled with
// -fnon-call-exceptions) and its callers as if the faulting instruction had
// thrown it.
// - x86-64: the exception is thrown through the system's unwinder, which
//   accepts frames only on the thread's stack, ordered. The trampoline runs
//   there, just below the faulting frame, and describes that frame as a
//   machine frame (UWOP_PUSH_MACHFRAME), the unwind code of an interrupted
//   instruction.
// - x86: exceptions are DWARF-unwound by libgcc; the trampoline runs on a
//   stack of our own and describes the faulting frame as a signal frame, as
//   on Linux.
// A stack overflow is raised with the thread's stack guarantee left; the
// cleanups of the unwound frames (and on x86-64 the throw) run in it.
// The exception is unwound from where the thread stopped (the context),
// which for an exception raised in software lies inside RaiseException, a
// little past the record's exception address.
#include "winapi/winapi.h"

namespace {

// The fault being thrown: written by the handler, read by the trampoline.
struct PendingFault {
  EXCEPTION_RECORD record;
  const void* instruction;
  const void* frame;
};
PendingFault pendingFault;

}  // namespace

extern "C" void FaultTrampoline() asm("tw_fault_trampoline");

#if defined(__x86_64__)
// Entered with the faulting stack pointer in rdx and, in rcx, the address to
// unwind the faulting frame from; builds the machine frame from them.
asm(R"(
  .text
  .p2align 4
  .def tw_fault_trampoline; .scl 3; .type 32; .endef
tw_fault_trampoline:
  .seh_proc tw_fault_trampoline
  pushq $0
  pushq %rdx
  pushq $0
  pushq $0
  pushq %rcx
  .seh_pushframe
  subq $40, %rsp
  .seh_stackalloc 40
  .seh_endprologue
  call tw_throw_pending_fault
  ud2
  .seh_endproc
)");
#elif defined(__i386__)
// Entered with the address to unwind the faulting frame from on the stack
// and, above it, the faulting stack pointer.
asm(R"(
  .text
  .p2align 4
  .def tw_fault_trampoline; .scl 3; .type 32; .endef
tw_fault_trampoline:
  .cfi_startproc
  .cfi_signal_frame
  .cfi_offset %esp, 0
  pushl %ebp
  .cfi_adjust_cfa_offset 4
  .cfi_offset %ebp, -8
  movl %esp, %ebp
  .cfi_def_cfa_register %ebp
  andl $-16, %esp
  call tw_throw_pending_fault
  ud2
  .cfi_endproc
)");
#else
#error "Processor faults: write this processor's trampoline."
#endif

namespace {

// What a stack overflow leaves for the translator and the cleanups.
constexpr ULONG kOverflowReserve = 64 * 1024;
#if defined(__i386__)
constexpr SIZE_T kThrowStackSize = 256 * 1024;
#endif

DWORD PageSize() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
}

// The processor's faults; everything else (language exceptions, the
// debugger's notices, RPC failures) takes its course.
bool IsProcessorFault(DWORD code) {
  switch (code) {
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_BREAKPOINT:
    case EXCEPTION_SINGLE_STEP:
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_STACK_OVERFLOW:
      return true;
    default:
      return code >= EXCEPTION_ARRAY_BOUNDS_EXCEEDED && code <= EXCEPTION_INT_OVERFLOW;
  }
}

#if defined(__i386__)
// A stack of our own with a page that faults below it.
class GuardedStack {
 public:
  GuardedStack() = default;
  GuardedStack(const GuardedStack&) = delete;
  GuardedStack& operator=(const GuardedStack&) = delete;
  ~GuardedStack() { Free(); }

  bool Allocate(SIZE_T size) {
    if (base_) return true;
    char* p = static_cast<char*>(
        VirtualAlloc(nullptr, size + PageSize(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!p) return false;
    DWORD old;
    if (!VirtualProtect(p, PageSize(), PAGE_NOACCESS, &old)) {
      VirtualFree(p, 0, MEM_RELEASE);
      return false;
    }
    base_ = p;
    high_ = p + size + PageSize();
    return true;
  }
  char* High() const { return high_; }
  bool Holds(uintptr_t address) const {
    return address >= reinterpret_cast<uintptr_t>(base_) &&
           address < reinterpret_cast<uintptr_t>(high_);
  }

 private:
  // Never the stack we stand on: a fault that cannot be unwound ends in
  // std::terminate on this stack, and its report exits the process from
  // there, through the static destructors, this one among them. The
  // process's end reclaims the stack then.
  void Free() {
    if (!base_ || Holds(reinterpret_cast<uintptr_t>(__builtin_frame_address(0)))) return;
    VirtualFree(base_, 0, MEM_RELEASE);
    base_ = high_ = nullptr;
  }

  char* base_ = nullptr;
  char* high_ = nullptr;
};
#endif

// The installation. Removed at exit, so that nothing is translated after
// the translator's module has begun to go away.
class FaultLayer {
 public:
  FaultLayer() = default;
  FaultLayer(const FaultLayer&) = delete;
  FaultLayer& operator=(const FaultLayer&) = delete;
  ~FaultLayer() { Remove(); }

  bool Install(FaultTranslator newTranslator);
  void Remove() {
    translator = nullptr;
    if (handler_) RemoveVectoredExceptionHandler(handler_);
    handler_ = nullptr;
    if (filterSet_) SetUnhandledExceptionFilter(previousFilter);
    filterSet_ = false;
  }

  FaultTranslator volatile translator = nullptr;
  DWORD volatile thread = 0;
  // Set while the translator runs: an exception there is not translated
  // again but takes the system's course.
  bool volatile translating = false;
  LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;
#if defined(__i386__)
  // Kept for the next Install once allocated; freed only with the layer,
  // after the handlers are gone.
  GuardedStack throwStack;
#endif

 private:
  PVOID handler_ = nullptr;
  bool filterSet_ = false;
};

FaultLayer layer;

#if defined(__x86_64__)
// libgcc's personality looks for the handler of the instruction before the
// address it is given, as if it were a return address, while the system's
// unwinder reads from that address how far the function's prologue has run.
// One past the faulting instruction satisfies both, except inside a
// prologue, where the unwinder must have the faulting instruction itself (a
// prologue is in no handler's range anyway).
DWORD64 UnwindAddress(DWORD64 pc) {
  DWORD64 imageBase;
  if (PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(pc, &imageBase, nullptr)) {
    const BYTE* unwindInfo = reinterpret_cast<const BYTE*>(imageBase + function->UnwindData);
    const BYTE prologueSize = unwindInfo[1];
    if (pc - (imageBase + function->BeginAddress) < prologueSize) return pc;
  }
  return pc + 1;
}

void RedirectToTrampoline(CONTEXT& context) {
  context.Rcx = UnwindAddress(context.Rip);
  context.Rdx = context.Rsp;
  // Windows has no red zone: all below the stack pointer is free.
  context.Rsp = (context.Rsp - 64) & ~static_cast<DWORD64>(15);
  context.Rip = reinterpret_cast<DWORD64>(&FaultTrampoline);
}
#else
struct UnwindBases {
  void* text;
  void* data;
  void* function;
};
extern "C" const void* _Unwind_Find_FDE(void* pc, UnwindBases* bases);

// Whether libgcc has unwind information for the function at `pc`: it has
// for ours, not for the system's or a server's.
bool Unwindable(uintptr_t pc) {
  UnwindBases bases;
  return _Unwind_Find_FDE(reinterpret_cast<void*>(pc), &bases) != nullptr;
}

bool ReadWord(uintptr_t address, uintptr_t* word) {
  SIZE_T read = 0;
  return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(address), word,
                           sizeof *word, &read) &&
         read == sizeof *word;
}

bool Executable(uintptr_t pc) {
  MEMORY_BASIC_INFORMATION page;
  return VirtualQuery(reinterpret_cast<const void*>(pc), &page, sizeof page) == sizeof page &&
         page.State == MEM_COMMIT &&
         (page.Protect & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE |
                          PAGE_EXECUTE_WRITECOPY));
}

// The exception is thrown from the innermost frame that libgcc can unwind:
// the stopped one if it is ours. After a call to where no code is, the
// caller, inside its call instruction. Inside foreign code (RaiseException,
// a server), the first of our frames up the saved frame pointers, which
// 32-bit Windows code keeps; the foreign frames passed over restore nothing,
// so our frames see ebx, esi and edi as the exception left them.
void RedirectToTrampoline(CONTEXT& context) {
  uintptr_t unwindFrom = context.Eip;
  uintptr_t unwindSp = context.Esp;
  uintptr_t returnAddress, link;
  if (Unwindable(unwindFrom)) {
    // as it stands
  } else if (!Executable(unwindFrom) && ReadWord(unwindSp, &returnAddress) &&
             Unwindable(returnAddress - 1)) {
    unwindFrom = returnAddress - 1;
    unwindSp += sizeof(uintptr_t);
  } else {
    for (uintptr_t frame = context.Ebp;
         ReadWord(frame, &link) && ReadWord(frame + sizeof link, &returnAddress); frame = link) {
      if (Unwindable(returnAddress - 1)) {
        unwindFrom = returnAddress - 1;
        unwindSp = frame + 2 * sizeof link;
        context.Ebp = link;
        break;
      }
      if (link <= frame) break;  // a chain that does not lead up the stack
    }
  }
  auto* top = reinterpret_cast<uintptr_t*>(layer.throwStack.High());
  top[-1] = unwindSp;
  top[-2] = unwindFrom;
  context.Esp = reinterpret_cast<DWORD>(top - 2);
  context.Eip = reinterpret_cast<DWORD>(&FaultTrampoline);
}
#endif

// Whether an exception of this thread now is the translator's to throw.
bool Translates(const CONTEXT& context) {
  if (!layer.translator || GetCurrentThreadId() != layer.thread || layer.translating) return false;
#if defined(__i386__)
  if (layer.throwStack.Holds(context.Esp)) return false;
#else
  (void)context;
#endif
  return true;
}

// Resumes the thread in the trampoline, which throws the translator's
// exception for `record`.
LONG Translate(const EXCEPTION_RECORD& record, CONTEXT& context) {
#if defined(__i386__)
  const void* frame = reinterpret_cast<const void*>(context.Ebp);
#else
  const void* frame = reinterpret_cast<const void*>(context.Rbp);
#endif
  pendingFault.record = record;
  pendingFault.instruction = record.ExceptionAddress;
  pendingFault.frame = frame;
  layer.translating = true;
  RedirectToTrampoline(context);
  return EXCEPTION_CONTINUE_EXECUTION;
}

LONG CALLBACK OnException(EXCEPTION_POINTERS* pointers) {
  if (!IsProcessorFault(pointers->ExceptionRecord->ExceptionCode) ||
      !Translates(*pointers->ContextRecord)) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  return Translate(*pointers->ExceptionRecord, *pointers->ContextRecord);
}

// The last chance: an exception that no handler took.
LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
  EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  if (!Translates(*pointers->ContextRecord)) {
    return layer.previousFilter ? layer.previousFilter(pointers) : EXCEPTION_CONTINUE_SEARCH;
  }
  const LONG result = Translate(record, *pointers->ContextRecord);
  // The system resumes the thread only for a continuable exception; the
  // report keeps the record as raised.
  record.ExceptionFlags &= ~static_cast<DWORD>(EXCEPTION_NONCONTINUABLE);
  return result;
}

// Asks the system to raise a stack overflow with kOverflowReserve left
// (Vista and later; XP raises it with one guard page left).
void ReserveStackForOverflow() {
  typedef BOOL(WINAPI * SetGuarantee)(PULONG);
  auto setGuarantee = reinterpret_cast<SetGuarantee>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadStackGuarantee")));
  ULONG size = kOverflowReserve;
  if (!setGuarantee || !setGuarantee(&size)) return;
  // Wine commits the main thread's whole stack at once, with its guard page
  // at the very bottom, where the guarantee never comes into play. A guard
  // page above the reserve lets the stack grow page by page from there, as
  // on Windows, where that page is not committed yet and is left alone.
  MEMORY_BASIC_INFORMATION stack, page;
  if (!VirtualQuery(&stack, &stack, sizeof stack)) return;
  char* guard = static_cast<char*>(stack.AllocationBase) + kOverflowReserve + 2 * PageSize();
  DWORD old;
  if (VirtualQuery(guard, &page, sizeof page) == sizeof page && page.State == MEM_COMMIT &&
      page.Protect == PAGE_READWRITE && guard < reinterpret_cast<char*>(&stack) - PageSize()) {
    VirtualProtect(guard, PageSize(), PAGE_READWRITE | PAGE_GUARD, &old);
  }
}

bool FaultLayer::Install(FaultTranslator newTranslator) {
#if defined(__i386__)
  if (!throwStack.Allocate(kThrowStackSize)) return false;
#endif
  if (!handler_) {
    handler_ = AddVectoredExceptionHandler(1, OnException);
    if (!handler_) return false;
  }
  if (!filterSet_) {
    previousFilter = SetUnhandledExceptionFilter(OnUnhandledException);
    filterSet_ = true;
  }
  ReserveStackForOverflow();
  thread = GetCurrentThreadId();
  translator = newTranslator;
  return true;
}

}  // namespace

// Called by the trampoline; the translator's exception leaves through the
// trampoline into the faulting frame.
extern "C" [[noreturn]] __attribute__((used)) void ThrowPendingFault() asm(
    "tw_throw_pending_fault");
void ThrowPendingFault() {
  // Cleared when the translator's exception leaves this frame.
  struct Translating {
    ~Translating() { layer.translating = false; }
  } translating;
  const PendingFault fault = pendingFault;
  layer.translator(&fault.record, fault.instruction, fault.frame);
  abort();  // a translator that returns breaks its contract
}

bool SetFaultTranslator(FaultTranslator translator) {
  if (!translator) {
    layer.Remove();
    return true;
  }
  return layer.Install(translator);
}
