// The real installer killed during a first installation: while it downloads
// the package and while the package runs. Every host returns with its window
// restored, the rendezvous is gone, and a later check works.
#include <memory>
#include <string>
#include <vector>

#include "control_host.h"
#include "reliability_support.h"
#include "road_support.h"
#include "test_registry.h"
#include "ui_robot.h"
#include "win_handles.h"

namespace orvex::test {
namespace {

constexpr int kProgressTextId = 203;
// The suite's time budget, and the most any one wait may take of it.
constexpr DWORD kSuiteBudgetMs = 120000;
constexpr DWORD kStepMs = 30000;

class KillInstaller : public RoadTest {
 protected:
  static void SetUpTestSuite() { budget_ = Deadline(kSuiteBudgetMs); }
  static DWORD Step() { return budget_.Left(kStepMs); }
  bool InstallerEnded() const { return ::WaitForSingleObject(installer_.Get(), 0) == WAIT_OBJECT_0; }
  // Waits for the installer to reach a stage; false at once when it ended before.
  template <typename Condition>
  bool WaitForStage(Condition condition) {
    const bool reached = WaitUntil([&] { return condition() || InstallerEnded(); }, Step()) && !InstallerEnded();
    EXPECT_TRUE(reached) << (InstallerEnded() ? "the installer ended with exit code " +
                                                    std::to_string(ExitCodeOf(installer_.Get()))
                                              : std::string("the installer did not get there"));
    return reached;
  }

  std::wstring Info() const { return std::wstring(product_.begin(), product_.end()); }

  std::unique_ptr<ControlHost> Host() const {
    ControlHost::Plan plan;
    plan.info = Info();
    return std::make_unique<ControlHost>(plan);
  }

  std::string DialogTitle() const { return "Orvex Smart Installer: Downloading " + product_ + "..."; }

  // A leader, and a follower that joins once the installer shows its dialog.
  void StartHosts() {
    leader_ = Host();
    const DWORD pid = WaitForChildProcess(kInstallerExe, ::GetCurrentProcessId(), Step());
    ASSERT_NE(pid, 0u) << "no installer started";
    installer_.Reset(::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid));
    ASSERT_TRUE(installer_.Valid());
    dialog_ = WaitForBoxWhileRunning(DialogTitle(), installer_.Get(), Step());
    ASSERT_NE(dialog_, nullptr) << "no progress dialog; installer exit code " << ExitCodeOf(installer_.Get());
    follower_ = Host();
    ASSERT_TRUE(WaitForStage([this] { return MinimisedAndDisabled(follower_->Window()); }));
    EXPECT_TRUE(MinimisedAndDisabled(leader_->Window()));
  }

  // Kills the installer; both hosts return restored and enabled.
  void KillAndExpectHostsBack() {
    ASSERT_TRUE(KillProcess(installer_.Get()));
    for (ControlHost* host : {leader_.get(), follower_.get()}) {
      ASSERT_TRUE(host->WaitDone(Step())) << "a host kept waiting for a dead installer";
      EXPECT_EQ(host->Events(), kFirstInstallationEvents);
      EXPECT_FALSE(host->LeftIconic() || host->LeftDisabled());
      EXPECT_EQ(host->LastResult(), S_OK);
    }
    EXPECT_TRUE(WaitRendezvousGone(product_, Step()));
    EXPECT_TRUE(FindTopLevelWindows(0, "", DialogTitle()).empty()) << "the dialog outlived its installer";
  }

  // A later first installation, without faults, installs the sample package.
  void ExpectLaterInstallationWorks() {
    ::DeleteFileA((ServerRoot() + "\\" + lower_ + "\\download\\" + PackageName("1-0-0-5") + ".fault").c_str());
    const auto later = Host();
    ASSERT_TRUE(later->WaitDone(Step()));
    EXPECT_EQ(later->Events(), kFirstInstallationEvents);
    EXPECT_EQ(ReadSetupRecord(lower_).runs, 1u);
    EXPECT_TRUE(HasNextUpdateTime(product_));
    EXPECT_TRUE(ReadFileBytes(PackagePath(PackageName("1-0-0-5"))) == SamplePackageBytes());
    EXPECT_TRUE(WaitRendezvousGone(product_, Step()));
  }

  void TearDown() override {
    // After a failure, nothing is left waiting for an installer that still runs.
    if (installer_ && ::WaitForSingleObject(installer_.Get(), 0) != WAIT_OBJECT_0) KillProcess(installer_.Get());
    follower_.reset();
    leader_.reset();
    RoadTest::TearDown();
  }

  static Deadline budget_;
  UniqueHandle installer_;
  std::unique_ptr<ControlHost> leader_;
  std::unique_ptr<ControlHost> follower_;
  HWND dialog_ = nullptr;
};

Deadline KillInstaller::budget_;

TEST_F(KillInstaller, DuringTheDownload) {
  UseProduct("KillDownload");
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
  SetFault("/" + lower_ + "/download/" + PackageName("1-0-0-5"), R"({"drip": {"chunk": 4096, "delay_ms": 50}})");
  ASSERT_NO_FATAL_FAILURE(StartHosts());
  // Some of the package is in: the progress shows it.
  ASSERT_TRUE(WaitForStage([this] { return !WindowText(::GetDlgItem(dialog_, kProgressTextId)).empty(); }));
  ASSERT_NO_FATAL_FAILURE(KillAndExpectHostsBack());
  EXPECT_FALSE(HasNextUpdateTime(product_));
  EXPECT_FALSE(SetupRan(lower_));
  // The cut-off package is found at the next run, of the wrong size, and replaced.
  EXPECT_LT(ReadFileBytes(PackagePath(PackageName("1-0-0-5"))).size(), SamplePackageBytes().size());
  ASSERT_NO_FATAL_FAILURE(ExpectLaterInstallationWorks());
}

TEST_F(KillInstaller, WhileThePackageRuns) {
  UseProduct("KillPackage");
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
  // The sample setup waits for this event before it ends; let go at the latest when the test ends.
  const UniqueHandle setupGo(::CreateEventA(nullptr, TRUE, FALSE, ("orvextest_setup_go_" + lower_).c_str()));
  const AtScopeEnd letGo([&setupGo] { ::SetEvent(setupGo.Get()); });
  ASSERT_NO_FATAL_FAILURE(StartHosts());
  ASSERT_TRUE(WaitForStage([this] { return SetupRan(lower_); })) << "the package never ran";
  EXPECT_TRUE(HasNextUpdateTime(product_)) << "recorded before the package started";
  ASSERT_NO_FATAL_FAILURE(KillAndExpectHostsBack());
  ::SetEvent(setupGo.Get());

  // The package finished installing on its own. A later check finds the
  // product installed and not due, and starts nothing.
  const std::size_t fetched = LoggedRequests(InfoPath()).size();
  auto later = Host();
  ASSERT_TRUE(later->WaitDone(Step()));
  EXPECT_TRUE(later->Events().empty());
  EXPECT_TRUE(ChildProcesses(kInstallerExe, {::GetCurrentProcessId()}).empty());
  // Once due, the update check finds it up to date and records the next check.
  DeleteMachineKey(DownloadsKeyPath(product_));
  later = Host();
  ASSERT_TRUE(later->WaitDone(Step()));
  EXPECT_TRUE(later->Events().empty());
  EXPECT_TRUE(WaitRendezvousGone(product_, Step()));
  EXPECT_TRUE(HasNextUpdateTime(product_));
  EXPECT_EQ(LoggedRequests(InfoPath()).size(), fetched + 1);
  EXPECT_EQ(ReadSetupRecord(lower_).runs, 1u);
}

}  // namespace
}  // namespace orvex::test
