#include "installer_run.h"

#include <cstring>

#include "cancel_watcher.h"
#include "download_hosts.h"
#include "join_names.h"
#include "object_names.h"
#include "product_info.h"
#include "product_name.h"
#include "progress_window.h"
#include "update_job.h"

namespace orvex {

namespace {

DWORD WINAPI JobThreadMain(void* param) {
  RunUpdateJob(*static_cast<InstallerRun*>(param));
  return 0;
}

DWORD WINAPI WatcherThreadMain(void* param) { return CancelWatcher(static_cast<InstallerRun*>(param)); }

// Whether a copy of the block is one the control could have written for this
// rendezvous: every text terminated, the product name acceptable and the
// rendezvous name itself, the information server the built-in one, and the
// download base URL on an allowed host.
bool IsBlockOfRendezvous(const RendezvousBlock& copy, const char* rendezvousName) {
  return IsWellFormedBlock(copy) && IsAcceptableProductName(copy.productName) &&
         std::strcmp(copy.productName, rendezvousName) == 0 &&
         std::strcmp(copy.infoBaseUrl, BuiltInInfoBaseUrl()) == 0 &&
         IsAllowedDownloadUrl(copy.downloadBaseUrl, std::strlen(copy.downloadBaseUrl));
}

void CloseIfSet(HANDLE& handle) {
  if (handle != nullptr) ::CloseHandle(handle);
  handle = nullptr;
}

}  // namespace

InstallerRun::InstallerRun() {
  ::InitializeCriticalSection(&statusLock_);
  messageText[0] = '\0';
  packageFileName[0] = '\0';
  transferBuffer[0] = '\0';
  packagePath[0] = '\0';
}

void InstallerRun::Open(const char* rendezvousName) {
  if (OpenRendezvous(rendezvousName)) StartJob(rendezvousName);
}

bool InstallerRun::OpenRendezvous(const char* rendezvousName) {
  mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, JoinNames(kInfoPrefix, rendezvousName));
  if (mapping == nullptr) return false;
  view = static_cast<const RendezvousBlock*>(::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  if (view == nullptr) return false;
  installingEvent = ::OpenEventA(EVENT_ALL_ACCESS, FALSE, JoinNames(kInstallingPrefix, rendezvousName));
  if (installingEvent == nullptr) return false;
  syncEvent = ::OpenEventA(EVENT_ALL_ACCESS, FALSE, JoinNames(kSyncPrefix, rendezvousName));
  if (syncEvent == nullptr) return false;
  // The control may go on from here: the installer holds the rendezvous.
  ::SetEvent(syncEvent);
  return true;
}

void InstallerRun::StartJob(const char* rendezvousName) {
  // Copied once and checked; a block that fails runs no job.
  std::memcpy(&checkedBlock, view, sizeof(checkedBlock));
  if (!IsBlockOfRendezvous(checkedBlock, rendezvousName)) return;
  block = &checkedBlock;
  upToDate = false;
  productInfo = new ProductInfo;
  productInfo->Init();
  currentHandle = nullptr;
  bytesDownloaded = 0;
  progressWindow = nullptr;
  jobThread = nullptr;
  watcherThread = nullptr;

  stopEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  requestCompleteEvent = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  handleCreatedEvent = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  handleClosingEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  handlesClosedEvent = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
  transferLock = ::CreateMutexA(nullptr, FALSE, nullptr);
  ownerWindow = nullptr;
  // Without its events and lock the job cannot wait for anything: run none.
  if (stopEvent == nullptr || requestCompleteEvent == nullptr || handleCreatedEvent == nullptr ||
      handleClosingEvent == nullptr || handlesClosedEvent == nullptr || transferLock == nullptr) {
    return;
  }

  watcherThread = ::CreateThread(nullptr, 0, WatcherThreadMain, this, 0, nullptr);
  if (watcherThread == nullptr) return;
  jobThread = ::CreateThread(nullptr, 0, JobThreadMain, this, 0, nullptr);
  if (jobThread == nullptr) {
    // No job will end the watcher: end it here.
    ::SetEvent(stopEvent);
    ::WaitForSingleObject(watcherThread, INFINITE);
  }
}

void InstallerRun::ReleaseRendezvous() {
  if (jobThread != nullptr) {
    ::WaitForSingleObject(jobThread, INFINITE);
    CloseIfSet(jobThread);
  }
  // The job thread has waited for the watcher; a run whose job never started
  // has no watcher left running either.
  CloseIfSet(watcherThread);
  if (view != nullptr) ::UnmapViewOfFile(view);
  view = nullptr;
  block = nullptr;
  CloseIfSet(mapping);
  if (installingEvent != nullptr) {
    // Releases the control's wait.
    ::SetEvent(installingEvent);
    CloseIfSet(installingEvent);
  }
  CloseIfSet(syncEvent);
}

bool InstallerRun::WaitForHandlesClosed(DWORD timeoutMs) const {
  if (handlesClosedEvent == nullptr || transferLock == nullptr) return true;
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    if (::WaitForSingleObject(handlesClosedEvent, left) != WAIT_OBJECT_0) return false;
    // The lock is free again only once the last closing notification has
    // returned from the run.
    if (::WaitForSingleObject(transferLock, left) != WAIT_OBJECT_0) return false;
    const bool none = openHandles == 0;
    ::ReleaseMutex(transferLock);
    if (none) return true;
    if (left == 0) return false;
  }
}

InstallerRun::~InstallerRun() {
  ReleaseRendezvous();
  if (productInfo != nullptr) productInfo->Reset();
  delete productInfo;
  productInfo = nullptr;
  CloseIfSet(handlesClosedEvent);
  CloseIfSet(handleClosingEvent);
  CloseIfSet(handleCreatedEvent);
  CloseIfSet(stopEvent);
  CloseIfSet(requestCompleteEvent);
  CloseIfSet(transferLock);
  ::DeleteCriticalSection(&statusLock_);
}

void InstallerRun::ShowStatusFromCallback(const char* first, const char* second, const char* third) {
  ::EnterCriticalSection(&statusLock_);
  if (progressWindow != nullptr) progressWindow->SetStatus(first, second, third);
  ::LeaveCriticalSection(&statusLock_);
}

ProgressWindow* InstallerRun::DetachProgressWindow() {
  // A callback holds the lock only while it hands its status line over, which
  // never waits for this thread.
  ::EnterCriticalSection(&statusLock_);
  ProgressWindow* window = progressWindow;
  progressWindow = nullptr;
  ::LeaveCriticalSection(&statusLock_);
  return window;
}

HWND InstallerRun::LiveDialog() const {
  return progressWindow != nullptr && ::IsWindow(progressWindow->dialog) ? progressWindow->dialog : nullptr;
}

HWND InstallerRun::MessageOwner() const {
  const HWND dialog = LiveDialog();
  return dialog != nullptr ? dialog : ownerWindow;
}

}  // namespace orvex
