// Fault injection for the fault sweeps: while armed, the Nth allocation or the Nth I/O call of
// the process fails (or, for reads and writes, transfers only part of its bytes). The hook
// replaces the allocation and I/O functions of the test executable that links it, so it reaches
// everything loaded in the process: the platform library, the component module, libjpeg.
#pragma once

namespace quorvex::faults {

enum class Kind {
  kAllocation,  // malloc, calloc, realloc, aligned allocations, operator new: null / bad_alloc
  kIo,          // open, read, write, fsync, fdatasync, rename, fallocate, ...: -1 with an errno
  kShortIo,     // a read or write moves half its bytes; after a write, the next fails with ENOSPC
};

const char* KindName(Kind kind);

// Counts calls of kind from now on and fails the nth (1-based).
void Arm(Kind kind, long nth);
// Stops counting; returns whether the fault was injected.
bool Disarm();
// Calls of the armed kind counted since Arm.
long Counted();

}  // namespace quorvex::faults
