#include "internet_status.h"

#include <cstring>

#include "installer_run.h"
#include "progress_window.h"  // kProgressTextSize

namespace orvex {

namespace {

// A notification's information as text, never read past its length.
void StatusWithInformation(InstallerRun& run, const char* before, const void* information, DWORD length) {
  char text[kProgressTextSize] = "";
  if (information != nullptr) {
    const std::size_t limit = length < sizeof(text) - 1 ? length : sizeof(text) - 1;
    const auto* source = static_cast<const char*>(information);
    std::size_t used = 0;
    while (used < limit && source[used] != '\0') ++used;
    std::memcpy(text, source, used);
    text[used] = '\0';
  }
  run.ShowStatusFromCallback(before, text, "...");
}

}  // namespace

void CALLBACK InternetStatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, void* information,
                                     DWORD informationLength) {
  auto* run = reinterpret_cast<InstallerRun*>(context);
  if (run == nullptr) return;
  // Anything WinINet reports is progress of the operation in flight.
  run->lastProgress = ::GetTickCount64();
  switch (status) {
    case INTERNET_STATUS_RESOLVING_NAME:
      StatusWithInformation(*run, "Resolving address for ", information, informationLength);
      break;
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
      StatusWithInformation(*run, "Connecting to ", information, informationLength);
      break;
    case INTERNET_STATUS_CLOSING_CONNECTION:
      run->ShowStatusFromCallback("Closing connection...");
      break;
    case INTERNET_STATUS_HANDLE_CREATED:
      ::WaitForSingleObject(run->transferLock, INFINITE);
      run->currentHandle = handle;
      ++run->openHandles;
      ::ResetEvent(run->handlesClosedEvent);
      ::ReleaseMutex(run->transferLock);
      ::ResetEvent(run->handleClosingEvent);
      ::SetEvent(run->handleCreatedEvent);
      break;
    case INTERNET_STATUS_HANDLE_CLOSING:
      // A closed handle is no longer the watcher's to close.
      ::WaitForSingleObject(run->transferLock, INFINITE);
      if (run->currentHandle == handle) run->currentHandle = nullptr;
      if (run->openHandles > 0 && --run->openHandles == 0) ::SetEvent(run->handlesClosedEvent);
      ::SetEvent(run->handleClosingEvent);
      // The last notification of a handle. Once the lock is released after
      // the run's last one, the run may be deleted: nothing of it is touched
      // after this call.
      ::ReleaseMutex(run->transferLock);
      break;
    case INTERNET_STATUS_REQUEST_COMPLETE:
      if (information != nullptr && informationLength >= sizeof(INTERNET_ASYNC_RESULT)) {
        const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(information);
        run->asyncResult = result->dwResult;
        run->asyncError = result->dwError;
      }
      ::SetEvent(run->requestCompleteEvent);
      break;
    default:
      break;
  }
}

}  // namespace orvex
