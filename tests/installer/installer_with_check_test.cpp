// The real installer started by the real install check: the rendezvous's
// names, its release, and the first installation's dialog.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "check_host.h"
#include "object_names.h"
#include "test_registry.h"
#include "ui_robot.h"

namespace orvex::test {
namespace {

constexpr DWORD kTimeoutMs = 30000;

class InstallerWithCheck : public ::testing::Test {
 protected:
  void SetUp() override { ForgetProduct(name_); }
  void TearDown() override { ForgetProduct(name_); }
  // Opened before the check, so the test sees the installer set it.
  HANDLE OpenInstallingEvent() const {
    return ::CreateEventA(nullptr, TRUE, FALSE, (kInstallingPrefix + name_).c_str());
  }
  std::string name_;
};

TEST_F(InstallerWithCheck, UpdateCheckReleasesTheRendezvousAfterClosingTheMapping) {
  name_ = "Real Mixed  ";
  ASSERT_TRUE(SetInstalledVersion(name_, PackedVersion::Make(1, 2, 0, 0)));
  HANDLE installing = OpenInstallingEvent();
  CheckHost host(name_);
  ASSERT_TRUE(host.WaitDone(kTimeoutMs));
  EXPECT_TRUE(host.Events().empty()) << "an update check leaves the host window alone";
  ASSERT_EQ(::WaitForSingleObject(installing, kTimeoutMs), WAIT_OBJECT_0)
      << "the installer did not open installing_ + the exact name, or never released it";
  HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, (kInfoPrefix + name_).c_str());
  EXPECT_EQ(mapping, nullptr) << "the mapping must be closed before installing_ is set";
  if (mapping != nullptr) ::CloseHandle(mapping);
  ::CloseHandle(installing);
}

TEST_F(InstallerWithCheck, FirstInstallationShowsTheDialogAndReleasesAfterIt) {
  name_ = "RealFirst";
  HANDLE installing = OpenInstallingEvent();
  CheckHost host(name_);
  const HWND dialog = WaitForTopLevelWindow(0, "#32770", "Orvex Smart Installer: Downloading RealFirst...", kTimeoutMs);
  ASSERT_NE(dialog, nullptr) << "no progress dialog";
  EXPECT_EQ(WindowText(::GetDlgItem(dialog, 206)), "Information about RealFirst");
  EXPECT_EQ(WindowText(::GetDlgItem(dialog, 205)),
            "'RealFirst' is required to view this document. Please wait while this software is being downloaded.");
  EXPECT_EQ(WindowText(::GetDlgItem(dialog, 208)), "Getting information about 'RealFirst'...");

  // Without a record the first installation fails, and says so.
  const HWND box = WaitForTopLevelWindow(0, "#32770", "Error Accessing Internet", kTimeoutMs);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(::GetWindow(box, GW_OWNER), dialog);
  EXPECT_FALSE(host.Done());
  ASSERT_TRUE(PressButton(box, "OK"));

  ASSERT_EQ(::WaitForSingleObject(installing, kTimeoutMs), WAIT_OBJECT_0);
  EXPECT_FALSE(::IsWindow(dialog)) << "installing_ is set only after the job thread ended";
  ASSERT_TRUE(host.WaitDone(kTimeoutMs));
  const std::vector<std::string> expected = {"minimized", "disabled", "enabled", "restored"};
  EXPECT_EQ(host.Events(), expected);
  ::CloseHandle(installing);
}

}  // namespace
}  // namespace orvex::test
