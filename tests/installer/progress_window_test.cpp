// The progress dialog, in this process with the installer's own resources.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "installer_resources.h"
#include "installer_run.h"
#include "module_instance.h"
#include "progress_window.h"
#include "pumping_wait.h"
#include "ui_robot.h"

namespace orvex::test {
namespace {

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
  const HANDLE thread = ::CreateThread(nullptr, 0, WriteStatuses, &window_, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  const ULONGLONG deadline = ::GetTickCount64() + 30000;
  for (DWORD done = 1024; ::WaitForSingleObject(thread, 0) == WAIT_TIMEOUT && ::GetTickCount64() < deadline;
       done = done % 1048576 + 1024) {
    nowMs += kProgressIntervalMs;
    window_.SetProgress(done, 1048576);
    char expected[64];
    std::snprintf(expected, sizeof(expected), "%luK of 1024K [%d%% Downloaded]",
                  static_cast<unsigned long>(done / 1024), static_cast<int>(done * 100ull / 1048576));
    ASSERT_EQ(Item(IDC_PROGRESS_TEXT), expected);
  }
  EXPECT_EQ(::WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "the status lines wait for this thread";
  ::CloseHandle(thread);
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
