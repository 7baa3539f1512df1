// The installer killed after it opened the rendezvous but before it
// acknowledged on "sync_": the leader and its followers return, no window is
// left minimised or disabled, and a later check starts a fresh installer.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "control_host.h"
#include "installer_double_client.h"
#include "reliability_support.h"
#include "test_registry.h"
#include "ui_robot.h"
#include "win_handles.h"

namespace orvex::test {
namespace {

// A test's (or a stage's) time budget, and the most any one wait may take of it.
constexpr DWORD kBudgetMs = 90000;
constexpr DWORD kStepMs = 30000;

class KillBeforeSync : public ::testing::Test {
 protected:
  void SetUp() override { ForgetProduct(kProduct); }
  void TearDown() override { ForgetProduct(kProduct); }
  static constexpr const char* kProduct = "KillBeforeSync";
};

TEST_F(KillBeforeSync, LeaderAndFollowersReturnUntouchedAndALaterCheckStartsAgain) {
  const Deadline budget(kBudgetMs);
  const auto step = [&budget] { return budget.Left(kStepMs); };
  UseDouble(kProduct, DoubleMode::kHangBeforeAcknowledge);
  DoubleHold hold(kProduct);
  ControlHost::Plan plan;
  plan.info = L"KillBeforeSync";
  ControlHost leader(plan);
  ASSERT_TRUE(hold.WaitHeld(step())) << "the installer never opened the rendezvous";
  DoubleRecord record;
  ASSERT_TRUE(ReadDoubleRecord(kProduct, record));
  ASSERT_TRUE(record.opened);

  // Two followers, one in another process, join while nothing is acknowledged.
  ControlHost follower(plan);
  ChildProcess runner("\"" + TestFilePath("control_host_runner.exe") + "\" - - \"" + kProduct + "\"");
  ASSERT_TRUE(runner.Started());
  const AtScopeEnd letGo([&hold] { hold.LetGo(); });
  // Each follower pumps messages only in its check's wait: once both answer,
  // both have joined the rendezvous.
  ASSERT_TRUE(WindowThreadPumps(follower.Window(), step())) << "the follower is not waiting in its check";
  const HWND runnerWindow = WaitForTopLevelWindow(runner.Pid(), kHostWindowClass, "", step());
  ASSERT_TRUE(WindowThreadPumps(runnerWindow, step())) << "the follower process is not waiting in its check";
  EXPECT_FALSE(leader.Done());
  EXPECT_FALSE(follower.Done());
  EXPECT_FALSE(runner.Ended());

  ASSERT_TRUE(KillProcess(record.pid));
  EXPECT_TRUE(leader.WaitDone(step())) << "the leader kept waiting for a dead installer";
  EXPECT_TRUE(follower.WaitDone(step())) << "a follower kept waiting for a dead installer";
  const DWORD runnerReport = runner.Wait(step());
  EXPECT_NE(runnerReport, static_cast<DWORD>(STILL_ACTIVE)) << "the follower process kept waiting for a dead installer";

  // Nothing was acknowledged, so nobody touched a window.
  EXPECT_TRUE(leader.Events().empty());
  EXPECT_TRUE(follower.Events().empty());
  EXPECT_EQ(runnerReport, 0u) << "the follower process saw its window change, or failed";
  EXPECT_FALSE(leader.LeftIconic() || leader.LeftDisabled() || follower.LeftIconic() || follower.LeftDisabled());
  EXPECT_TRUE(WaitRendezvousGone(kProduct, step()));
  ASSERT_TRUE(ReadDoubleRecord(kProduct, record));
  EXPECT_EQ(record.runs, 1u) << "a follower started an installer of its own";

  // A later check leads a fresh rendezvous and starts the installer again.
  UseDouble(kProduct, DoubleMode::kRelease);
  ControlHost later(plan);
  ASSERT_TRUE(later.WaitDone(step()));
  EXPECT_EQ(later.Events(), kFirstInstallationEvents);
  ASSERT_TRUE(ReadDoubleRecord(kProduct, record));
  EXPECT_EQ(record.runs, 2u);
  EXPECT_TRUE(WaitRendezvousGone(kProduct, step()));
}

// The leader's process killed while a follower in this process waits on it:
// before its installer acknowledged (the installer still running), in its
// old-version box (no installer started yet), and during the first-installation
// wait. The follower returns with its window as it was, and nobody starts a
// second installer.
TEST_F(KillBeforeSync, AFollowerReturnsWhenItsLeaderIsKilled) {
  struct Stage {
    const char* product;
    DoubleMode mode;
    bool oldVersionBox;
    std::vector<std::string> followerEvents;
  };
  const Stage stages[] = {
      {"KillLeaderBeforeSync", DoubleMode::kHangBeforeAcknowledge, false, {}},
      {"KillLeaderInBox", DoubleMode::kRelease, true, {}},
      {"KillLeaderInWait", DoubleMode::kHold, false, kFirstInstallationEvents},
  };
  const std::string clsid = "{0F0E0D0C-0B0A-4000-8000-00000000E001}";
  ASSERT_TRUE(RegisterViewerModule(clsid, TestFilePath("viewer_quillon_10_23_0_5.dll")));
  const AtScopeEnd unregister([&clsid] { UnregisterViewerModule(clsid); });
  for (const Stage& stage : stages) {
    SCOPED_TRACE(stage.product);
    const Deadline budget(kBudgetMs);
    const auto step = [&budget] { return budget.Left(kStepMs); };
    const std::string name = stage.product;
    ForgetProduct(name);
    const AtScopeEnd forget([&name] { ForgetProduct(name); });
    UseDouble(name, stage.mode);
    DoubleHold hold(name);
    const std::string info = stage.oldVersionBox ? name + "|" + clsid : name;
    ChildProcess leader("\"" + TestFilePath("control_host_runner.exe") + "\" - - \"" + info + "\"");
    ASSERT_TRUE(leader.Started());
    const AtScopeEnd letGo([&hold] { hold.LetGo(); });
    if (stage.oldVersionBox) {
      ASSERT_NE(WaitForTopLevelWindow(leader.Pid(), "#32770", "Latest version of Quillon is required", step()), nullptr);
    } else {
      ASSERT_TRUE(hold.WaitHeld(step()));
    }

    ControlHost::Plan plan;
    plan.info.assign(name.begin(), name.end());
    ControlHost follower(plan);
    ASSERT_TRUE(WindowThreadPumps(follower.Window(), step())) << "the follower is not waiting in its check";
    ASSERT_TRUE(KillProcess(leader.Pid()));
    EXPECT_TRUE(follower.WaitDone(step())) << "the follower kept waiting for a dead leader";
    EXPECT_EQ(follower.Events(), stage.followerEvents);
    EXPECT_FALSE(follower.LeftIconic() || follower.LeftDisabled());
    hold.LetGo();
    EXPECT_TRUE(WaitRendezvousGone(name, step()));
    DoubleRecord record;
    EXPECT_EQ(ReadDoubleRecord(name, record) ? record.runs : 0u, stage.oldVersionBox ? 0u : 1u);
  }
}

}  // namespace
}  // namespace orvex::test
