// The installer's waits, status callback, cancel watcher, error report and
// folder bounds, in this process.
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include <cstring>
#include <string>
#include <vector>

#include "cancel_watcher.h"
#include "downloads_folder.h"
#include "installer_run.h"
#include "internet_status.h"
#include "pumping_wait.h"
#include "report_internet_error.h"
#include "transfer.h"
#include "ui_robot.h"

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
    run_.transferLock = ::CreateMutexA(nullptr, FALSE, nullptr);
  }
  void Notify(HINTERNET handle, DWORD status, void* information = nullptr, DWORD length = 0) {
    InternetStatusCallback(handle, reinterpret_cast<DWORD_PTR>(&run_), status, information, length);
  }
  InstallerRun run_;
};

TEST_F(Machinery, PumpingWaitReturnsTheSignalledIndexAndEndsOnFailure) {
  ::SetEvent(run_.handleClosingEvent);
  ::PostThreadMessageA(::GetCurrentThreadId(), WM_USER + 7, 0, 0);
  const HANDLE pair[] = {run_.requestCompleteEvent, run_.handleClosingEvent};
  EXPECT_EQ(PumpingWait(pair, 2), 1u);
  MSG msg;
  EXPECT_TRUE(::PeekMessageA(&msg, nullptr, WM_USER + 7, WM_USER + 7, PM_REMOVE))
      << "an already signalled handle returns without dispatching";

  const HANDLE bad[] = {reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0xDEAD0))};
  EXPECT_EQ(PumpingWait(bad, 1), 1u) << "a failed wait ends";
  EXPECT_EQ(PumpingWait(pair, 1, 50), 1u) << "a bounded wait ends";
}

TEST_F(Machinery, CompletionWinsOverStopAndStopGivesZero) {
  run_.asyncResult = 0x1234;
  ::SetEvent(run_.requestCompleteEvent);
  ::SetEvent(run_.stopEvent);
  EXPECT_EQ(WaitForCompletion(run_), 0x1234u);
  EXPECT_EQ(WaitForCompletion(run_), 0u) << "after a stop every later wait gives 0";

  // A call that failed at once waits for nothing.
  ::ResetEvent(run_.stopEvent);
  ::SetLastError(ERROR_INTERNET_NAME_NOT_RESOLVED);
  EXPECT_EQ(CompletionOfFailedCall(run_), 0u);
  EXPECT_EQ(run_.asyncError, static_cast<DWORD>(ERROR_INTERNET_NAME_NOT_RESOLVED));
}

TEST_F(Machinery, CallbackRecordsHandlesAndResults) {
  const auto handle = reinterpret_cast<HINTERNET>(static_cast<ULONG_PTR>(0xC0DE));
  Notify(handle, INTERNET_STATUS_HANDLE_CREATED);
  EXPECT_EQ(run_.currentHandle, handle);
  EXPECT_EQ(::WaitForSingleObject(run_.handleCreatedEvent, 0), WAIT_OBJECT_0);
  Notify(handle, INTERNET_STATUS_HANDLE_CLOSING);
  EXPECT_EQ(run_.currentHandle, nullptr) << "a closed handle is not closed again by the watcher";
  EXPECT_EQ(::WaitForSingleObject(run_.handleClosingEvent, 0), WAIT_OBJECT_0);
  Notify(handle, INTERNET_STATUS_HANDLE_CREATED);
  EXPECT_EQ(::WaitForSingleObject(run_.handleClosingEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  INTERNET_ASYNC_RESULT result = {reinterpret_cast<DWORD_PTR>(handle), 12029};
  Notify(handle, INTERNET_STATUS_REQUEST_COMPLETE, &result, sizeof(result));
  EXPECT_EQ(run_.asyncResult, reinterpret_cast<DWORD_PTR>(handle)) << "the whole handle, on 64 bits too";
  EXPECT_EQ(run_.asyncError, 12029u);
  EXPECT_EQ(::WaitForSingleObject(run_.requestCompleteEvent, 0), WAIT_OBJECT_0);
}

DWORD WINAPI WatcherThread(void* run) { return CancelWatcher(static_cast<InstallerRun*>(run)); }

TEST_F(Machinery, WatcherWithNoHandleClosesNothingAndEnds) {
  HANDLE watcher = ::CreateThread(nullptr, 0, WatcherThread, &run_, 0, nullptr);
  ASSERT_NE(watcher, nullptr);
  EXPECT_EQ(::WaitForSingleObject(watcher, 100), static_cast<DWORD>(WAIT_TIMEOUT)) << "it sleeps until the stop";
  ::SetEvent(run_.stopEvent);
  EXPECT_EQ(::WaitForSingleObject(watcher, 5000), WAIT_OBJECT_0);
  ::CloseHandle(watcher);
}

TEST_F(Machinery, UrlWithoutAHostGivesUpThePhase) {
  bool read = false;
  static bool* readFlag;
  readFlag = &read;
  const ULONGLONG start = ::GetTickCount64();
  RunTransfer(run_, "http:///quillon/info.txt", [](InstallerRun&, HINTERNET) { *readFlag = true; });
  RunTransfer(run_, "no url at all", [](InstallerRun&, HINTERNET) { *readFlag = true; });
  EXPECT_FALSE(read);
  EXPECT_LT(::GetTickCount64() - start, 5000u);
}

TEST(DownloadsFolder, PathsNeverOverflowTheirBuffers) {
  char text[32] = "%WINDIR%";
  EXPECT_TRUE(ExpandInPlace(text, sizeof(text)));
  EXPECT_STRNE(text, "%WINDIR%");
  char small[16] = "%ORVEX_LONG%";
  ::SetEnvironmentVariableA("ORVEX_LONG", std::string(100, 'x').c_str());
  EXPECT_FALSE(ExpandInPlace(small, sizeof(small)));
  EXPECT_STREQ(small, "%ORVEX_LONG%") << "an expansion that does not fit leaves the text";

  char path[260];
  EXPECT_TRUE(PreparePackagePath(path, sizeof(path), "quillon_1-0-0-5.exe"));
  EXPECT_NE(std::string(path).find("\\Brindlewood\\Downloads\\quillon_1-0-0-5.exe"), std::string::npos);
  EXPECT_FALSE(PreparePackagePath(path, sizeof(path), std::string(250, 'p').c_str()));
}

// Reads the error box of this process, presses OK, and gives its texts.
struct BoxReader {
  static DWORD WINAPI Run(void* param) {
    auto* texts = static_cast<std::vector<std::string>*>(param);
    const HWND box = WaitForTopLevelWindow(::GetCurrentProcessId(), "#32770", "Error Accessing Internet", 10000);
    if (box == nullptr) return 1;
    *texts = ChildTexts(box);
    PressButton(box, "OK");
    return 0;
  }
};

std::vector<std::string> ReportTexts(DWORD code) {
  std::vector<std::string> texts;
  HANDLE reader = ::CreateThread(nullptr, 0, BoxReader::Run, &texts, 0, nullptr);
  ReportInternetError(nullptr, code);
  ::WaitForSingleObject(reader, 10000);
  ::CloseHandle(reader);
  return texts;
}

bool Contains(const std::vector<std::string>& texts, const std::string& part) {
  for (const auto& text : texts) {
    if (text.find(part) != std::string::npos) return true;
  }
  return false;
}

TEST(ErrorReport, UnknownErrorAndWinInetsOwnMessage) {
  ::LoadLibraryA("wininet.dll");
  EXPECT_TRUE(Contains(ReportTexts(0), "Unknown Error"));
  const std::vector<std::string> texts = ReportTexts(ERROR_INTERNET_NAME_NOT_RESOLVED);
  EXPECT_TRUE(Contains(texts, "Error code: 12007\nMessage: ")) << (texts.empty() ? "" : texts.back());
  EXPECT_TRUE(Contains(ReportTexts(1), "Unknown Error")) << "a code WinINet has no text for";
}

}  // namespace
}  // namespace orvex::test
