// The host window during a first installation, a follower of a running
// rendezvous, and a rendezvous that nobody can end. Followers in other
// processes, updates and installers that die are the reliability suites'.
#include "check_test_support.h"
#include "object_names.h"
#include "ui_robot.h"
#include "win_handles.h"

namespace orvex::test {
namespace {

bool WaitMinimisedAndDisabled(HWND window) {
  return WaitUntil([window] { return ::IsIconic(window) && !::IsWindowEnabled(window); }, kCheckTimeoutMs);
}

using FirstInstallation = CheckTest;

const std::vector<std::string> kNestedInTheWait = {"minimized", "disabled", "nested", "enabled", "restored"};

// The leader keeps its host window minimised and disabled until the
// installer lets go; a WM_QUIT (the host was closed) that its wait dispatches
// reaches the host's loop after the check. A follower starts no installer and
// waits with it, even when the product's package has already recorded it as
// installed and not due, as it may while the installation still runs. A check
// of the same product nested in a wait returns at once. Once it is over, the
// same check is settled as not due. A name that differs in case alone is
// another rendezvous.
TEST_F(FirstInstallation, LeaderAndFollowersWaitForTheInstaller) {
  const std::string name = Product("FI_Follow");
  const std::string lower = Product("fi_follow");
  // The leader's check starts the double, which acknowledges and then holds
  // the rendezvous until let go.
  UseDouble(name, DoubleMode::kHold);
  DoubleHold installation(name);
  CheckHost leader(name);
  ASSERT_TRUE(installation.WaitHeld(kCheckTimeoutMs));
  ASSERT_TRUE(WaitMinimisedAndDisabled(leader.Window()));
  ASSERT_TRUE(::PostThreadMessageA(leader.ThreadId(), WM_QUIT, 7, 0));
  EXPECT_TRUE(RunNestedCheck(leader.Window(), name)) << "the nested check waited";
  RunCheck(lower);
  EXPECT_EQ(ReadDoubleRecord(lower).runs, 1u) << "a follower of the first would have started no installer";
  ASSERT_TRUE(SetInstalledVersion(name, PackedVersion::Make(4, 0, 0, 0)));
  ASSERT_TRUE(SetNextUpdateTime(name, NowAsFileTime() + kFileTimeTicksPerDay));
  CheckHost follower(name);
  ASSERT_TRUE(WaitMinimisedAndDisabled(follower.Window()));
  EXPECT_TRUE(RunNestedCheck(follower.Window(), name)) << "the nested check waited";
  EXPECT_FALSE(leader.Done() || follower.Done()) << "the checks must wait for installing_";
  installation.LetGo();
  ASSERT_TRUE(follower.WaitDone(kCheckTimeoutMs));
  EXPECT_EQ(follower.Events(), kNestedInTheWait);
  ASSERT_TRUE(leader.WaitDone(kCheckTimeoutMs));
  EXPECT_EQ(leader.Events(), kNestedInTheWait);
  EXPECT_EQ(leader.QuitAfterCheck(), 7) << "the WM_QUIT was lost";
  EXPECT_TRUE(RunCheck(name).empty());
  EXPECT_EQ(ReadDoubleRecord(name).runs, 1u);
}

// What remains of a rendezvous whose leader let go of everything while the
// mapping was still held (here by the test): no leader's mutex, no events.
// Nobody could ever set "installing_", so a check does not wait for it.
TEST_F(FirstInstallation, ARendezvousNobodyCanEndIsNotFollowed) {
  const std::string name = Product("FI_Orphan");
  const UniqueHandle mapping(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                  kRendezvousBlockSize, (kInfoPrefix + name).c_str()));
  ASSERT_TRUE(mapping);
  EXPECT_TRUE(RunCheck(name).empty());
  EXPECT_EQ(ReadDoubleRecord(name).runs, 0u);
}

}  // namespace
}  // namespace orvex::test
