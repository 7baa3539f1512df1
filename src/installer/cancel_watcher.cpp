#include "cancel_watcher.h"

#include <wininet.h>

#include "installer_run.h"

namespace orvex {

DWORD CancelWatcher(InstallerRun* run) {
  ::WaitForSingleObject(run->stopEvent, INFINITE);
  // The handle is taken out under the lock and closed outside it: closing may
  // deliver notifications on this thread, and the status callback takes the
  // lock too, on WinINet's threads and on the job thread.
  ::WaitForSingleObject(run->transferLock, INFINITE);
  const HINTERNET handle = run->currentHandle;
  run->currentHandle = nullptr;
  ::ReleaseMutex(run->transferLock);
  if (handle != nullptr) ::InternetCloseHandle(handle);
  return 0;
}

}  // namespace orvex
