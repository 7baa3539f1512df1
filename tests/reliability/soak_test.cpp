// Many due update checks through the control in one host process: each starts
// the installer (here the double) and leaves nothing behind, neither in the
// host process (handles, private memory) nor among the named objects.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "control_host.h"
#include "installer_double_client.h"
#include "process_usage.h"
#include "reliability_support.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

constexpr int kChecks = 200;
// The first checks load and warm up what the platform's libraries keep for
// the process (module data, registry and COM caches, heap regions): the
// measured run starts after them.
constexpr int kWarmUpChecks = 20;
constexpr int kMidpoint = (kWarmUpChecks + kChecks) / 2;
constexpr DWORD kFreshTimeoutMs = 10000;
// Well inside CTest's limit, with the host's own bounded end after it.
constexpr DWORD kSoakTimeoutMs = 100000;

// Slack over the measured 180 checks. Measured here, all three stay flat to
// the byte once warmed up; the slack leaves room for what the platform may
// still take on its own: a handle or two it caches (a registry key, a pool
// thread), one more region of a heap (64 KiB, the step in which private bytes
// grow) and a few small blocks. A leak of one handle per check adds 180
// handles; one of 25 bytes per check passes the heap slack, and one of a few
// hundred bytes the private bytes' slack, over the run or its second half.
constexpr long kHandleSlack = 2;
constexpr long long kPrivateBytesSlack = 64 * 1024;
constexpr long long kHeapBytesSlack = 4 * 1024;

using Usage = ProcessUsage;

long HandleGrowth(const Usage& from, const Usage& to) {
  return static_cast<long>(to.handles) - static_cast<long>(from.handles);
}
long long ByteGrowth(const Usage& from, const Usage& to) {
  return static_cast<long long>(to.privateBytes) - static_cast<long long>(from.privateBytes);
}
long long HeapGrowth(const Usage& from, const Usage& to) {
  return static_cast<long long>(to.heapBytesInUse) - static_cast<long long>(from.heapBytesInUse);
}

// What the host thread did; read by the test after the thread ended.
struct SoakRun {
  std::string product;
  int completed = 0;
  int failedPuts = 0;
  int stale = -1;           // the first check after which the rendezvous stayed
  int pastTimeKept = -1;    // the first check that left a due NextUpdateTime in place
  Usage warm, middle, end;
};

void RunSoak(ControlHost& host, void* context) {
  auto& run = *static_cast<SoakRun*>(context);
  const std::wstring info(run.product.begin(), run.product.end());
  for (int check = 1; check <= kChecks; ++check) {
    // Due either way: no NextUpdateTime, or one that has passed (which the
    // check deletes).
    const bool pastTime = check % 4 == 0;
    if (pastTime) {
      SetNextUpdateTime(run.product, NowAsFileTime() - kFileTimeTicksPerDay);
    } else {
      DeleteMachineKey(DownloadsKeyPath(run.product));
    }
    if (host.SetInfo(info) != S_OK) ++run.failedPuts;
    if (pastTime && HasNextUpdateTime(run.product) && run.pastTimeKept < 0) run.pastTimeKept = check;
    // The check returned after "sync_"; the installer releases its side next.
    if (!WaitRendezvousGone(run.product, kFreshTimeoutMs)) {
      if (run.stale < 0) run.stale = check;
      break;
    }
    run.completed = check;
    if (check == kWarmUpChecks) run.warm = MeasureProcessUsage();
    if (check == kMidpoint) run.middle = MeasureProcessUsage();
  }
  run.end = MeasureProcessUsage();
}

class Soak : public ::testing::Test {
 protected:
  void SetUp() override { ForgetProduct(kProduct); }
  void TearDown() override { ForgetProduct(kProduct); }
  static constexpr const char* kProduct = "SoakUpdate";
};

TEST_F(Soak, TwoHundredDueUpdateChecksLeaveNothingBehind) {
  ASSERT_TRUE(SetInstalledVersion(kProduct, PackedVersion::Make(2, 0, 0, 0)));
  UseDouble(kProduct, DoubleMode::kRelease);
  ASSERT_FALSE(RendezvousExists(kProduct));

  SoakRun run;
  run.product = kProduct;
  ControlHost::Plan plan;
  plan.body = RunSoak;
  plan.context = &run;
  ControlHost host(plan);
  ASSERT_TRUE(host.WaitDone(kSoakTimeoutMs)) << "the checks did not end; " << run.completed << " completed";
  ASSERT_TRUE(host.ModuleLoaded());
  EXPECT_TRUE(host.WindowWasActive());

  EXPECT_EQ(run.stale, -1) << "the rendezvous outlived check " << run.stale;
  ASSERT_EQ(run.completed, kChecks);
  EXPECT_EQ(run.failedPuts, 0);
  EXPECT_EQ(host.LeakedControls(), 0u) << "controls kept references after their host released them";
  EXPECT_EQ(host.CanUnloadAtEnd(), S_OK) << "the module is still in use after every control went";
  EXPECT_EQ(run.pastTimeKept, -1) << "a due NextUpdateTime was kept by check " << run.pastTimeKept;
  EXPECT_TRUE(host.Events().empty()) << "an update check leaves the host window alone";

  DoubleRecord record;
  ASSERT_TRUE(ReadDoubleRecord(kProduct, record));
  EXPECT_EQ(record.runs, static_cast<DWORD>(kChecks)) << "every check was due and started the installer once";

  ASSERT_GT(run.warm.handles, 0u) << "the platform does not count the process's handles";
  ASSERT_GT(run.warm.privateBytes, 0u) << "the platform does not tell the process's private bytes";
  ASSERT_GT(run.warm.heapBytesInUse, 0u) << "the heaps cannot be walked";
  EXPECT_LE(HandleGrowth(run.warm, run.end), kHandleSlack)
      << "handles after warm-up " << run.warm.handles << ", midway " << run.middle.handles << ", at the end "
      << run.end.handles;
  EXPECT_LE(ByteGrowth(run.warm, run.end), kPrivateBytesSlack)
      << "private bytes after warm-up " << run.warm.privateBytes << ", midway " << run.middle.privateBytes
      << ", at the end " << run.end.privateBytes;
  EXPECT_LE(HeapGrowth(run.warm, run.end), kHeapBytesSlack)
      << "heap bytes in use after warm-up " << run.warm.heapBytesInUse << ", midway " << run.middle.heapBytesInUse
      << ", at the end " << run.end.heapBytesInUse;
  // A steady leak grows the second half of the run as it grew the first.
  EXPECT_LE(HandleGrowth(run.middle, run.end), kHandleSlack / 2);
  EXPECT_LE(ByteGrowth(run.middle, run.end), kPrivateBytesSlack / 2);
  EXPECT_LE(HeapGrowth(run.middle, run.end), kHeapBytesSlack / 2);
}

// The measures above are what the platform reports; they must move when a
// process does leak, or the soak could not fail.
TEST_F(Soak, TheMeasuresSeeALeakOfTheSizeTheyGuardAgainst) {
  const Usage before = MeasureProcessUsage();
  std::vector<HANDLE> events;
  std::vector<void*> blocks;
  for (int i = kWarmUpChecks; i < kChecks; ++i) {
    events.push_back(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    auto* block = static_cast<char*>(::HeapAlloc(::GetProcessHeap(), 0, 1536));
    if (block != nullptr) ::FillMemory(block, 1536, 0x5A);
    blocks.push_back(block);
  }
  const Usage after = MeasureProcessUsage();
  for (HANDLE event : events) ::CloseHandle(event);
  for (void* block : blocks) ::HeapFree(::GetProcessHeap(), 0, block);

  EXPECT_GT(HandleGrowth(before, after), kHandleSlack);
  EXPECT_GE(HandleGrowth(before, after), kChecks - kWarmUpChecks);
  EXPECT_GT(ByteGrowth(before, after), kPrivateBytesSlack)
      << "private bytes before " << before.privateBytes << ", after " << after.privateBytes;
  EXPECT_GE(HeapGrowth(before, after), (kChecks - kWarmUpChecks) * 1536);
}

}  // namespace
}  // namespace orvex::test
