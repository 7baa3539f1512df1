#include "pumping_wait.h"

#include "installer_run.h"

namespace orvex {

DWORD PumpingWait(const HANDLE* handles, DWORD count, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    const DWORD result = ::WaitForMultipleObjects(count, handles, FALSE, kPumpSliceMilliseconds);
    if (result < WAIT_OBJECT_0 + count) return result - WAIT_OBJECT_0;
    if (result == WAIT_FAILED) return count;
    if (timeoutMs != INFINITE && ::GetTickCount64() >= deadline) return count;
    PumpOneMessage();
  }
}

DWORD_PTR WaitForCompletion(InstallerRun& run) {
  const HANDLE handles[] = {run.requestCompleteEvent, run.stopEvent};
  return PumpingWait(handles, 2) == 0 ? run.asyncResult : 0;
}

}  // namespace orvex
