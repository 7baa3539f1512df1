#include "cancel_watcher.h"

#include <wininet.h>

#include "installer_run.h"

namespace orvex {

DWORD CancelWatcher(InstallerRun* run) {
  ::WaitForSingleObject(run->stopEvent, INFINITE);
  ::WaitForSingleObject(run->transferLock, INFINITE);
  if (run->currentHandle != nullptr) {
    ::InternetCloseHandle(run->currentHandle);
    run->currentHandle = nullptr;
  }
  ::ReleaseMutex(run->transferLock);
  return 0;
}

}  // namespace orvex
