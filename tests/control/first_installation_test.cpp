// The host window during a first installation, followers of a running
// rendezvous, and an installer that dies.
#include "check_test_support.h"
#include "host_report.h"
#include "object_names.h"
#include "ui_robot.h"
#include "win_handles.h"

namespace orvex::test {
namespace {

// Waits until the window is minimised and disabled, as during a first installation.
bool WaitMinimisedAndDisabled(HWND window) {
  const ULONGLONG deadline = ::GetTickCount64() + kCheckTimeoutMs;
  while (!(::IsIconic(window) && !::IsWindowEnabled(window))) {
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(10);
  }
  return true;
}

// A first installation in progress: a leader's check started the double,
// which acknowledged and now holds the rendezvous until let go.
class HeldLeader {
 public:
  explicit HeldLeader(const std::string& name) : hold_(ChooseHold(name)), leader_(name) {
    held_ = hold_.WaitHeld(kCheckTimeoutMs);
  }
  bool Held() const { return held_; }
  void LetGo() const { hold_.LetGo(); }
  CheckHost& Leader() { return leader_; }

 private:
  static const std::string& ChooseHold(const std::string& name) {
    UseDouble(name, DoubleMode::kHold);
    return name;
  }
  DoubleHold hold_;
  CheckHost leader_;
  bool held_ = false;
};

using FirstInstallation = CheckTest;

const std::vector<std::string> kNestedInTheWait = {"minimized", "disabled", "nested", "enabled", "restored"};

// The leader keeps its host window minimised and disabled until the
// installer lets go; a WM_QUIT (the host was closed) that its wait dispatches
// reaches the host's loop after the check. Followers in this process and in
// another start no installer and wait with it, even when the product's
// package has already recorded it as installed and not due, as it may while
// the installation still runs. A check of the same product nested in a wait
// returns at once. Once it is over, the same check is settled as not due. A
// name that differs in case alone is another rendezvous.
TEST_F(FirstInstallation, LeaderAndFollowersWaitForTheInstaller) {
  const std::string name = Product("FI_Follow");
  const std::string lower = Product("fi_follow");
  HeldLeader installation(name);
  ASSERT_TRUE(installation.Held());
  CheckHost& leader = installation.Leader();
  ASSERT_TRUE(WaitMinimisedAndDisabled(leader.Window()));
  ASSERT_TRUE(::PostThreadMessageA(leader.ThreadId(), WM_QUIT, 7, 0));
  EXPECT_TRUE(RunNestedCheck(leader.Window(), name)) << "the nested check waited";
  RunCheck(lower);
  EXPECT_EQ(Record(lower).runs, 1u) << "a follower of the first would have started no installer";
  ASSERT_TRUE(SetInstalledVersion(name, PackedVersion::Make(4, 0, 0, 0)));
  ASSERT_TRUE(SetNextUpdateTime(name, NowAsFileTime() + kFileTimeTicksPerDay));
  CheckHost follower(name);
  ASSERT_TRUE(WaitMinimisedAndDisabled(follower.Window()));
  EXPECT_TRUE(RunNestedCheck(follower.Window(), name)) << "the nested check waited";

  std::string commandLine = "\"" + TestFilePath("control_host_runner.exe") + "\" - - \"" + name + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION runner = {};
  ASSERT_TRUE(::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &runner));
  const UniqueHandle process(runner.hProcess);
  ::CloseHandle(runner.hThread);
  const HWND runnerWindow = WaitForTopLevelWindow(runner.dwProcessId, kHostWindowClass, "", kCheckTimeoutMs);
  ASSERT_NE(runnerWindow, nullptr);
  EXPECT_TRUE(WaitMinimisedAndDisabled(runnerWindow));
  EXPECT_FALSE(leader.Done() || follower.Done() || ::WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0)
      << "the checks must wait for installing_";

  installation.LetGo();
  ASSERT_EQ(::WaitForSingleObject(process.Get(), kCheckTimeoutMs), WAIT_OBJECT_0);
  DWORD exitCode = 0;
  ::GetExitCodeProcess(process.Get(), &exitCode);
  const HostReport report = DecodeHostReport(exitCode);
  EXPECT_FALSE(report.failed || report.leftIconic || report.leftDisabled);
  EXPECT_EQ(report.events, kFirstInstallation);
  ASSERT_TRUE(follower.WaitDone(kCheckTimeoutMs));
  EXPECT_EQ(follower.Events(), kNestedInTheWait);
  ASSERT_TRUE(leader.WaitDone(kCheckTimeoutMs));
  EXPECT_EQ(leader.Events(), kNestedInTheWait);
  EXPECT_EQ(leader.QuitAfterCheck(), 7) << "the WM_QUIT was lost";
  EXPECT_TRUE(RunCheck(name).empty());
  EXPECT_EQ(Record(name).runs, 1u);
}

TEST_F(FirstInstallation, InstallerKilledWhileHoldingReleasesLeaderAndFollower) {
  const std::string name = Product("FI_Killed");
  HeldLeader installation(name);
  ASSERT_TRUE(installation.Held());
  CheckHost follower(name);
  ASSERT_TRUE(WaitMinimisedAndDisabled(follower.Window()));
  const UniqueHandle installer(::OpenProcess(PROCESS_TERMINATE, FALSE, Record(name).pid));
  ASSERT_TRUE(installer);
  ::TerminateProcess(installer.Get(), 9);
  ASSERT_TRUE(installation.Leader().WaitDone(kCheckTimeoutMs));
  ASSERT_TRUE(follower.WaitDone(kCheckTimeoutMs));
  EXPECT_EQ(installation.Leader().Events(), kFirstInstallation);
  EXPECT_EQ(follower.Events(), kFirstInstallation);
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
  EXPECT_EQ(Record(name).runs, 0u);
}

// The leader of an update returns right after sync_, while the installer
// still holds the rendezvous; so does a follower.
TEST_F(FirstInstallation, FollowerOfAnUpdateReturnsAtOnce) {
  const std::string name = Product("FI_FollowUpdate");
  ASSERT_TRUE(SetInstalledVersion(name, PackedVersion::Make(3, 1, 0, 0)));
  UseDouble(name, DoubleMode::kHold);
  DoubleHold hold(name);
  EXPECT_TRUE(RunCheck(name).empty());
  ASSERT_TRUE(hold.WaitHeld(kCheckTimeoutMs));
  EXPECT_TRUE(RunCheck(name).empty());
  EXPECT_EQ(Record(name).runs, 1u);
}

}  // namespace
}  // namespace orvex::test
