// Hosts racing for one rendezvous, a follower that joins before the leader
// filled the block, and the installer or the leader killed while a follower waits.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "check_host.h"
#include "reliability_support.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

constexpr int kHostProcesses = 5;
constexpr int kHosts = 8;
// Generous bounds for one wait: the suite runs alone, bounded by its CTest time-out.
constexpr DWORD kReadyMs = 120000;
constexpr DWORD kStepMs = 60000;
// Kill's bounds: its four cases fail within its CTest time-out.
constexpr DWORD kKillStepMs = 30000;

// Five processes and three threads get ready, wait at a gate and, once it
// opens, each sets Info on a control of its own.
class RaceHosts {
 public:
  explicit RaceHosts(const std::string& product) {
    const std::string gate = "orvextest_race_gate_" + product;
    gate_.Reset(::CreateEventA(nullptr, TRUE, FALSE, gate.c_str()));
    ControlHost::Plan plan;
    plan.info.assign(product.begin(), product.end());
    plan.gate = gate_.Get();
    for (int i = 0; i < kHosts; ++i) {
      const std::string ready = gate + "_ready_" + std::to_string(i);
      ready_.emplace_back(::CreateEventA(nullptr, TRUE, FALSE, ready.c_str()));
      plan.ready = ready_.back().Get();
      if (i < kHostProcesses) {
        processes_.push_back(std::make_unique<ChildProcess>("\"" + TestFilePath("control_host_runner.exe") + "\" " +
                                                            ready + " " + gate + " \"" + product + "\""));
      } else {
        threads_.push_back(std::make_unique<ControlHost>(plan));
      }
    }
  }
  // The hosts go before the events they wait on; a host still running is a failure already reported.
  ~RaceHosts() { ::SetEvent(gate_.Get()); }
  RaceHosts(const RaceHosts&) = delete;
  RaceHosts& operator=(const RaceHosts&) = delete;

  // Opens the gate once every host waits at it; otherwise names each host
  // with the time it took to get ready, or that it did not.
  ::testing::AssertionResult Go() {
    const ULONGLONG start = ::GetTickCount64();
    std::string times;
    bool all = true;
    for (std::size_t i = 0; i < ready_.size(); ++i) {
      const DWORD left = static_cast<DWORD>(kReadyMs - std::min<ULONGLONG>(kReadyMs, ::GetTickCount64() - start));
      const bool ready = ::WaitForSingleObject(ready_[i].Get(), left) == WAIT_OBJECT_0;
      all = all && ready;
      times += "host " + std::to_string(i) + (ready ? " ready after " : " not ready after ") +
               std::to_string(::GetTickCount64() - start) + " ms; ";
    }
    if (!all) return ::testing::AssertionFailure() << "not every host got ready: " << times;
    ::SetEvent(gate_.Get());
    return ::testing::AssertionSuccess();
  }

  // Installers started by any of the hosts, as running now.
  std::vector<DWORD> Installers() const {
    std::vector<DWORD> parents = {::GetCurrentProcessId()};
    for (const auto& process : processes_) parents.push_back(process->Pid());
    return ChildProcesses(kInstallerExe, parents);
  }

  bool AnyReturned() const {
    return std::any_of(processes_.begin(), processes_.end(), [](const auto& p) { return p->Ended(); }) ||
           std::any_of(threads_.begin(), threads_.end(), [](const auto& t) { return t->Done(); });
  }

  // Waits for every host to return; their outcomes (ControlHost::Outcome), in host order.
  std::vector<DWORD> WaitOutcomes() {
    const ULONGLONG end = ::GetTickCount64() + kStepMs;
    const auto left = [end] { return static_cast<DWORD>(end - std::min(end, ::GetTickCount64())); };
    std::vector<DWORD> outcomes;
    for (const auto& process : processes_) outcomes.push_back(process->Wait(left()));
    for (const auto& host : threads_) outcomes.push_back(host->WaitDone(left()) ? host->Outcome() : STILL_ACTIVE);
    return outcomes;
  }

 private:
  std::vector<UniqueHandle> ready_;
  UniqueHandle gate_;
  std::vector<std::unique_ptr<ChildProcess>> processes_;
  std::vector<std::unique_ptr<ControlHost>> threads_;
};

// One product at a time against the installer double, cleaned before and after.
class DoubleTest : public ::testing::Test {
 protected:
  void Use(const std::string& product, DoubleMode mode = DoubleMode::kHold) {
    if (!product_.empty()) ForgetProduct(product_);
    product_ = product;
    ForgetProduct(product_);
    UseDouble(product_, mode);
  }
  void TearDown() override {
    if (!product_.empty()) ForgetProduct(product_);
  }
  std::string product_;
};
using Race = DoubleTest;
using Kill = DoubleTest;

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
    const std::vector<DWORD> outcomes = hosts.WaitOutcomes();
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
      EXPECT_EQ(outcomes[i], first ? 1u : 0u) << "host " << i << " (" << kOutcomeBits << ")";
    }
    hold.LetGo();
    EXPECT_TRUE(WaitRendezvousGone(product_, kStepMs));
    EXPECT_EQ(ReadDoubleRecord(product_).runs, 1u) << "exactly one installer started";
  }
}

// Joined while the block is still empty, a follower of an update reads it only
// after the acknowledgement: it does not take the update for a first installation.
TEST_F(Race, AFollowerReadsTheBlockOnlyAfterTheAcknowledgement) {
  Use("RaceEarlyFollower");
  const PlayedRendezvous leader(product_);
  ASSERT_NE(leader.Block(), nullptr);
  ControlHost::Plan plan;
  plan.info.assign(product_.begin(), product_.end());
  ControlHost follower(plan);
  const AtScopeEnd release([&leader] { ::SetEvent(leader.installing.Get()); });
  ASSERT_TRUE(WindowThreadPumps(follower.Window(), kStepMs)) << "the follower is not waiting in its check";
  EXPECT_FALSE(follower.Done()) << "the follower did not wait for the acknowledgement";
  EXPECT_TRUE(follower.Events().empty()) << "the empty block was taken for a first installation";
  leader.Block()->installedVersion = PackedVersion::Make(1, 0, 0, 0);
  ::SetEvent(leader.sync.Get());
  ASSERT_TRUE(follower.WaitDone(kStepMs));
  EXPECT_TRUE(follower.Events().empty()) << "the update was taken for a first installation";
  EXPECT_EQ(ReadDoubleRecord(product_).runs, 0u) << "a follower started an installer";
}

// Killed before the acknowledgement, or while the hosts' windows are minimised
// and disabled: every host returns restored, and nobody starts a second installer.
TEST_F(Kill, EveryHostReturnsWhenTheInstallerOrTheLeaderDies) {
  for (const bool killInstaller : {true, false}) {
    for (const bool first : {false, true}) {
      const std::string product =
          std::string("Kill") + (killInstaller ? "Installer" : "Leader") + (first ? "InWait" : "BeforeSync");
      SCOPED_TRACE(product);
      Use(product, first ? DoubleMode::kHold : DoubleMode::kHangBeforeAcknowledge);
      DoubleHold hold(product_);
      ChildProcess leader("\"" + TestFilePath("control_host_runner.exe") + "\" - - \"" + product_ + "\"");
      ASSERT_TRUE(leader.Started());
      const AtScopeEnd letGo([&hold] { hold.LetGo(); });
      ASSERT_TRUE(hold.WaitHeld(kKillStepMs)) << "the installer never opened the rendezvous";

      ControlHost::Plan plan;
      plan.info.assign(product_.begin(), product_.end());
      ControlHost follower(plan);
      // A follower pumps messages only in its check's wait: once it answers, it has joined.
      ASSERT_TRUE(WindowThreadPumps(follower.Window(), kKillStepMs)) << "the follower is not waiting in its check";
      if (first) {
        const HWND window = follower.Window();
        EXPECT_TRUE(WaitUntil([&] { return ::IsIconic(window) && !::IsWindowEnabled(window); }, kKillStepMs));
      }
      EXPECT_FALSE(follower.Done());

      const DoubleRecord record = ReadDoubleRecord(product_);
      ASSERT_NE(record.runs, 0u) << "the installer never started";
      ASSERT_TRUE(KillProcess(killInstaller ? record.pid : leader.Pid()));
      EXPECT_TRUE(follower.WaitDone(kKillStepMs)) << "the follower kept waiting for a dead one";
      // Its window as it was, or through a first installation (what its put returns is not at stake).
      EXPECT_EQ(follower.Outcome() & 15u, first ? 1u : 0u) << kOutcomeBits;
      if (killInstaller) {
        EXPECT_EQ(leader.Wait(kKillStepMs), first ? 1u : 0u) << "the leader's outcome (" << kOutcomeBits << ")";
      }
      hold.LetGo();
      EXPECT_TRUE(WaitRendezvousGone(product_, kKillStepMs));
      EXPECT_EQ(ReadDoubleRecord(product_).runs, 1u) << "a follower started an installer of its own";
    }
  }
}

}  // namespace
}  // namespace orvex::test
