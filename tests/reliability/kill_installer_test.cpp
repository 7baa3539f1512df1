// The real installer killed at each stage of a first installation: while it
// fetches the record, while it downloads the package and while the package
// runs. Every host returns with its window restored, the rendezvous is gone,
// and a later check works.
#include <memory>
#include <string>
#include <vector>

#include "reliability_support.h"
#include "road_support.h"
#include "test_registry.h"
#include "ui_robot.h"

namespace orvex::test {
namespace {

constexpr int kProgressTextId = 203;
constexpr DWORD kSuiteBudgetMs = 120000;

enum class Stage { kRecord, kDownload, kPackage };

class KillInstaller : public RoadTest {
 protected:
  static void SetUpTestSuite() { StartSuiteBudget(kSuiteBudgetMs); }
  // Also between cases: nothing is left waiting for an installer that still runs.
  void TearDown() override {
    if (installer_) KillProcess(installer_.Get());
    follower_.reset();
    leader_.reset();
    RoadTest::TearDown();
  }

  std::string Package() const { return PackageName("1-0-0-5"); }
  std::string DialogTitle() const { return "Orvex Smart Installer: Downloading " + product_ + "..."; }
  std::unique_ptr<ControlHost> Host() const { return std::make_unique<ControlHost>(InfoPlan(product_)); }

  // Waits for the installer to reach a stage; false at once when it ended before.
  template <typename Condition>
  bool WaitForStage(Condition condition) {
    const auto ended = [this] { return ::WaitForSingleObject(installer_.Get(), 0) == WAIT_OBJECT_0; };
    const bool reached = WaitUntil([&] { return condition() || ended(); }, Step()) && !ended();
    EXPECT_TRUE(reached) << "the installer did not get there; it " << StateOf(installer_.Get());
    return reached;
  }

  // A leader, and a follower that joins once the installer shows its dialog.
  void StartHosts() {
    leader_ = Host();
    installer_ = WaitForOwnInstaller(Step());
    ASSERT_TRUE(installer_) << "no installer started";
    dialog_ = WaitForBoxWhileRunning(DialogTitle(), installer_.Get(), Step());
    ASSERT_NE(dialog_, nullptr) << "no progress dialog; the installer " << StateOf(installer_.Get());
    follower_ = Host();
    ASSERT_TRUE(WaitForStage([this] { return MinimisedAndDisabled(follower_->Window()); }));
    EXPECT_TRUE(MinimisedAndDisabled(leader_->Window()));
  }

  std::unique_ptr<ControlHost> leader_;
  std::unique_ptr<ControlHost> follower_;
  UniqueHandle installer_;
  HWND dialog_ = nullptr;
};

TEST_F(KillInstaller, AtEachStageEveryHostReturnsAndALaterCheckWorks) {
  const struct {
    const char* what;
    Stage stage;
    const char* fault;  // on the record, or on the package when killed in the download
  } cases[] = {
      {"during the record fetch", Stage::kRecord, R"({"hang_after": 0})"},
      {"during the download", Stage::kDownload, R"({"drip": {"chunk": 4096, "delay_ms": 50}})"},
      {"while the package runs", Stage::kPackage, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    UseProduct("KillStage");
    PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
    const std::string faultPath = c.stage == Stage::kDownload ? "/" + lower_ + "/download/" + Package() : InfoPath();
    if (c.fault != nullptr) SetFault(faultPath, c.fault);
    // The sample setup waits for this before it ends.
    const UniqueHandle setupGo(::CreateEventA(nullptr, TRUE, FALSE, ("orvextest_setup_go_" + lower_).c_str()));
    const AtScopeEnd letSetupGo([&setupGo] { ::SetEvent(setupGo.Get()); });
    ASSERT_NO_FATAL_FAILURE(StartHosts());
    // The record asked for; some of the package in, as the progress shows; the setup running.
    ASSERT_TRUE(WaitForStage([&] {
      switch (c.stage) {
        case Stage::kRecord: return !LoggedRequests(InfoPath()).empty();
        case Stage::kDownload: return !WindowText(::GetDlgItem(dialog_, kProgressTextId)).empty();
        default: return SetupRan(lower_);
      }
    }));
    // The next check is recorded just before the package starts.
    EXPECT_EQ(HasNextUpdateTime(product_), c.stage == Stage::kPackage);

    ASSERT_TRUE(KillProcess(installer_.Get()));
    ASSERT_TRUE(ReturnedWith(ReportOf(*leader_, Step()), kFirstInstallation)) << "the leader";
    ASSERT_TRUE(ReturnedWith(ReportOf(*follower_, Step()), kFirstInstallation)) << "the follower";
    EXPECT_TRUE(WaitRendezvousGone(product_, Step()));
    ::SetEvent(setupGo.Get());
    if (c.stage != Stage::kPackage) {
      EXPECT_FALSE(SetupRan(lower_));
      // A cut-off package is found at the next run, of the wrong size, and replaced.
      EXPECT_LT(ReadFileBytes(PackagePath(Package())).size(), SamplePackageBytes().size());
    }

    // A later due check without the fault installs the package, or finds the
    // product up to date after a package that went on installing on its own.
    if (c.fault != nullptr) ::DeleteFileA((ServerRoot() + faultPath + ".fault").c_str());
    DeleteMachineKey(DownloadsKeyPath(product_));
    const std::size_t fetched = LoggedRequests(InfoPath()).size();
    const auto later = Host();
    EXPECT_TRUE(ReturnedWith(ReportOf(*later, Step()),
                             c.stage == Stage::kPackage ? std::vector<std::string>() : kFirstInstallation))
        << "the later check";
    EXPECT_TRUE(WaitRendezvousGone(product_, Step()));
    EXPECT_EQ(LoggedRequests(InfoPath()).size(), fetched + 1);
    EXPECT_EQ(ReadSetupRecord(lower_).runs, 1u);
    EXPECT_TRUE(HasNextUpdateTime(product_));
    EXPECT_TRUE(ReadFileBytes(PackagePath(Package())) == SamplePackageBytes());
  }
}

}  // namespace
}  // namespace orvex::test
