// The job thread's waits: every one dispatches the thread's messages between
// 10-millisecond slices, so the progress dialog stays alive.
#pragma once

#include <windows.h>

#include "message_pump.h"

namespace orvex {

class InstallerRun;

// Waits until one of the handles is signalled and returns its index. A wait
// that fails outright (a bad handle), or runs past timeoutMs, returns count
// instead of repeating forever. A WM_QUIT met meanwhile is posted again at the end.
DWORD PumpingWait(const HANDLE* handles, DWORD count, DWORD timeoutMs = INFINITE);

// Waits for the pending asynchronous operation: its result, or 0 when the
// wait ended through stopEvent. A completion wins over a stop signalled at the
// same time. An operation of which WinINet reports nothing for the stall limit
// is given up: 0, with ERROR_INTERNET_TIMEOUT as the run's error.
DWORD_PTR WaitForCompletion(InstallerRun& run);

}  // namespace orvex
