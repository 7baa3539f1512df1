// The installer's waits, status callback, cancel watcher, error report and
// folder bounds, in this process.
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

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
  bool Signalled(HANDLE event) const { return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }
  InstallerRun run_;
};

TEST_F(Machinery, EveryWaitEnds) {
  ::SetEvent(run_.handleClosingEvent);
  const HANDLE pair[] = {run_.requestCompleteEvent, run_.handleClosingEvent};
  EXPECT_EQ(PumpingWait(pair, 2), 1u) << "the index of the signalled handle";
  const HANDLE bad[] = {reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0xDEAD0))};
  EXPECT_EQ(PumpingWait(bad, 1), 1u) << "a failed wait ends";
  EXPECT_EQ(PumpingWait(pair, 1, 50), 1u) << "a bounded wait ends";

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
}

DWORD WINAPI WatcherThread(void* run) { return CancelWatcher(static_cast<InstallerRun*>(run)); }

TEST_F(Machinery, CallbackRecordsHandlesAndResultsAndTheWatcherClosesNoClosedHandle) {
  const auto handle = reinterpret_cast<HINTERNET>(static_cast<ULONG_PTR>(0xC0DE));
  Notify(handle, INTERNET_STATUS_HANDLE_CREATED);
  EXPECT_EQ(run_.currentHandle, handle);
  EXPECT_TRUE(Signalled(run_.handleCreatedEvent));
  Notify(handle, INTERNET_STATUS_HANDLE_CLOSING);
  EXPECT_EQ(run_.currentHandle, nullptr) << "a closed handle is not closed again by the watcher";
  EXPECT_TRUE(Signalled(run_.handleClosingEvent));
  Notify(handle, INTERNET_STATUS_HANDLE_CREATED);
  EXPECT_FALSE(Signalled(run_.handleClosingEvent));
  Notify(handle, INTERNET_STATUS_HANDLE_CLOSING);

  INTERNET_ASYNC_RESULT result = {reinterpret_cast<DWORD_PTR>(handle), 12029};
  Notify(handle, INTERNET_STATUS_REQUEST_COMPLETE, &result, sizeof(result));
  EXPECT_EQ(run_.asyncResult, reinterpret_cast<DWORD_PTR>(handle)) << "the whole handle, on 64 bits too";
  EXPECT_EQ(run_.asyncError, 12029u);
  EXPECT_TRUE(Signalled(run_.requestCompleteEvent));

  HANDLE watcher = ::CreateThread(nullptr, 0, WatcherThread, &run_, 0, nullptr);
  ASSERT_NE(watcher, nullptr);
  EXPECT_EQ(::WaitForSingleObject(watcher, 100), static_cast<DWORD>(WAIT_TIMEOUT)) << "it sleeps until the stop";
  ::SetEvent(run_.stopEvent);
  EXPECT_EQ(::WaitForSingleObject(watcher, 5000), WAIT_OBJECT_0);
  ::CloseHandle(watcher);
}

TEST_F(Machinery, UrlWithoutAHostGivesUpThePhase) {
  static bool read;
  read = false;
  const ULONGLONG start = ::GetTickCount64();
  for (const char* url : {"http:///quillon/info.txt", "no url at all"}) {
    RunTransfer(run_, url, [](InstallerRun&, HINTERNET) { read = true; });
  }
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

// Reads the error box of this process and presses OK.
DWORD WINAPI ReadErrorBox(void* texts) {
  const HWND box = WaitForTopLevelWindow(::GetCurrentProcessId(), "#32770", "Error Accessing Internet", 10000);
  if (box == nullptr) return 1;
  *static_cast<std::vector<std::string>*>(texts) = ChildTexts(box);
  PressButton(box, "OK");
  return 0;
}

TEST(ErrorReport, UnknownErrorAndWinInetsOwnMessage) {
  ::LoadLibraryA("wininet.dll");
  const struct {
    DWORD code;
    const char* shown;
  } cases[] = {
      {0, "Unknown Error"},
      {ERROR_INTERNET_NAME_NOT_RESOLVED, "Error code: 12007\nMessage: "},
      {1, "Unknown Error"},  // a code WinINet has no text for
  };
  for (const auto& c : cases) {
    std::vector<std::string> texts;
    HANDLE reader = ::CreateThread(nullptr, 0, ReadErrorBox, &texts, 0, nullptr);
    ReportInternetError(nullptr, c.code);
    ::WaitForSingleObject(reader, 10000);
    ::CloseHandle(reader);
    std::string all;
    for (const std::string& text : texts) all += text + "\n";
    EXPECT_NE(all.find(c.shown), std::string::npos) << c.code << ": " << all;
  }
}

}  // namespace
}  // namespace orvex::test
