// Many due update checks in one host process leave no handle, heap block or named object behind.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "control_host.h"
#include "installer_double_client.h"
#include "reliability_support.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

// The handles this process holds, asked one by one (Wine's own count is 0).
DWORD CountHandles() {
  DWORD count = 0;
  DWORD flags = 0;
  for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
    if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

// The bytes of all blocks in use in the process's heaps, the module's among them.
SIZE_T CountHeapBytesInUse() {
  HANDLE heaps[256];
  const DWORD count = ::GetProcessHeaps(256, heaps);
  if (count > 256) return 0;
  SIZE_T total = 0;
  for (DWORD i = 0; i < count; ++i) {
    if (!::HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry = {};
    while (::HeapWalk(heaps[i], &entry)) {
      if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) total += entry.cbData;
    }
    ::HeapUnlock(heaps[i]);
  }
  return total;
}

constexpr int kChecks = 200;
// Measuring starts after the platform's caches warmed up; a leak of one handle
// or 25 bytes per check exceeds the slack.
constexpr int kWarmUpChecks = 20;
constexpr long long kHandleSlack = 2;
constexpr long long kHeapBytesSlack = 4 * 1024;

struct SoakRun {
  std::string product;
  int completed = 0;
  int failedPuts = 0;
  DWORD warmHandles = 0, endHandles = 0;
  SIZE_T warmHeap = 0, endHeap = 0;
};

void RunSoak(ControlHost& host, void* context) {
  auto& run = *static_cast<SoakRun*>(context);
  const std::wstring info(run.product.begin(), run.product.end());
  for (int check = 1; check <= kChecks; ++check) {
    DeleteMachineKey(DownloadsKeyPath(run.product));  // due: no next check recorded
    if (host.SetInfo(info) != S_OK) ++run.failedPuts;
    if (!WaitRendezvousGone(run.product, 10000)) break;
    run.completed = check;
    if (check == kWarmUpChecks) {
      run.warmHandles = CountHandles();
      run.warmHeap = CountHeapBytesInUse();
    }
  }
  run.endHandles = CountHandles();
  run.endHeap = CountHeapBytesInUse();
}

TEST(Soak, TwoHundredDueUpdateChecksLeaveNothingBehind) {
  const std::string product = "SoakUpdate";
  ForgetProduct(product);
  const AtScopeEnd forget([&product] { ForgetProduct(product); });
  ASSERT_TRUE(SetInstalledVersion(product, PackedVersion::Make(2, 0, 0, 0)));
  UseDouble(product, DoubleMode::kRelease);

  SoakRun run;
  run.product = product;
  ControlHost::Plan plan;
  plan.body = RunSoak;
  plan.context = &run;
  ControlHost host(plan);
  ASSERT_TRUE(host.WaitDone(100000)) << "the checks did not end; " << run.completed << " completed";
  ASSERT_TRUE(host.ModuleLoaded());
  ASSERT_EQ(run.completed, kChecks) << "the rendezvous outlived check " << run.completed + 1;
  EXPECT_EQ(run.failedPuts, 0);
  EXPECT_EQ(host.LeakedControls(), 0u) << "controls kept references after their host released them";
  EXPECT_EQ(host.CanUnloadAtEnd(), S_OK) << "the module is still in use after every control went";
  EXPECT_TRUE(host.Events().empty()) << "an update check leaves the host window alone";
  DoubleRecord record;
  ASSERT_TRUE(ReadDoubleRecord(product, record));
  EXPECT_EQ(record.runs, static_cast<DWORD>(kChecks)) << "every check was due and started the installer once";

  ASSERT_GT(run.warmHandles, 0u) << "the process's handles cannot be counted";
  ASSERT_GT(run.warmHeap, 0u) << "the heaps cannot be walked";
  EXPECT_LE(static_cast<long long>(run.endHandles) - run.warmHandles, kHandleSlack)
      << "handles after warm-up " << run.warmHandles << ", at the end " << run.endHandles;
  EXPECT_LE(static_cast<long long>(run.endHeap) - static_cast<long long>(run.warmHeap), kHeapBytesSlack)
      << "heap bytes in use after warm-up " << run.warmHeap << ", at the end " << run.endHeap;
}

}  // namespace
}  // namespace orvex::test
