// The installer's parts in this process, with its own resources: what it
// takes from others (the server's record, the publisher a package's
// certificate names), its waits, status callback, folder bounds and progress
// dialog.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <wininet.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "downloads_folder.h"
#include "installer_resources.h"
#include "installer_run.h"
#include "internet_status.h"
#include "module_instance.h"
#include "package_trust.h"
#include "product_info.h"
#include "progress_window.h"
#include "pumping_wait.h"
#include "transfer.h"
#include "ui_robot.h"
#include "win_handles.h"

namespace orvex::test {
namespace {

// The text exactly as its block holds it (length + 1 bytes, NUL last) in
// brackets, or "~" for none.
std::string BlockText(char* text) {
  if (text == nullptr) return "~";
  const SIZE_T size = GlobalSize(text);
  EXPECT_GE(size, 1u);
  EXPECT_EQ(text[size - 1], '\0');
  return "[" + std::string(text, size - 1) + "]";
}

std::string Version(PackedVersion v) {
  return std::to_string(v.high >> 16) + "." + std::to_string(v.high & 0xFFFF) + "." + std::to_string(v.low >> 16) +
         "." + std::to_string(v.low & 0xFFFF);
}

// Everything a reader can see of a record: "parsed interval latest second
// third size [first] [description]".
std::string Take(const ProductInfo& r) {
  return std::to_string(r.parsed) + " " + std::to_string(r.updateIntervalDays) +
         " " + Version(r.latestVersion) + " " + Version(r.secondVersion) + " " + Version(r.thirdVersion) + " " +
         std::to_string(r.packageSize) + " " + BlockText(r.firstText) + " " + BlockText(r.description);
}

std::string FeedChunks(const std::vector<std::string>& chunks) {
  ProductInfo record;
  record.Init();
  for (const std::string& c : chunks) record.Feed(c.data(), static_cast<std::int32_t>(c.size()));
  return Take(record);
}

const std::string kEmpty = "0 0 0.0.0.0 0.0.0.0 0.0.0.0 0 ~ ~";
const std::string kRecord = "7|1.0.0.5|0.0.0.0|1048576|x|Some text";
// Line breaks and zero bytes belong to a description that runs to the end.
const std::string kTail("Line one\r\nzero \0 byte\r\n", 23);

struct Case {
  std::vector<std::string> chunks;
  std::string expected;
};

const Case kCases[] = {
    // Without its closing bar a record runs to the end of the data.
    {{"7|1.0.0.5|0.0.0.0|1|x|" + kTail}, "1 7 1.0.0.5 0.0.0.0 0.0.0.0 1 [x] [" + kTail + "]"},
    // Empty numbers and components are 0; versions may end with a full stop after d.
    {{"|1..3.4|0.0.0.0|5|a|b|"}, "1 0 1.0.3.4 0.0.0.0 0.0.0.0 5 [a] [b]"},
    {{"1|1.2.3.4.5.6.7.8.|x|d|9.9.9.9.ignored|\r\n"}, "1 1 1.2.3.4 5.6.7.8 9.9.9.9 0 [x] [d]"},
    {{"30|2.10.300.4000|1.0.0.0|123456|first text|A description\r\nwith lines|3.0.0.1|trailing | data\r\n"},
     "1 30 2.10.300.4000 1.0.0.0 3.0.0.1 123456 [first text] [A description\r\nwith lines]"},
    // Empty texts stay null.
    {{"7|1.0.0.5|0.0.0.0|1|||9.8.7.6."}, "1 7 1.0.0.5 0.0.0.0 9.8.7.6 1 ~ ~"},
    // A record cut short is still marked parsed, with what it had.
    {{"7|1.2"}, "1 7 1.2.0.0 0.0.0.0 0.0.0.0 0 ~ ~"},
    // Digits wrap (2^32, 2^16 per component) without spilling into neighbours.
    {{"4294967297|70000.70000.70000.70000|0.65536.0.65537|4294967306|"},
     "1 1 4464.4464.4464.4464 0.0.0.1 0.0.0.0 10 ~ ~"},
    // Format errors empty the whole record.
    {{"7|1.2.3|0.0.0.0|1|x|d"}, kEmpty},                   // bar after three components
    {{"7|1.2.3.4.5|1|x|d"}, kEmpty},                       // the fifth opens the next version
    {{"+7|1.0.0.5|0.0.0.0|1|x|d"}, kEmpty},                // sign
    {{"7|1.0.0.5|0.0.0.0|1\xB2|x|d"}, kEmpty},             // byte of 0x80 and above
    {{kRecord + "|\n"}, kEmpty},                           // line break where the third version goes
    {{kRecord + "|1.0.0.x"}, kEmpty},                      // error after both texts were made
    // After an error, a further chunk starts a new record.
    {{"x", "7|1.0.0.5|"}, "1 7 1.0.0.5 0.0.0.0 0.0.0.0 0 ~ ~"},
    // A chunk end closes the description; the next chunk is the third version.
    {{"7|1.0.0.5|0.0.0.0|1|x|Some", " text|2.0.0.1"}, kEmpty},
    {{"7|1.0.0.5|0.0.0.0|1|x|Some", "2.0.0.1|rest"}, "1 7 1.0.0.5 0.0.0.0 2.0.0.1 1 [x] [Some]"},
    // A first text open across several chunks is joined whole.
    {{"7|1.0.0.5|0.0.0.0|1|ab", "", "cd", "e", "f|desc"}, "1 7 1.0.0.5 0.0.0.0 0.0.0.0 1 [abcdef] [desc]"},
};

TEST(ProductInfo, RecordsParseToTheirFieldsOrEmptyWhole) {
  for (const Case& c : kCases) {
    std::string trace;
    for (const std::string& chunk : c.chunks) trace += "<" + chunk + ">";
    EXPECT_EQ(FeedChunks(c.chunks), c.expected) << trace;
  }
}

// The publisher is compared in Unicode, exactly: a conversion to the ANSI
// code page maps distinct characters onto the same letters.
TEST(PublisherName, OnlyTheSameUnicodeTextIsThePublisher) {
  EXPECT_TRUE(IsPublisherName(L"Brindlewood", L"Brindlewood"));
  EXPECT_TRUE(IsPublisherName(L"Br\x012Bndlew\xF6od", L"Br\x012Bndlew\xF6od"));
  for (const wchar_t* other : {L"\xFF22rindlewood", L"Br\x012Bndlewood", L"Brindlew\x014Dod", L"Brindlewood\x200B",
                               L"brindlewood", L"Brindlewood ", L""}) {
    EXPECT_FALSE(IsPublisherName(other, L"Brindlewood")) << testing::PrintToString(std::wstring(other));
  }
  EXPECT_FALSE(IsPublisherName(nullptr, L"Brindlewood"));
}

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
  const UniqueHandle thread(::CreateThread(nullptr, 0, WaitForCompletionThread, &run_, 0, nullptr));
  ASSERT_EQ(::WaitForSingleObject(thread.Get(), 30000), WAIT_OBJECT_0) << "the completion wait has no end";
  DWORD result = ~0u;
  EXPECT_TRUE(::GetExitCodeThread(thread.Get(), &result) && result == 0u);
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

// The pace's clock, moved on by the tests.
ULONGLONG nowMs = 0;
ULONGLONG WINAPI TestClock() { return nowMs; }

class ProgressDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    nowMs = 0;
    window_.pace = ProgressPace(TestClock);
    SetModuleInstance(::GetModuleHandleA(nullptr));
    std::strcpy(block_.productName, "Quillon");
    run_.block = &block_;
  }
  void TearDown() override { run_.block = nullptr; }  // not a mapped view

  std::string Item(int id) const { return WindowText(::GetDlgItem(window_.dialog, id)); }
  // The text shown, and the bar's position of its range ("" and 0 of 0 when empty).
  void ExpectShown(const char* text, DWORD done, DWORD total) const {
    EXPECT_EQ(Item(IDC_PROGRESS_TEXT), text);
    if (total > 0x7FFFFFFF) return;  // beyond the bar's range
    const HWND bar = ::GetDlgItem(window_.dialog, IDC_PROGRESS_BAR);
    EXPECT_EQ(::SendMessageA(bar, PBM_GETRANGE, FALSE, 0), static_cast<LRESULT>(total));
    EXPECT_EQ(::SendMessageA(bar, PBM_GETPOS, 0, 0), static_cast<LRESULT>(done));
  }

  RendezvousBlock block_ = {};
  InstallerRun run_;
  ProgressWindow window_{&run_};
};

// A count within the pace's interval is held until its timer or the count's
// end; the first, final and empty ones show at once.
TEST_F(ProgressDialog, CountsShowAtTheirPace) {
  window_.Show("info", nullptr);
  window_.SetProgress(5000, 1048576);
  window_.SetProgress(524288, 1048576);
  ExpectShown("4K of 1024K [0% Downloaded]", 5000, 1048576);
  window_.SettleProgress();
  ExpectShown("512K of 1024K [50% Downloaded]", 524288, 1048576);

  window_.SetProgress(786432, 1048576);
  nowMs += kProgressIntervalMs;
  const ULONGLONG deadline = ::GetTickCount64() + 10000;
  while (Item(IDC_PROGRESS_TEXT) != "768K of 1024K [75% Downloaded]" && ::GetTickCount64() < deadline) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 1000, QS_ALLINPUT);
    PumpOneMessage();
  }
  EXPECT_EQ(Item(IDC_PROGRESS_TEXT), "768K of 1024K [75% Downloaded]") << "the timer never showed the held count";
  window_.SetProgress(1048576, 1048576);
  ExpectShown("1024K of 1024K [100% Downloaded]", 1048576, 1048576);
  window_.SetProgress(0, 1048576);
  ExpectShown("", 0, 0);
  window_.SetProgress(5000, 1048576);
  ExpectShown("4K of 1024K [0% Downloaded]", 5000, 1048576);  // the first after an empty one
  window_.SetProgress(4294967295u, 4294967295u);
  ExpectShown("4194303K of 4194303K [100% Downloaded]", 4294967295u, 4294967295u);
  window_.SetProgress(5000, 0);
  ExpectShown("", 0, 0);
}

DWORD WINAPI WriteStatuses(void* window) {
  char text[64];
  for (int i = 0; i < 300; ++i) {
    std::snprintf(text, sizeof(text), "status %d", i);
    static_cast<ProgressWindow*>(window)->SetStatus("Connecting to ", text, "...");
  }
  return 0;
}

// A status line from WinINet's thread never waits for the dialog's, nor mixes
// with its progress text; one from the dialog's thread shows at once, cut to
// the 259 characters of the buffer.
TEST_F(ProgressDialog, StatusLinesNeitherWaitNorMixWithProgress) {
  window_.Show("info", nullptr);
  const UniqueHandle thread(::CreateThread(nullptr, 0, WriteStatuses, &window_, 0, nullptr));
  ASSERT_TRUE(thread);
  const ULONGLONG deadline = ::GetTickCount64() + 30000;
  for (DWORD done = 1024; ::WaitForSingleObject(thread.Get(), 0) == WAIT_TIMEOUT && ::GetTickCount64() < deadline;
       done = done % 1048576 + 1024) {
    nowMs += kProgressIntervalMs;
    window_.SetProgress(done, 1048576);
    char expected[64];
    std::snprintf(expected, sizeof(expected), "%luK of 1024K [%d%% Downloaded]",
                  static_cast<unsigned long>(done / 1024), static_cast<int>(done * 100ull / 1048576));
    ASSERT_EQ(Item(IDC_PROGRESS_TEXT), expected);
  }
  EXPECT_EQ(::WaitForSingleObject(thread.Get(), 0), WAIT_OBJECT_0) << "the status lines wait for this thread";
  // The lines came as posted notices: the last one shows the last line.
  for (int i = 0; i < 10; ++i) {
    HeldQuit quit;
    PumpOneMessage(quit);
  }
  EXPECT_EQ(Item(IDC_STATUS_LINE), "Connecting to status 299...");
  const std::string host(400, 'h');
  window_.SetStatus("Resolving address for ", host.c_str(), "...");
  EXPECT_EQ(Item(IDC_STATUS_LINE), ("Resolving address for " + host).substr(0, 259));
}

}  // namespace
}  // namespace orvex::test
