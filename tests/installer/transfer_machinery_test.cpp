// The installer's waits, status callback and folder bounds, in this process.
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include <string>

#include "downloads_folder.h"
#include "installer_run.h"
#include "internet_status.h"
#include "pumping_wait.h"
#include "transfer.h"

namespace orvex::test {
namespace {

// A run with the events and lock the job's machinery works on.
class Machinery : public ::testing::Test {
 protected:
  void SetUp() override {
    run_.stopEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    run_.requestCompleteEvent = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    run_.handleCreatedEvent = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    run_.handleClosingEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    run_.handlesClosedEvent = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
    run_.transferLock = ::CreateMutexA(nullptr, FALSE, nullptr);
  }
  void Notify(HINTERNET handle, DWORD status, void* information = nullptr, DWORD length = 0) {
    InternetStatusCallback(handle, reinterpret_cast<DWORD_PTR>(&run_), status, information, length);
  }
  static bool Signalled(HANDLE event) { return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }
  InstallerRun run_;
};

// Runs the function on a thread of its own: its exit code, or ~0 when it did not end in time.
DWORD OnThread(LPTHREAD_START_ROUTINE function, void* param, DWORD timeoutMs = 30000) {
  const HANDLE thread = ::CreateThread(nullptr, 0, function, param, 0, nullptr);
  DWORD result = ~0u;
  if (::WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0) ::GetExitCodeThread(thread, &result);
  ::CloseHandle(thread);
  return result;
}

DWORD WINAPI WaitForCompletionThread(void* run) {
  return static_cast<DWORD>(WaitForCompletion(*static_cast<InstallerRun*>(run)));
}
HANDLE timerFired;
void CALLBACK SetTimerFired(HWND, UINT, UINT_PTR, DWORD) { ::SetEvent(timerFired); }

TEST_F(Machinery, EveryWaitEnds) {
  ::SetEvent(run_.handleClosingEvent);
  const HANDLE pair[] = {run_.requestCompleteEvent, run_.handleClosingEvent};
  EXPECT_EQ(PumpingWait(pair, 2), 1u) << "the index of the signalled handle";
  const HANDLE bad[] = {reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0xDEAD0))};
  EXPECT_EQ(PumpingWait(bad, 1), 1u) << "a failed wait ends";
  EXPECT_EQ(PumpingWait(pair, 1, 50), 1u) << "a bounded wait ends";

  // A WM_QUIT met during a wait is posted again after it.
  timerFired = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(::PostThreadMessageA(::GetCurrentThreadId(), WM_QUIT, 7, 0));
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 1, SetTimerFired);
  EXPECT_EQ(PumpingWait(&timerFired, 1, 10000), 0u);
  ::KillTimer(nullptr, timer);
  MSG msg = {};
  EXPECT_TRUE(::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) && msg.wParam == 7) << "WM_QUIT swallowed";

  run_.asyncResult = 0x1234;
  ::SetEvent(run_.requestCompleteEvent);
  ::SetEvent(run_.stopEvent);
  EXPECT_EQ(WaitForCompletion(run_), 0x1234u) << "a completion wins over a stop";
  EXPECT_EQ(WaitForCompletion(run_), 0u) << "after a stop every later wait gives 0";
  // A call that failed at once waits for nothing and keeps its error.
  ::ResetEvent(run_.stopEvent);
  ::SetLastError(ERROR_INTERNET_NAME_NOT_RESOLVED);
  EXPECT_EQ(CompletionOfFailedCall(run_), 0u);
  EXPECT_EQ(run_.asyncError, static_cast<DWORD>(ERROR_INTERNET_NAME_NOT_RESOLVED));
  // Nothing reported: given up after the (short, in this build) stall limit.
  EXPECT_EQ(OnThread(WaitForCompletionThread, &run_), 0u) << "the completion wait has no end";
  EXPECT_EQ(run_.asyncError, static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
}

// The run outlives every handle until its closing notification; a closed handle is forgotten.
TEST_F(Machinery, CallbackRecordsHandlesAndResults) {
  const auto handle = reinterpret_cast<HINTERNET>(static_cast<ULONG_PTR>(0xC0DE));
  const auto request = reinterpret_cast<HINTERNET>(static_cast<ULONG_PTR>(0xBEEF));
  Notify(handle, INTERNET_STATUS_HANDLE_CREATED);
  Notify(request, INTERNET_STATUS_HANDLE_CREATED);
  EXPECT_EQ(run_.currentHandle, request);
  EXPECT_TRUE(Signalled(run_.handleCreatedEvent));
  EXPECT_FALSE(Signalled(run_.handleClosingEvent));
  Notify(request, INTERNET_STATUS_HANDLE_CLOSING);
  EXPECT_EQ(run_.currentHandle, nullptr);
  EXPECT_TRUE(Signalled(run_.handleClosingEvent));
  EXPECT_FALSE(run_.WaitForHandlesClosed(0)) << "the first handle has not closed yet";
  Notify(handle, INTERNET_STATUS_HANDLE_CLOSING);
  EXPECT_TRUE(run_.WaitForHandlesClosed(0));

  INTERNET_ASYNC_RESULT result = {reinterpret_cast<DWORD_PTR>(handle), 12029};
  Notify(handle, INTERNET_STATUS_REQUEST_COMPLETE, &result, sizeof(result));
  EXPECT_EQ(run_.asyncResult, reinterpret_cast<DWORD_PTR>(handle)) << "the whole handle, on 64 bits too";
  EXPECT_EQ(run_.asyncError, 12029u);
  EXPECT_TRUE(Signalled(run_.requestCompleteEvent));
}

TEST(DownloadsFolder, PathsNeverOverflowTheirBuffers) {
  char small[16] = "%ORVEX_LONG%";
  ::SetEnvironmentVariableA("ORVEX_LONG", std::string(100, 'x').c_str());
  EXPECT_FALSE(ExpandInPlace(small, sizeof(small)));
  EXPECT_STREQ(small, "%ORVEX_LONG%") << "an expansion that does not fit leaves the text";
  char path[260];
  EXPECT_TRUE(PreparePackagePath(path, sizeof(path), "quillon_1-0-0-5.exe"));
  EXPECT_NE(std::string(path).find("\\Brindlewood\\Downloads\\quillon_1-0-0-5.exe"), std::string::npos);
  EXPECT_FALSE(PreparePackagePath(path, sizeof(path), std::string(250, 'p').c_str()));
}

}  // namespace
}  // namespace orvex::test
