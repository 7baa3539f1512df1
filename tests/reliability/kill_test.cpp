// The installer, or the leader's process, killed while a follower waits: every
// host returns, its window restored, and nobody starts a second installer.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "control_host.h"
#include "host_report.h"
#include "installer_double_client.h"
#include "reliability_support.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

constexpr DWORD kStepMs = 30000;

struct KillCase {
  const char* product;
  DoubleMode mode;
  bool killInstaller;      // else the leader's process is killed
  bool firstInstallation;  // killed while the hosts' windows are minimised and disabled
};

class Kill : public ::testing::Test {
 protected:
  DWORD DoubleRuns() const {
    DoubleRecord record;
    return ReadDoubleRecord(product_, record) ? record.runs : 0;
  }
  std::string product_;
};

TEST_F(Kill, EveryHostReturnsWhenTheInstallerOrTheLeaderDies) {
  const KillCase cases[] = {
      {"KillInstallerBeforeSync", DoubleMode::kHangBeforeAcknowledge, true, false},
      {"KillInstallerInWait", DoubleMode::kHold, true, true},
      {"KillLeaderBeforeSync", DoubleMode::kHangBeforeAcknowledge, false, false},
      {"KillLeaderInWait", DoubleMode::kHold, false, true},
  };
  for (const KillCase& c : cases) {
    SCOPED_TRACE(c.product);
    product_ = c.product;
    ForgetProduct(product_);
    const AtScopeEnd forget([this] { ForgetProduct(product_); });
    UseDouble(product_, c.mode);
    const std::vector<std::string> expected =
        c.firstInstallation ? kFirstInstallationEvents : std::vector<std::string>{};
    DoubleHold hold(product_);
    ChildProcess leader("\"" + TestFilePath("control_host_runner.exe") + "\" - - \"" + product_ + "\"");
    ASSERT_TRUE(leader.Started());
    const AtScopeEnd letGo([&hold] { hold.LetGo(); });
    ASSERT_TRUE(hold.WaitHeld(kStepMs)) << "the installer never opened the rendezvous";

    ControlHost::Plan plan;
    plan.info.assign(product_.begin(), product_.end());
    ControlHost follower(plan);
    // A follower pumps messages only in its check's wait: once it answers, it has joined.
    ASSERT_TRUE(WindowThreadPumps(follower.Window(), kStepMs)) << "the follower is not waiting in its check";
    if (c.firstInstallation) {
      EXPECT_TRUE(WaitUntil([&] { return MinimisedAndDisabled(follower.Window()); }, kStepMs));
    }
    EXPECT_FALSE(follower.Done());

    DoubleRecord record;
    ASSERT_TRUE(ReadDoubleRecord(product_, record));
    ASSERT_TRUE(KillProcess(c.killInstaller ? record.pid : leader.Pid()));
    EXPECT_TRUE(follower.WaitDone(kStepMs)) << "the follower kept waiting for a dead one";
    EXPECT_EQ(follower.Events(), expected);
    EXPECT_FALSE(follower.LeftIconic() || follower.LeftDisabled());
    if (c.killInstaller) {
      const DWORD code = leader.Wait(kStepMs);
      ASSERT_NE(code, static_cast<DWORD>(STILL_ACTIVE)) << "the leader kept waiting for a dead installer";
      const HostReport report = DecodeHostReport(code);
      EXPECT_EQ(report.events, expected);
      EXPECT_FALSE(report.leftIconic || report.leftDisabled || report.failed) << "leader's exit code " << code;
    }
    hold.LetGo();
    EXPECT_TRUE(WaitRendezvousGone(product_, kStepMs));
    EXPECT_EQ(DoubleRuns(), 1u) << "a follower started an installer of its own";
  }
}

}  // namespace
}  // namespace orvex::test
