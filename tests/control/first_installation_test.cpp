// The host window during a first installation, the installer's failures, and
// followers of a running rendezvous.
#include "check_test_support.h"
#include "object_names.h"
#include "ui_robot.h"
#include "win_handles.h"

namespace orvex::test {
namespace {

// Waits until the window is minimised and disabled, as during a first installation.
bool WaitMinimisedAndDisabled(HWND window, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
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

class FirstInstallation : public CheckTest {
 protected:
  static std::vector<std::string> NestedInTheWait() { return {"minimized", "disabled", "nested", "enabled", "restored"}; }
};

// The leader's wait dispatches a WM_QUIT (the host was closed) and a nested
// check of the same product: the nested check returns at once, the window
// stays minimised and disabled until the installer lets go, and the host's
// loop gets its WM_QUIT after the check.
TEST_F(FirstInstallation, HostIsMinimisedAndDisabledThenEnabledAndRestored) {
  const std::string name = Product("FI_Order");
  HeldLeader installation(name);
  ASSERT_TRUE(installation.Held());
  CheckHost& host = installation.Leader();
  ASSERT_TRUE(WaitMinimisedAndDisabled(host.Window(), kCheckTimeoutMs));
  ASSERT_TRUE(::PostThreadMessageA(host.ThreadId(), WM_QUIT, 7, 0));
  EXPECT_TRUE(RunNestedCheck(host.Window(), name)) << "the nested check waited";
  EXPECT_FALSE(host.Done()) << "the check must wait for installing_";
  installation.LetGo();
  ASSERT_TRUE(host.WaitDone(kCheckTimeoutMs));
  EXPECT_EQ(host.Events(), NestedInTheWait());
  EXPECT_EQ(host.QuitAfterCheck(), 7) << "the WM_QUIT was lost";
  EXPECT_EQ(Record(name).runs, 1u);
}

TEST_F(FirstInstallation, InstallerKilledWhileHoldingReleasesLeaderAndFollower) {
  const std::string name = Product("FI_Killed");
  HeldLeader installation(name);
  ASSERT_TRUE(installation.Held());
  CheckHost follower(name);
  ASSERT_TRUE(WaitMinimisedAndDisabled(follower.Window(), kCheckTimeoutMs));

  HANDLE installer = ::OpenProcess(PROCESS_TERMINATE, FALSE, Record(name).pid);
  ASSERT_NE(installer, nullptr);
  ::TerminateProcess(installer, 9);
  ::CloseHandle(installer);

  ASSERT_TRUE(installation.Leader().WaitDone(kCheckTimeoutMs));
  ASSERT_TRUE(follower.WaitDone(kCheckTimeoutMs));
  EXPECT_EQ(installation.Leader().Events(), FirstInstallationEvents());
  EXPECT_EQ(follower.Events(), FirstInstallationEvents());
}

TEST_F(FirstInstallation, FollowerInAnotherProcessStartsNoInstallerAndWaits) {
  const std::string name = Product("FI_FollowProc");
  HeldLeader installation(name);
  ASSERT_TRUE(installation.Held());

  std::string commandLine = "\"" + TestFilePath("check_runner.exe") + "\" \"" + name + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION runner = {};
  ASSERT_TRUE(::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &runner));
  const HWND runnerWindow = WaitForTopLevelWindow(runner.dwProcessId, kHostWindowClass, "", 20000);
  ASSERT_NE(runnerWindow, nullptr);
  EXPECT_TRUE(WaitMinimisedAndDisabled(runnerWindow, 10000));
  EXPECT_EQ(::WaitForSingleObject(runner.hProcess, 200), static_cast<DWORD>(WAIT_TIMEOUT))
      << "the follower must wait for installing_";

  installation.LetGo();
  EXPECT_EQ(::WaitForSingleObject(runner.hProcess, kCheckTimeoutMs), WAIT_OBJECT_0);
  DWORD exitCode = 1;
  ::GetExitCodeProcess(runner.hProcess, &exitCode);
  EXPECT_EQ(exitCode, 0u);
  ::CloseHandle(runner.hThread);
  ::CloseHandle(runner.hProcess);
  ASSERT_TRUE(installation.Leader().WaitDone(kCheckTimeoutMs));
  EXPECT_EQ(Record(name).runs, 1u);
}

// While a first installation runs, its package may already have recorded the
// product and the installer the next check: the registry then says "installed,
// not due", but the rendezvous is still running, and a new check follows it.
TEST_F(FirstInstallation, FollowerWaitsEvenWhenTheRegistryAlreadySaysNotDue) {
  const std::string name = Product("FI_FollowRecorded");
  HeldLeader installation(name);
  ASSERT_TRUE(installation.Held());
  ASSERT_TRUE(SetInstalledVersion(name, PackedVersion::Make(4, 0, 0, 0)));
  ASSERT_TRUE(SetNextUpdateTime(name, NowAsFileTime() + kFileTimeTicksPerDay));
  // A check in this process follows: it starts no installer and keeps its
  // window minimised and disabled until the installer lets the rendezvous go;
  // a check of the same product nested in its wait returns at once.
  CheckHost follower(name);
  ASSERT_TRUE(WaitMinimisedAndDisabled(follower.Window(), kCheckTimeoutMs));
  EXPECT_TRUE(RunNestedCheck(follower.Window(), name)) << "the nested check waited";
  EXPECT_FALSE(follower.Done());
  installation.LetGo();
  ASSERT_TRUE(installation.Leader().WaitDone(kCheckTimeoutMs));
  ASSERT_TRUE(follower.WaitDone(kCheckTimeoutMs));
  EXPECT_EQ(follower.Events(), NestedInTheWait());
  // Once it is over, the same check is settled as not due and starts nothing.
  EXPECT_TRUE(RunCheck(name).empty());
  EXPECT_EQ(Record(name).runs, 1u);
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
  EXPECT_FALSE(DoubleRan(name));
}

TEST_F(FirstInstallation, FollowerOfAnUpdateReturnsAtOnce) {
  const std::string name = Product("FI_FollowUpdate");
  ASSERT_TRUE(SetInstalledVersion(name, PackedVersion::Make(3, 1, 0, 0)));
  UseDouble(name, DoubleMode::kHold);
  DoubleHold hold(name);
  // The leader returns right after sync_; the installer still holds the rendezvous.
  EXPECT_TRUE(RunCheck(name).empty());
  ASSERT_TRUE(hold.WaitHeld(kCheckTimeoutMs));
  EXPECT_TRUE(RunCheck(name).empty());
  EXPECT_EQ(Record(name).runs, 1u);
}

TEST_F(FirstInstallation, NamesDifferingOnlyInCaseAreDifferentRendezvous) {
  const std::string upper = Product("FI_Case");
  const std::string lower = "fi_case";  // the same registry keys: cleaned with upper
  ForgetDoubleRecord(lower);
  HeldLeader first(upper);
  ASSERT_TRUE(first.Held());
  // Not a follower of the first: it starts an installer of its own.
  EXPECT_EQ(RunCheck(lower), FirstInstallationEvents());
  EXPECT_EQ(Record(lower).runs, 1u);
  EXPECT_EQ(Record(lower).argument, lower);
  first.LetGo();
  ASSERT_TRUE(first.Leader().WaitDone(kCheckTimeoutMs));
  EXPECT_EQ(Record(upper).runs, 1u);
  ForgetDoubleRecord(lower);
}

}  // namespace
}  // namespace orvex::test
