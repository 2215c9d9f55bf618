#pragma once

// Running out of memory in a toolkit primitive is fatal: the process reports the
// primitive on standard error ("Error: Cannot allocate memory space in <name>") and
// exits with status -1. Callers never see a null record.
[[noreturn]] void ExitOnAllocationFailure(const char* primitive);
