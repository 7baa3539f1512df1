// Hosts meeting at one rendezvous: eight hosts in several processes and threads
// set Info at once and share one installer; a follower that joins before the
// installer acknowledged waits for the acknowledgement; and an installer killed
// before it acknowledged lets every host go untouched.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "installer_double_client.h"
#include "object_names.h"
#include "reliability_support.h"
#include "rendezvous_block.h"
#include "test_registry.h"
#include "ui_robot.h"

namespace orvex::test {
namespace {

constexpr int kHostProcesses = 5;
constexpr int kHostThreads = 3;
constexpr DWORD kSuiteBudgetMs = 120000;
// How long a follower is given to show what it does before the leader moves
// on, and hosts let through the gate to reach the rendezvous.
constexpr DWORD kSettleMs = 300;
constexpr DWORD kJoinMs = 500;

// Hosts of one product, in processes of their own and threads of this one: they
// get ready, wait at a gate and, once it opens, each sets Info on its own control.
class HostGroup {
 public:
  HostGroup(const std::string& product, int processes, int threads) {
    const std::string ready = "orvextest_ready_" + HexName(product);
    const std::string gate = "orvextest_gate_" + HexName(product);
    ready_.Reset(::CreateSemaphoreA(nullptr, 0, processes + threads, ready.c_str()));
    gate_.Reset(::CreateEventA(nullptr, TRUE, FALSE, gate.c_str()));
    const std::string commandLine =
        "\"" + TestFilePath("control_host_runner.exe") + "\" " + ready + " " + gate + " \"" + product + "\"";
    for (int i = 0; i < processes; ++i) processes_.push_back(std::make_unique<ChildProcess>(commandLine));
    ControlHost::Plan plan = InfoPlan(product);
    plan.ready = ready_.Get();
    plan.gate = gate_.Get();
    for (int i = 0; i < threads; ++i) threads_.push_back(std::make_unique<ControlHost>(plan));
  }

  // Hosts still running (a failure already reported) are let through and ended.
  ~HostGroup() { ::SetEvent(gate_.Get()); }

  // Waits until every host is at the gate, then opens it.
  bool Go() {
    for (std::size_t i = 0; i < processes_.size() + threads_.size(); ++i) {
      if (::WaitForSingleObject(ready_.Get(), Step()) != WAIT_OBJECT_0) return false;
    }
    return ::SetEvent(gate_.Get()) != FALSE;
  }

  // Every host's window; null for a process whose window did not show.
  std::vector<HWND> Windows() const {
    std::vector<HWND> windows;
    for (const auto& process : processes_) {
      windows.push_back(WaitForTopLevelWindow(process->Pid(), kHostWindowClass, "", Step()));
    }
    for (const auto& host : threads_) windows.push_back(host->Window());
    return windows;
  }

  int Returned() const {
    int returned = 0;
    for (const auto& process : processes_) returned += process->Wait(0) != STILL_ACTIVE ? 1 : 0;
    for (const auto& host : threads_) returned += host->Done() ? 1 : 0;
    return returned;
  }

  // Installers started by any host of the group, running now.
  std::vector<DWORD> Installers() const {
    std::vector<DWORD> parents = {::GetCurrentProcessId()};
    for (const auto& process : processes_) parents.push_back(process->Pid());
    return RunningInstallers(parents);
  }

  // Waits for every host to return; their reports, processes first.
  std::vector<HostReport> WaitReports() {
    std::vector<HostReport> reports;
    for (const auto& process : processes_) reports.push_back(ReportOf(*process, Step()));
    for (const auto& host : threads_) reports.push_back(ReportOf(*host, Step()));
    return reports;
  }

 private:
  UniqueHandle ready_;
  UniqueHandle gate_;
  std::vector<std::unique_ptr<ChildProcess>> processes_;
  std::vector<std::unique_ptr<ControlHost>> threads_;
};

// The leader's side of a rendezvous, played by the test: the objects exist,
// the block is filled only when the test says so.
class PlayedLeader {
 public:
  explicit PlayedLeader(const std::string& name)
      : mapping_(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kRendezvousBlockSize,
                                      (kInfoPrefix + name).c_str())),
        view_(mapping_ ? ::MapViewOfFile(mapping_.Get(), FILE_MAP_ALL_ACCESS, 0, 0, kRendezvousBlockSize) : nullptr),
        installing_(::CreateEventA(nullptr, TRUE, FALSE, (kInstallingPrefix + name).c_str())),
        sync_(::CreateEventA(nullptr, TRUE, FALSE, (kSyncPrefix + name).c_str())) {}
  bool Ready() const { return view_ && installing_ && sync_; }
  RendezvousBlock& Block() const { return *view_.As<RendezvousBlock>(); }
  void Acknowledge() const { ::SetEvent(sync_.Get()); }
  void Release() const { ::SetEvent(installing_.Get()); }

 private:
  UniqueHandle mapping_;
  MappedView view_;
  UniqueHandle installing_;
  UniqueHandle sync_;
};

class Race : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartSuiteBudget(kSuiteBudgetMs); }
  // The product of what follows, afresh, its installer played by the double.
  void Use(const std::string& product, DoubleMode mode) {
    TearDown();
    product_ = product;
    ForgetProduct(product_);
    UseDouble(product_, mode);
  }
  void TearDown() override {
    if (!product_.empty()) ForgetProduct(product_);
  }
  DWORD DoubleRuns() const {
    DoubleRecord record;
    return ReadDoubleRecord(product_, record) ? record.runs : 0;
  }
  std::string product_;
};

using KillBeforeSync = Race;

TEST_F(Race, EightHostsShareOneInstaller) {
  for (const bool update : {false, true}) {
    SCOPED_TRACE(update ? "a due update" : "a first installation");
    Use(update ? "RaceUpdate" : "RaceFirst", DoubleMode::kHold);
    ASSERT_TRUE(!update || SetInstalledVersion(product_, PackedVersion::Make(1, 2, 0, 0)));
    DoubleHold hold(product_);
    HostGroup hosts(product_, kHostProcesses, kHostThreads);
    const AtScopeEnd letGo([&hold] { hold.LetGo(); });
    ASSERT_TRUE(hosts.Go()) << "not every host got ready";
    ASSERT_TRUE(hold.WaitHeld(Step())) << "no installer acknowledged";

    // A first installation keeps every host waiting, its window minimised and
    // disabled, until the installer lets go; an update lets them return while
    // the installer still holds the rendezvous, their windows untouched.
    std::vector<HostReport> reports = update ? hosts.WaitReports() : std::vector<HostReport>();
    if (!update) {
      for (HWND window : hosts.Windows()) {
        EXPECT_TRUE(window != nullptr && WaitUntil([&] { return MinimisedAndDisabled(window); }, Step()));
      }
      EXPECT_EQ(hosts.Returned(), 0) << "hosts returned while the installation still ran";
    }
    EXPECT_EQ(hosts.Installers().size(), 1u) << "installers running at once";
    hold.LetGo();
    if (!update) reports = hosts.WaitReports();
    for (std::size_t i = 0; i < reports.size(); ++i) {
      EXPECT_TRUE(ReturnedWith(reports[i], update ? std::vector<std::string>() : kFirstInstallation))
          << "host " << i;
    }
    EXPECT_TRUE(WaitRendezvousGone(product_, Step()));
    EXPECT_EQ(DoubleRuns(), 1u) << "exactly one installer started";
  }
}

// A follower that joins before the leader filled the block reads it only once
// the installer acknowledged, or gives up when the rendezvous is released.
TEST_F(Race, AFollowerReadsTheBlockOnlyAfterTheAcknowledgement) {
  Use("RaceEarlyFollower", DoubleMode::kHold);
  const struct {
    const char* what;
    PackedVersion installed;  // as the leader fills the block in
    bool acknowledged;
    std::vector<std::string> events;
  } cases[] = {
      {"an update: the follower returns at the acknowledgement", PackedVersion::Make(1, 0, 0, 0), true, {}},
      {"a first installation: the follower waits for the release", {}, true, kFirstInstallation},
      {"a leader that gives up without an installer", {}, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PlayedLeader leader(product_);
    ASSERT_TRUE(leader.Ready());
    ControlHost follower(InfoPlan(product_));
    const AtScopeEnd release([&leader] { leader.Release(); });
    ::Sleep(kSettleMs);
    EXPECT_FALSE(follower.Done()) << "the follower did not wait for the acknowledgement";
    EXPECT_TRUE(follower.Events().empty()) << "the empty block was taken for a first installation";
    leader.Block().installedVersion = c.installed;
    if (c.acknowledged) leader.Acknowledge();
    if (!c.events.empty()) {
      EXPECT_TRUE(WaitUntil([&] { return MinimisedAndDisabled(follower.Window()); }, Step()));
      EXPECT_FALSE(follower.Done());
    }
    if (!c.acknowledged || !c.events.empty()) leader.Release();
    EXPECT_TRUE(ReturnedWith(ReportOf(follower, Step()), c.events));
  }
  EXPECT_EQ(DoubleRuns(), 0u) << "a follower started an installer";
}

// The installer killed after it opened the rendezvous but before "sync_": no
// host waits or touches its window, and a later check starts a fresh installer.
TEST_F(KillBeforeSync, LeaderAndFollowersReturnUntouchedAndALaterCheckStartsAgain) {
  Use("KillBeforeSync", DoubleMode::kHangBeforeAcknowledge);
  DoubleHold hold(product_);
  ControlHost leader(InfoPlan(product_));
  ASSERT_TRUE(hold.WaitHeld(Step())) << "the installer never opened the rendezvous";
  DoubleRecord record;
  ASSERT_TRUE(ReadDoubleRecord(product_, record) && record.opened);

  // Followers, in another process and in this one, join while nothing is acknowledged.
  HostGroup followers(product_, 1, 1);
  const AtScopeEnd letGo([&hold] { hold.LetGo(); });
  ASSERT_TRUE(followers.Go()) << "not every follower got ready";
  ::Sleep(kJoinMs);
  EXPECT_FALSE(leader.Done());
  EXPECT_EQ(followers.Returned(), 0);

  ASSERT_TRUE(KillProcess(record.pid));
  EXPECT_TRUE(ReturnedWith(ReportOf(leader, Step()), {})) << "the leader";
  for (const HostReport& report : followers.WaitReports()) EXPECT_TRUE(ReturnedWith(report, {})) << "a follower";
  EXPECT_TRUE(WaitRendezvousGone(product_, Step()));
  EXPECT_EQ(DoubleRuns(), 1u) << "a follower started an installer of its own";

  UseDouble(product_, DoubleMode::kRelease);
  ControlHost later(InfoPlan(product_));
  EXPECT_TRUE(ReturnedWith(ReportOf(later, Step()), kFirstInstallation)) << "the later check";
  EXPECT_EQ(DoubleRuns(), 2u);
  EXPECT_TRUE(WaitRendezvousGone(product_, Step()));
}

}  // namespace
}  // namespace orvex::test
