// What this process holds: its handles and its private bytes, as the soak
// measures them.
#pragma once

#include <windows.h>

namespace orvex::test {

struct ProcessUsage {
  DWORD handles = 0;
  SIZE_T privateBytes = 0;
  SIZE_T heapBytesInUse = 0;  // the busy blocks of every heap of the process
};

// The platform's own figures (GetProcessHandleCount, and PrivateUsage of
// PROCESS_MEMORY_COUNTERS_EX). Where the platform reports 0 for either, which
// no running process has, the same quantity is counted directly: the
// process's entries in the system's handle table, and the committed private
// regions of its address space. Also the heaps' bytes in use.
ProcessUsage MeasureProcessUsage();

// The direct counts on their own; 0 when they cannot be had.
DWORD CountHandleTableEntries();
SIZE_T CountCommittedPrivateBytes();
// The bytes of all blocks in use in the process's heaps, the module's
// private heaps among them: finer than private bytes, which grow a heap
// region at a time.
SIZE_T CountHeapBytesInUse();

}  // namespace orvex::test
