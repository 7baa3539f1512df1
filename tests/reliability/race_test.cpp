// Eight hosts, in several processes and threads, set Info for one product at
// the same moment: one installer starts, every host comes back, and no
// window is left minimised or disabled.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "control_host.h"
#include "host_report.h"
#include "installer_double_client.h"
#include "object_names.h"
#include "reliability_support.h"
#include "rendezvous_block.h"
#include "test_registry.h"
#include "ui_robot.h"
#include "win_handles.h"

namespace orvex::test {
namespace {

constexpr int kHostProcesses = 5;
constexpr int kHostThreads = 3;
constexpr int kHosts = kHostProcesses + kHostThreads;
// Bounds for one wait, generous: the suite runs alone (see its CMake entry),
// and the test's own time-out in CTest is what bounds it as a whole. A host
// that is slow but within them costs time, not the test.
constexpr DWORD kReadyMs = 120000;
constexpr DWORD kStepMs = 60000;

DWORD Step() { return kStepMs; }

// The hosts of one race: they get ready, wait at a gate and, once it opens,
// each sets Info on a control of its own.
class RaceHosts {
 public:
  explicit RaceHosts(const std::string& product) : product_(product) {
    const std::string tag = HexName(product);
    gate_ = ::CreateEventA(nullptr, TRUE, FALSE, ("orvextest_race_gate_" + tag).c_str());
    for (int i = 0; i < kHosts; ++i) {
      const std::string name = "orvextest_race_ready_" + tag + "_" + std::to_string(i);
      ready_.push_back(::CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
      if (i < kHostProcesses) {
        processes_.push_back(std::make_unique<ChildProcess>("\"" + TestFilePath("control_host_runner.exe") + "\" " +
                                                            name + " orvextest_race_gate_" + tag + " \"" + product +
                                                            "\""));
        pids_.push_back(processes_.back()->Pid());
      } else {
        ControlHost::Plan plan;
        plan.info.assign(product.begin(), product.end());
        plan.ready = ready_.back();
        plan.gate = gate_;
        threads_.push_back(std::make_unique<ControlHost>(plan));
      }
    }
  }

  ~RaceHosts() {
    ::SetEvent(gate_);
    // Hosts still running now are a failure already reported; they are ended.
    processes_.clear();
    threads_.clear();
    ::CloseHandle(gate_);
    for (HANDLE ready : ready_) ::CloseHandle(ready);
  }

  RaceHosts(const RaceHosts&) = delete;
  RaceHosts& operator=(const RaceHosts&) = delete;

  bool Started() const {
    for (const auto& process : processes_) {
      if (!process->Started()) return false;
    }
    return true;
  }

  // Waits until every host is at the gate, then opens it. On failure, says
  // which hosts were late and how long each took.
  ::testing::AssertionResult Go() {
    const ULONGLONG start = ::GetTickCount64();
    std::string times;
    bool all = true;
    for (int i = 0; i < kHosts; ++i) {
      const ULONGLONG waited = ::GetTickCount64() - start;
      const DWORD left = waited >= kReadyMs ? 0 : static_cast<DWORD>(kReadyMs - waited);
      const bool ready = ::WaitForSingleObject(ready_[static_cast<std::size_t>(i)], left) == WAIT_OBJECT_0;
      all = all && ready;
      times += "host " + std::to_string(i) + (i < kHostProcesses ? " (process)" : " (thread)") +
               (ready ? " ready after " + std::to_string(::GetTickCount64() - start) + " ms"
                      : " not ready after " + std::to_string(kReadyMs) + " ms") +
               "; ";
    }
    if (!all) return ::testing::AssertionFailure() << "not every host got ready: " << times;
    ::SetEvent(gate_);
    return ::testing::AssertionSuccess() << times;
  }

  // Every host's window; null for a process whose window did not show.
  std::vector<HWND> Windows() const {
    std::vector<HWND> windows;
    for (DWORD pid : pids_) windows.push_back(WaitForTopLevelWindow(pid, kHostWindowClass, "", Step()));
    for (const auto& host : threads_) windows.push_back(host->Window());
    return windows;
  }

  // Installers started by any of the hosts, as running now.
  std::vector<DWORD> Installers() const {
    std::vector<DWORD> parents = pids_;
    parents.push_back(::GetCurrentProcessId());
    return ChildProcesses(kInstallerExe, parents);
  }

  // Waits for every host to return; their reports, in host order.
  std::vector<HostReport> WaitReports() {
    std::vector<HostReport> reports;
    const Deadline returned(kStepMs);
    auto remaining = [&returned] { return returned.Left(); };
    for (const auto& process : processes_) {
      HostReport report;
      const DWORD code = process->Wait(remaining());
      if (code != STILL_ACTIVE) {
        report = DecodeHostReport(code);
      } else {
        report.failed = true;
        report.events.push_back("did not return");
      }
      reports.push_back(report);
    }
    for (const auto& host : threads_) {
      HostReport report;
      if (host->WaitDone(remaining())) {
        report.events = host->Events();
        report.leftIconic = host->LeftIconic();
        report.leftDisabled = host->LeftDisabled();
        report.failed = !host->ModuleLoaded() || host->LastResult() != S_OK || host->LeakedControls() != 0 ||
                        !host->WindowWasActive();
      } else {
        report.failed = true;
        report.events.push_back("did not return");
      }
      reports.push_back(report);
    }
    return reports;
  }

  // True once every host has returned, without waiting.
  bool AllReturned() const {
    for (const auto& process : processes_) {
      if (!process->Ended()) return false;
    }
    for (const auto& host : threads_) {
      if (!host->Done()) return false;
    }
    return true;
  }

 private:
  std::string product_;
  std::vector<HANDLE> ready_;
  HANDLE gate_ = nullptr;
  std::vector<std::unique_ptr<ChildProcess>> processes_;
  std::vector<DWORD> pids_;
  std::vector<std::unique_ptr<ControlHost>> threads_;
};

std::string Describe(const HostReport& report) {
  std::string text;
  for (const std::string& event : report.events) text += event + " ";
  if (report.leftIconic) text += "[left minimised] ";
  if (report.leftDisabled) text += "[left disabled] ";
  if (report.failed) text += "[failed]";
  return text;
}

class Race : public ::testing::Test {
 protected:
  void Use(const std::string& product) {
    product_ = product;
    ForgetProduct(product_);
    UseDouble(product_, DoubleMode::kHold);
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

TEST_F(Race, EightHostsOfAFirstInstallationShareOneInstaller) {
  Use("RaceFirst");
  DoubleHold hold(product_);
  RaceHosts hosts(product_);
  const AtScopeEnd letGo([&hold] { hold.LetGo(); });
  ASSERT_TRUE(hosts.Started());
  ASSERT_TRUE(hosts.Go());
  ASSERT_TRUE(hold.WaitHeld(Step())) << "no installer acknowledged";

  // Every host joined the one rendezvous: each window is minimised and
  // disabled while the installer holds it.
  const std::vector<HWND> windows = hosts.Windows();
  ASSERT_EQ(windows.size(), static_cast<std::size_t>(kHosts));
  for (std::size_t i = 0; i < windows.size(); ++i) {
    ASSERT_NE(windows[i], nullptr) << "host " << i;
    EXPECT_TRUE(WaitUntil([&] { return MinimisedAndDisabled(windows[i]); }, Step())) << "host " << i;
  }
  EXPECT_EQ(hosts.Installers().size(), 1u) << "installers running at once";
  EXPECT_EQ(DoubleRuns(), 1u);
  EXPECT_FALSE(hosts.AllReturned()) << "a host returned while the installation still ran";

  hold.LetGo();
  const std::vector<HostReport> reports = hosts.WaitReports();
  for (std::size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i].events, kFirstInstallationEvents) << "host " << i << ": " << Describe(reports[i]);
    EXPECT_FALSE(reports[i].leftIconic || reports[i].leftDisabled || reports[i].failed)
        << "host " << i << ": " << Describe(reports[i]);
  }
  EXPECT_TRUE(WaitRendezvousGone(product_, Step()));
  EXPECT_EQ(DoubleRuns(), 1u) << "exactly one installer started";
}

TEST_F(Race, EightHostsOfADueUpdateShareOneInstallerAndReturnAtOnce) {
  Use("RaceUpdate");
  ASSERT_TRUE(SetInstalledVersion(product_, PackedVersion::Make(1, 2, 0, 0)));
  DoubleHold hold(product_);
  RaceHosts hosts(product_);
  const AtScopeEnd letGo([&hold] { hold.LetGo(); });
  ASSERT_TRUE(hosts.Started());
  ASSERT_TRUE(hosts.Go());
  ASSERT_TRUE(hold.WaitHeld(Step())) << "no installer acknowledged";

  // An update runs on its own: every host returns while the installer still
  // holds the rendezvous, its window untouched.
  const std::vector<HostReport> reports = hosts.WaitReports();
  for (std::size_t i = 0; i < reports.size(); ++i) {
    EXPECT_TRUE(reports[i].events.empty()) << "host " << i << ": " << Describe(reports[i]);
    EXPECT_FALSE(reports[i].leftIconic || reports[i].leftDisabled || reports[i].failed)
        << "host " << i << ": " << Describe(reports[i]);
  }
  EXPECT_EQ(hosts.Installers().size(), 1u) << "installers running at once";
  hold.LetGo();
  EXPECT_TRUE(WaitRendezvousGone(product_, Step()));
  EXPECT_EQ(DoubleRuns(), 1u) << "exactly one installer started";
}

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

// Followers that join before the leader filled the block: they read it only
// once the installer acknowledged, or give up when the rendezvous is released.
TEST_F(Race, AFollowerReadsTheBlockOnlyAfterTheAcknowledgement) {
  Use("RaceEarlyFollower");
  ControlHost::Plan plan;
  plan.info.assign(product_.begin(), product_.end());
  {
    // An update: still empty when the follower joins, then filled.
    PlayedLeader leader(product_);
    ASSERT_TRUE(leader.Ready());
    ControlHost follower(plan);
    const AtScopeEnd release([&leader] { leader.Release(); });
    ASSERT_TRUE(WindowThreadPumps(follower.Window(), kStepMs)) << "the follower is not waiting in its check";
    EXPECT_FALSE(follower.Done()) << "the follower did not wait for the acknowledgement";
    EXPECT_TRUE(follower.Events().empty()) << "the empty block was taken for a first installation";
    leader.Block().installedVersion = PackedVersion::Make(1, 0, 0, 0);
    leader.Acknowledge();
    ASSERT_TRUE(follower.WaitDone(Step()));
    EXPECT_TRUE(follower.Events().empty());
  }
  {
    // A first installation: after the acknowledgement, the follower waits
    // with its window minimised and disabled until the release.
    PlayedLeader leader(product_);
    ASSERT_TRUE(leader.Ready());
    ControlHost follower(plan);
    const AtScopeEnd release([&leader] { leader.Release(); });
    ASSERT_TRUE(WindowThreadPumps(follower.Window(), kStepMs)) << "the follower is not waiting in its check";
    EXPECT_TRUE(follower.Events().empty());
    leader.Acknowledge();
    EXPECT_TRUE(WaitUntil([&] { return MinimisedAndDisabled(follower.Window()); }, Step()));
    EXPECT_FALSE(follower.Done());
    leader.Release();
    ASSERT_TRUE(follower.WaitDone(Step()));
    EXPECT_EQ(follower.Events(), kFirstInstallationEvents);
  }
  {
    // A leader that gives up without an installer releases the rendezvous:
    // the follower returns, its window untouched.
    PlayedLeader leader(product_);
    ASSERT_TRUE(leader.Ready());
    ControlHost follower(plan);
    const AtScopeEnd release([&leader] { leader.Release(); });
    ASSERT_TRUE(WindowThreadPumps(follower.Window(), kStepMs)) << "the follower is not waiting in its check";
    leader.Release();
    ASSERT_TRUE(follower.WaitDone(Step()));
    EXPECT_TRUE(follower.Events().empty());
  }
  EXPECT_EQ(DoubleRuns(), 0u) << "a follower started an installer";
}

}  // namespace
}  // namespace orvex::test
