// Hosts racing for one rendezvous, and a follower that joins before the leader
// filled the block.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
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
#include "win_handles.h"

namespace orvex::test {
namespace {

constexpr int kHostProcesses = 5;
constexpr int kHosts = 8;
// Generous bounds for one wait: the suite runs alone, bounded by its CTest time-out.
constexpr DWORD kReadyMs = 120000;
constexpr DWORD kStepMs = 60000;

// Five processes and three threads get ready, wait at a gate and, once it
// opens, each sets Info on a control of its own.
class RaceHosts {
 public:
  explicit RaceHosts(const std::string& product) {
    const std::string gate = "orvextest_race_gate_" + HexName(product);
    gate_ = ::CreateEventA(nullptr, TRUE, FALSE, gate.c_str());
    for (int i = 0; i < kHosts; ++i) {
      const std::string ready = gate + "_ready_" + std::to_string(i);
      ready_.push_back(::CreateEventA(nullptr, TRUE, FALSE, ready.c_str()));
      if (i < kHostProcesses) {
        processes_.push_back(std::make_unique<ChildProcess>("\"" + TestFilePath("control_host_runner.exe") + "\" " +
                                                            ready + " " + gate + " \"" + product + "\""));
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
    processes_.clear();  // a host still running is a failure already reported
    threads_.clear();
    ::CloseHandle(gate_);
    for (HANDLE ready : ready_) ::CloseHandle(ready);
  }
  RaceHosts(const RaceHosts&) = delete;
  RaceHosts& operator=(const RaceHosts&) = delete;

  // Opens the gate once every host waits at it; otherwise names each host
  // with the time it took to get ready, or that it did not.
  ::testing::AssertionResult Go() {
    const ULONGLONG start = ::GetTickCount64();
    std::string times;
    bool all = true;
    for (std::size_t i = 0; i < ready_.size(); ++i) {
      const ULONGLONG waited = ::GetTickCount64() - start;
      const DWORD left = waited >= kReadyMs ? 0 : static_cast<DWORD>(kReadyMs - waited);
      const bool ready = ::WaitForSingleObject(ready_[i], left) == WAIT_OBJECT_0;
      all = all && ready;
      times += "host " + std::to_string(i) + (ready ? " ready after " : " not ready after ") +
               std::to_string(::GetTickCount64() - start) + " ms; ";
    }
    if (!all) return ::testing::AssertionFailure() << "not every host got ready: " << times;
    ::SetEvent(gate_);
    return ::testing::AssertionSuccess();
  }

  // Installers started by any of the hosts, as running now.
  std::vector<DWORD> Installers() const {
    std::vector<DWORD> parents = {::GetCurrentProcessId()};
    for (const auto& process : processes_) parents.push_back(process->Pid());
    return ChildProcesses(kInstallerExe, parents);
  }

  bool AnyReturned() const {
    for (const auto& process : processes_) {
      if (process->Ended()) return true;
    }
    for (const auto& host : threads_) {
      if (host->Done()) return true;
    }
    return false;
  }

  // Waits for every host to return; their reports, in host order.
  std::vector<HostReport> WaitReports() {
    const ULONGLONG end = ::GetTickCount64() + kStepMs;
    const auto left = [end] { return static_cast<DWORD>(end - std::min(end, ::GetTickCount64())); };
    const HostReport didNotReturn{{"did not return"}, false, false, true};
    std::vector<HostReport> reports;
    for (const auto& process : processes_) {
      const DWORD code = process->Wait(left());
      reports.push_back(code != STILL_ACTIVE ? DecodeHostReport(code) : didNotReturn);
    }
    for (const auto& host : threads_) {
      if (!host->WaitDone(left())) {
        reports.push_back(didNotReturn);
        continue;
      }
      reports.push_back(HostReport{host->Events(), host->LeftIconic(), host->LeftDisabled(),
                                   !host->ModuleLoaded() || host->LastResult() != S_OK ||
                                       host->LeakedControls() != 0 || !host->WindowWasActive()});
    }
    return reports;
  }

 private:
  std::vector<HANDLE> ready_;
  HANDLE gate_ = nullptr;
  std::vector<std::unique_ptr<ChildProcess>> processes_;
  std::vector<std::unique_ptr<ControlHost>> threads_;
};

class Race : public ::testing::Test {
 protected:
  void Use(const std::string& product) {
    if (!product_.empty()) ForgetProduct(product_);
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

// A first installation keeps every host waiting until the release; a due
// update lets every host return at once, while the installer still runs.
TEST_F(Race, EightHostsShareOneInstaller) {
  for (const bool first : {true, false}) {
    SCOPED_TRACE(first ? "a first installation" : "a due update");
    Use(first ? "RaceFirst" : "RaceUpdate");
    if (!first) {
      ASSERT_TRUE(SetInstalledVersion(product_, PackedVersion::Make(1, 2, 0, 0)));
    }
    DoubleHold hold(product_);
    RaceHosts hosts(product_);
    const AtScopeEnd letGo([&hold] { hold.LetGo(); });
    ASSERT_TRUE(hosts.Go());
    ASSERT_TRUE(hold.WaitHeld(kStepMs)) << "no installer acknowledged";
    EXPECT_EQ(hosts.Installers().size(), 1u) << "installers running at once";
    if (first) {
      EXPECT_FALSE(hosts.AnyReturned()) << "a host returned while the installation still ran";
      hold.LetGo();
    }
    const std::vector<HostReport> reports = hosts.WaitReports();
    for (std::size_t i = 0; i < reports.size(); ++i) {
      EXPECT_EQ(reports[i].events, first ? kFirstInstallationEvents : std::vector<std::string>{})
          << "host " << i;
      EXPECT_FALSE(reports[i].leftIconic || reports[i].leftDisabled || reports[i].failed)
          << "host " << i << " left its window minimised or disabled, or failed";
    }
    hold.LetGo();
    EXPECT_TRUE(WaitRendezvousGone(product_, kStepMs));
    EXPECT_EQ(DoubleRuns(), 1u) << "exactly one installer started";
  }
}

// Joined while the block is empty, the follower reads it only after the acknowledgement.
TEST_F(Race, AFollowerReadsTheBlockOnlyAfterTheAcknowledgement) {
  Use("RaceEarlyFollower");
  ControlHost::Plan plan;
  plan.info.assign(product_.begin(), product_.end());
  for (const bool first : {false, true}) {
    SCOPED_TRACE(first ? "a first installation" : "an update");
    const PlayedRendezvous leader(product_);
    ASSERT_NE(leader.Block(), nullptr);
    ControlHost follower(plan);
    const AtScopeEnd release([&leader] { ::SetEvent(leader.installing.Get()); });
    ASSERT_TRUE(WindowThreadPumps(follower.Window(), kStepMs)) << "the follower is not waiting in its check";
    EXPECT_FALSE(follower.Done()) << "the follower did not wait for the acknowledgement";
    EXPECT_TRUE(follower.Events().empty()) << "the empty block was taken for a first installation";
    if (!first) leader.Block()->installedVersion = PackedVersion::Make(1, 0, 0, 0);
    ::SetEvent(leader.sync.Get());
    if (first) {
      EXPECT_TRUE(WaitUntil([&] { return MinimisedAndDisabled(follower.Window()); }, kStepMs));
      EXPECT_FALSE(follower.Done());
      ::SetEvent(leader.installing.Get());
    }
    ASSERT_TRUE(follower.WaitDone(kStepMs));
    EXPECT_EQ(follower.Events(), first ? kFirstInstallationEvents : std::vector<std::string>{});
  }
  EXPECT_EQ(DoubleRuns(), 0u) << "a follower started an installer";
}

}  // namespace
}  // namespace orvex::test
