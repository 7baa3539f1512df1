// The installer's state for one run: the rendezvous it opened, its events,
// lock and threads, the product record, the progress window, the transfer
// results and its text buffers.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>

#include "rendezvous_block.h"

namespace orvex {

struct ProductInfo;
class ProgressWindow;

constexpr std::size_t kMessageTextSize = 500;
constexpr std::size_t kPackageFileNameSize = 260;
constexpr std::size_t kTransferBufferSize = 5000;
constexpr std::size_t kPackagePathSize = 260;

class InstallerRun {
 public:
  InstallerRun();
  virtual ~InstallerRun();
  InstallerRun(const InstallerRun&) = delete;
  InstallerRun& operator=(const InstallerRun&) = delete;

  // Opens and acknowledges the rendezvous of this name, then starts the
  // watcher and job threads. A failure stops it with what it opened so far.
  void Open(const char* rendezvousName);

  // The two halves of Open: the rendezvous objects and "sync_" (true when all
  // four were opened), then the run's own record, events, lock and threads,
  // once the block's copy passed its checks.
  bool OpenRendezvous(const char* rendezvousName);
  void StartJob(const char* rendezvousName);

  // Waits for the job thread, then releases the rendezvous: the control goes
  // on. The destructor does it too, when it was not done before.
  void ReleaseRendezvous();

  // Waits up to timeoutMs until every WinINet handle of the run has delivered
  // its closing notification; until then WinINet may still call back into the
  // run, and it must not be deleted.
  bool WaitForHandlesClosed(DWORD timeoutMs) const;

  HANDLE mapping = nullptr;
  // The mapped "info_" block, which other processes may still write: it is
  // read once, into checkedBlock, and not again.
  const RendezvousBlock* view = nullptr;
  RendezvousBlock checkedBlock = {};
  // What the job reads: checkedBlock once it passed its checks; null before.
  const RendezvousBlock* block = nullptr;
  HANDLE installingEvent = nullptr;
  HANDLE syncEvent = nullptr;
  ProductInfo* productInfo = nullptr;
  HANDLE transferLock = nullptr;
  HINTERNET currentHandle = nullptr;
  DWORD_PTR asyncResult = 0;
  DWORD asyncError = 0;
  // A completion wait gave its operation up after the stall limit: the job's
  // failure is a time-out, whatever WinINet reports for the aborted operation
  // afterwards. Job thread only.
  bool stalled = false;
  HANDLE handleCreatedEvent = nullptr;
  HANDLE handleClosingEvent = nullptr;
  // Handles created and not yet closing (under transferLock), and the event
  // set while there are none.
  LONG openHandles = 0;
  HANDLE handlesClosedEvent = nullptr;
  HANDLE stopEvent = nullptr;
  HANDLE requestCompleteEvent = nullptr;
  HANDLE watcherThread = nullptr;
  HANDLE jobThread = nullptr;
  HWND ownerWindow = nullptr;
  bool upToDate = false;
  ProgressWindow* progressWindow = nullptr;
  DWORD bytesDownloaded = 0;
  char messageText[kMessageTextSize];
  char packageFileName[kPackageFileNameSize];
  char transferBuffer[kTransferBufferSize];
  char packagePath[kPackagePathSize];

  // The status line as WinINet's threads set it: nothing once the job has
  // taken the progress window away.
  void ShowStatusFromCallback(const char* first, const char* second = nullptr, const char* third = nullptr);
  // Takes the progress window away from the status callback, once no callback
  // is using it. Job thread only.
  ProgressWindow* DetachProgressWindow();
  // The progress dialog while it is a window, else null.
  HWND LiveDialog() const;
  // What the job's message boxes belong to: the progress dialog, else the
  // owner window.
  HWND MessageOwner() const;

  // Byte counts of the job's reads: members, not locals, because a read that
  // completes later writes its count after the call has returned.
  DWORD recordBytesRead = 0;
  DWORD chunkBytesRead = 0;

  // When WinINet last reported anything for the run (GetTickCount64): the
  // completion waits end after the stall limit without progress.
  std::atomic<ULONGLONG> lastProgress{0};

 private:
  CRITICAL_SECTION statusLock_;
};

}  // namespace orvex
