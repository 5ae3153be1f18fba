// Test-only ways to make a run fault. Built into the fault probe alone,
// never into the tool.
#pragma once

// Makes the processor fault that the environment variable TICKWRIGHT_FAULT
// names: divide-by-zero, null-read, null-read-in-library (inside a C library
// function), null-write, write-read-only-page, call-null, stack-overflow,
// illegal-instruction, breakpoint or, on Windows, raise (an unhandled
// structured exception raised in software). Returns without effect when the
// variable is not set or names none of them.
void MakeRequestedFault();
