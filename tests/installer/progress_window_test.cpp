// The progress dialog, in this process with the installer's own resources.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
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

// The pace's clock: still, or a second on at every reading so that every count shows.
ULONGLONG nowMs = 0;
bool stepping = true;
ULONGLONG WINAPI TestClock() { return stepping ? nowMs += 1000 : nowMs; }

class ProgressDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    nowMs = 0;
    stepping = true;
    window_.pace = ProgressPace(TestClock);
    SetModuleInstance(::GetModuleHandleA(nullptr));
    std::strcpy(block_.productName, "Quillon");
    run_.block = &block_;
  }
  void TearDown() override { run_.block = nullptr; }  // not a mapped view

  std::string Item(int id) const { return WindowText(::GetDlgItem(window_.dialog, id)); }
  LRESULT Bar(UINT message) const {
    return ::SendMessageA(::GetDlgItem(window_.dialog, IDC_PROGRESS_BAR), message, FALSE, 0);
  }

  RendezvousBlock block_ = {};
  InstallerRun run_;
  ProgressWindow window_{&run_};
};

TEST_F(ProgressDialog, ProgressTextAndBar) {
  window_.Show("info", nullptr);
  const struct {
    DWORD done, total;
    const char* text;
  } steps[] = {
      {5000, 1048576, "4K of 1024K [0% Downloaded]"},
      {4294967295u, 4294967295u, "4194303K of 4194303K [100% Downloaded]"},
      {524288, 1048576, "512K of 1024K [50% Downloaded]"},
      {0, 1048576, ""},  // either count 0 clears text and bar
      {524288, 1048576, "512K of 1024K [50% Downloaded]"},
      {5000, 0, ""},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(std::to_string(step.done) + " of " + std::to_string(step.total));
    window_.SetProgress(step.done, step.total);
    EXPECT_EQ(Item(IDC_PROGRESS_TEXT), step.text);
    if (step.total > 0x7FFFFFFF) continue;  // beyond the bar's range
    const bool shown = step.done != 0 && step.total != 0;
    EXPECT_EQ(Bar(PBM_GETRANGE), shown ? static_cast<LRESULT>(step.total) : 0);
    EXPECT_EQ(Bar(PBM_GETPOS), shown ? static_cast<LRESULT>(step.done) : 0);
  }
}

// A count within the pace's interval is held until its timer or the count's end; the
// first, final and empty ones show at once.
TEST_F(ProgressDialog, HeldCountIsShownByTheTimerOrWhenTheCountStops) {
  stepping = false;
  window_.Show("info", nullptr);
  window_.SetProgress(5000, 1048576);
  window_.SetProgress(524288, 1048576);
  EXPECT_EQ(Item(IDC_PROGRESS_TEXT), "4K of 1024K [0% Downloaded]");
  EXPECT_EQ(Bar(PBM_GETPOS), 5000);
  window_.SettleProgress();
  EXPECT_EQ(Item(IDC_PROGRESS_TEXT), "512K of 1024K [50% Downloaded]");
  EXPECT_EQ(Bar(PBM_GETPOS), 524288);

  window_.SetProgress(786432, 1048576);
  nowMs += kProgressIntervalMs;
  const ULONGLONG deadline = ::GetTickCount64() + 10000;
  while (Item(IDC_PROGRESS_TEXT) != "768K of 1024K [75% Downloaded]" && ::GetTickCount64() < deadline) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 1000, QS_ALLINPUT);
    PumpOneMessage();
  }
  EXPECT_EQ(Item(IDC_PROGRESS_TEXT), "768K of 1024K [75% Downloaded]") << "the timer never showed the held count";
  window_.SetProgress(1048576, 1048576);
  EXPECT_EQ(Item(IDC_PROGRESS_TEXT), "1024K of 1024K [100% Downloaded]");
  window_.SetProgress(0, 1048576);
  EXPECT_EQ(Item(IDC_PROGRESS_TEXT), "");
  window_.SetProgress(5000, 1048576);
  EXPECT_EQ(Item(IDC_PROGRESS_TEXT), "4K of 1024K [0% Downloaded]") << "the first count after an empty one";
}

TEST_F(ProgressDialog, StatusLineJoinsCutsAndNeedsADialog) {
  window_.SetStatus("before the dialog");
  EXPECT_STREQ(window_.textBuffer, "") << "no dialog: nothing changes";
  window_.Show("info", nullptr);
  window_.SetStatus("Downloading ", "quillon_1-0-0-5.exe", "...");
  EXPECT_EQ(Item(IDC_STATUS_LINE), "Downloading quillon_1-0-0-5.exe...");
  const std::string host(400, 'h');
  window_.SetStatus("Resolving address for ", host.c_str(), "...");
  EXPECT_EQ(Item(IDC_STATUS_LINE), ("Resolving address for " + host).substr(0, 259))
      << "cut to the 259 characters of the buffer";
}

struct StatusWriter {
  ProgressWindow* window;
  std::atomic<bool> finished{false};
};

DWORD WINAPI WriteStatuses(void* param) {
  auto* writer = static_cast<StatusWriter*>(param);
  char text[64];
  for (int i = 0; i < 300; ++i) {
    std::snprintf(text, sizeof(text), "status %d", i);
    writer->window->SetStatus("Connecting to ", text, "...");
  }
  writer->finished = true;
  return 0;
}

// A status line from WinINet's thread never waits for the dialog's, nor mixes with its progress text.
TEST_F(ProgressDialog, StatusFromAnotherThreadNeitherWaitsNorMixesWithProgress) {
  window_.Show("info", nullptr);
  StatusWriter writer{&window_};
  const HANDLE thread = ::CreateThread(nullptr, 0, WriteStatuses, &writer, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  const ULONGLONG deadline = ::GetTickCount64() + 30000;
  for (DWORD done = 1024; !writer.finished && ::GetTickCount64() < deadline; done = done % 1048576 + 1024) {
    window_.SetProgress(done, 1048576);
    char expected[64];
    std::snprintf(expected, sizeof(expected), "%luK of 1024K [%d%% Downloaded]",
                  static_cast<unsigned long>(done / 1024), static_cast<int>(done * 100ull / 1048576));
    ASSERT_EQ(Item(IDC_PROGRESS_TEXT), expected);
  }
  EXPECT_TRUE(writer.finished) << "the status lines wait for this thread";
  EXPECT_EQ(::WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  ::CloseHandle(thread);
  // The lines came as posted notices: the last one shows the last line.
  for (int i = 0; i < 10; ++i) {
    HeldQuit quit;
    PumpOneMessage(quit);
  }
  EXPECT_EQ(Item(IDC_STATUS_LINE), "Connecting to status 299...");
}

}  // namespace
}  // namespace orvex::test
