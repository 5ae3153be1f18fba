// Processor faults as exceptions: ClStructuredException, which carries the
// system's record of a fault, and the translator that throws it.
#pragma once

#include "errors/exception.h"

// A processor fault (an access violation, a division by zero, a stack
// overflow...) of the main thread. Its call stack starts at the faulting
// instruction.
class ClStructuredException : public ClException {
 public:
  // Copies `faultRecord` whole; the snapshot starts at `start`, the faulting
  // instruction and its frame.
  ClStructuredException(const EXCEPTION_RECORD& faultRecord, const ClStackStart& start);

  // The fault's name followed by " in module:" and, on the next line, the
  // full path of the module that holds the faulting instruction.
  void Describe(ClString& text) override;
  // The record's code, address, flags and first (at most 15) parameters,
  // then the call-stack listing. Addresses and parameters are printed in
  // the width of a pointer.
  void DescribeDetails(ClString& text) override;

  EXCEPTION_RECORD record;
};

// The fault translator (a FaultTranslator): throws a new
// ClStructuredException for the fault and never returns. The entry installs
// it for the main thread with SetFaultTranslator.
[[noreturn]] void StructuredTranslator(const EXCEPTION_RECORD* record, const void* instruction,
                                       const void* frame);
