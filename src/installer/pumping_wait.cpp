#include "pumping_wait.h"

#include <wininet.h>

#include "installer_run.h"
#include "stall_limit.h"

namespace orvex {

DWORD PumpingWait(const HANDLE* handles, DWORD count, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  HeldQuit quit;
  for (;;) {
    const DWORD result = ::WaitForMultipleObjects(count, handles, FALSE, kPumpSliceMilliseconds);
    if (result < WAIT_OBJECT_0 + count) return result - WAIT_OBJECT_0;
    if (result == WAIT_FAILED) return count;
    if (timeoutMs != INFINITE && ::GetTickCount64() >= deadline) return count;
    PumpOneMessage(quit);
  }
}

DWORD_PTR WaitForCompletion(InstallerRun& run) {
  const HANDLE handles[] = {run.requestCompleteEvent, run.stopEvent};
  const ULONGLONG start = ::GetTickCount64();
  const DWORD limit = StallLimitMs();
  for (;;) {
    // The stall limit counts from the later of the wait's start and the last
    // notification of the run.
    const ULONGLONG progress = run.lastProgress;
    const ULONGLONG since = progress > start ? progress : start;
    const ULONGLONG now = ::GetTickCount64();
    if (now - since >= limit) {
      run.stalled = true;
      run.asyncError = ERROR_INTERNET_TIMEOUT;
      return 0;
    }
    const DWORD index = PumpingWait(handles, 2, static_cast<DWORD>(since + limit - now));
    if (index == 0) return run.asyncResult;
    if (index == 1) return 0;
  }
}

}  // namespace orvex
