// The progress dialog, driven in this process with the installer's own
// resources, read and pressed through the UI robot.
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

class ProgressDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    SetModuleInstance(::GetModuleHandleA(nullptr));
    std::strcpy(block_.productName, "Quillon");
    run_.block = &block_;
    run_.stopEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  void TearDown() override { run_.block = nullptr; }  // not a mapped view

  std::string Item(int id) const { return WindowText(::GetDlgItem(window_.dialog, id)); }
  void Pump(int messages) {
    for (int i = 0; i < messages; ++i) PumpOneMessage();
  }

  RendezvousBlock block_ = {};
  InstallerRun run_;
  ProgressWindow window_{&run_};
};

TEST_F(ProgressDialog, ShowSetsTitleHeadingInformationAndDescription) {
  EXPECT_EQ(window_.dialog, nullptr) << "nothing visible before Show";
  window_.Show("The information line", "The description");
  ASSERT_TRUE(::IsWindow(window_.dialog));
  EXPECT_TRUE(::IsWindowVisible(window_.dialog));
  const HWND found = WaitForTopLevelWindow(::GetCurrentProcessId(), "#32770",
                                           "Orvex Smart Installer: Downloading Quillon...", 2000);
  EXPECT_EQ(found, window_.dialog);
  EXPECT_EQ(Item(IDC_HEADING_FRAME), "Information about Quillon");
  EXPECT_EQ(Item(IDC_INFORMATION_LINE), "The information line");
  EXPECT_EQ(Item(IDC_DESCRIPTION), "The description");

  // A second Show makes no second dialog; a description alone changes only the description.
  const HWND first = window_.dialog;
  std::strcpy(block_.productName, "Other");
  window_.Show(nullptr, "Second description");
  EXPECT_EQ(window_.dialog, first);
  EXPECT_EQ(FindTopLevelWindows(::GetCurrentProcessId(), "#32770", "").size(), 1u);
  EXPECT_EQ(WindowText(first), "Orvex Smart Installer: Downloading Quillon...");
  EXPECT_EQ(Item(IDC_HEADING_FRAME), "Information about Quillon");
  EXPECT_EQ(Item(IDC_DESCRIPTION), "Second description");
}

TEST_F(ProgressDialog, ProgressTextAndBar) {
  window_.Show("info", nullptr);
  const HWND bar = ::GetDlgItem(window_.dialog, IDC_PROGRESS_BAR);

  window_.SetProgress(5000, 1048576);
  EXPECT_EQ(Item(IDC_PROGRESS_TEXT), "4K of 1024K [0% Downloaded]");
  EXPECT_EQ(::SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 1048576);
  EXPECT_EQ(::SendMessageA(bar, PBM_GETPOS, 0, 0), 5000);

  window_.SetProgress(4294967295u, 4294967295u);
  EXPECT_EQ(Item(IDC_PROGRESS_TEXT), "4194303K of 4194303K [100% Downloaded]");

  window_.SetProgress(524288, 1048576);
  EXPECT_EQ(Item(IDC_PROGRESS_TEXT), "512K of 1024K [50% Downloaded]");

  for (const auto& counts : {std::make_pair(0u, 1048576u), std::make_pair(5000u, 0u)}) {
    window_.SetProgress(524288, 1048576);
    window_.SetProgress(counts.first, counts.second);
    EXPECT_EQ(Item(IDC_PROGRESS_TEXT), "");
    EXPECT_EQ(::SendMessageA(bar, PBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(::SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 0);
  }
}

TEST_F(ProgressDialog, StatusLineJoinsCutsAndNeedsADialog) {
  window_.SetStatus("before the dialog");
  EXPECT_STREQ(window_.textBuffer, "") << "no dialog: nothing changes";
  window_.Show("info", nullptr);
  window_.SetStatus("Downloading ", "quillon_1-0-0-5.exe", "...");
  EXPECT_EQ(Item(IDC_STATUS_LINE), "Downloading quillon_1-0-0-5.exe...");
  window_.SetStatus(nullptr, nullptr, nullptr);
  EXPECT_EQ(Item(IDC_STATUS_LINE), "");

  const std::string host(400, 'h');
  window_.SetStatus("Resolving address for ", host.c_str(), "...");
  const std::string shown = Item(IDC_STATUS_LINE);
  EXPECT_EQ(shown.size(), 259u) << "cut to the 259 characters of the buffer";
  EXPECT_EQ(shown, ("Resolving address for " + host).substr(0, 259));
}

TEST_F(ProgressDialog, CancelSetsTheFlagAndStopEventAndKeepsTheDialog) {
  window_.Show("info", "description");
  for (int press = 0; press < 2; ++press) {
    ASSERT_TRUE(PressButton(window_.dialog, "Cancel"));
    Pump(5);
  }
  EXPECT_TRUE(window_.cancelled);
  EXPECT_EQ(::WaitForSingleObject(run_.stopEvent, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(::IsWindow(window_.dialog));
  EXPECT_TRUE(::IsWindowVisible(window_.dialog));
}

// Sets 300 status lines from its own thread, as WinINet's threads do.
struct StatusWriter {
  ProgressWindow* window;
  std::atomic<bool>* finished;
};

DWORD WINAPI WriteStatuses(void* param) {
  auto* writer = static_cast<StatusWriter*>(param);
  char text[64];
  for (int i = 0; i < 300; ++i) {
    std::snprintf(text, sizeof(text), "status %d", i);
    writer->window->SetStatus("Connecting to ", text, "...");
  }
  *writer->finished = true;
  return 0;
}

TEST_F(ProgressDialog, StatusFromAnotherThreadNeitherDeadlocksNorMixesWithProgress) {
  window_.Show("info", nullptr);
  std::atomic<bool> finished{false};
  StatusWriter writer{&window_, &finished};
  HANDLE thread = ::CreateThread(nullptr, 0, WriteStatuses, &writer, 0, nullptr);
  ASSERT_NE(thread, nullptr);

  // The job thread's side: progress texts composed while the status lines come in.
  const ULONGLONG deadline = ::GetTickCount64() + 30000;
  DWORD done = 1024;
  while (!finished && ::GetTickCount64() < deadline) {
    window_.SetProgress(done, 1048576);
    char expected[64];
    std::snprintf(expected, sizeof(expected), "%luK of 1024K [%d%% Downloaded]",
                  static_cast<unsigned long>(done / 1024), static_cast<int>(done * 100ull / 1048576));
    ASSERT_EQ(Item(IDC_PROGRESS_TEXT), expected);
    done = done % 1048576 + 1024;
  }
  EXPECT_TRUE(finished) << "the status writer is stuck: the job thread's pumping does not serve it";
  EXPECT_EQ(::WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  ::CloseHandle(thread);
  EXPECT_EQ(Item(IDC_STATUS_LINE), "Connecting to status 299...");
}

}  // namespace
}  // namespace orvex::test
