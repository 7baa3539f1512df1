// Many due update checks in one host process leave no handle, heap block or named object behind.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "check_host.h"
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
long long CountHeapBytesInUse() {
  HANDLE heaps[256];
  const DWORD count = ::GetProcessHeaps(256, heaps);
  long long total = 0;
  for (DWORD i = 0; i < count && i < 256; ++i) {
    if (!::HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry = {};
    while (::HeapWalk(heaps[i], &entry)) {
      if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) total += static_cast<long long>(entry.cbData);
    }
    ::HeapUnlock(heaps[i]);
  }
  return total;
}

// Measuring starts after the platform's caches warmed up; a leak of one handle
// or 25 bytes per check exceeds the slack.
constexpr int kChecks = 200;
constexpr int kWarmUpChecks = 20;
constexpr long long kHandleSlack = 2;
constexpr long long kHeapBytesSlack = 4 * 1024;

TEST(Soak, TwoHundredDueUpdateChecksLeaveNothingBehind) {
  const std::string product = "SoakUpdate";
  ForgetProduct(product);
  const AtScopeEnd forget([&product] { ForgetProduct(product); });
  ASSERT_TRUE(SetInstalledVersion(product, PackedVersion::Make(2, 0, 0, 0)));
  UseDouble(product, DoubleMode::kRelease);

  int completed = 0, failedPuts = 0;
  long long warmHandles = 0, endHandles = 0, warmHeap = 0, endHeap = 0;
  ControlHost::Plan plan;
  plan.body = [&](ControlHost& host) {
    for (int check = 1; check <= kChecks; ++check) {
      DeleteMachineKey(DownloadsKeyPath(product));  // due: no next check recorded
      if (host.SetInfo(std::wstring(product.begin(), product.end())) != S_OK) ++failedPuts;
      if (!WaitRendezvousGone(product, 10000)) break;
      completed = check;
      if (check == kWarmUpChecks) {
        warmHandles = CountHandles();
        warmHeap = CountHeapBytesInUse();
      }
    }
    endHandles = CountHandles();
    endHeap = CountHeapBytesInUse();
  };
  ControlHost host(plan);
  ASSERT_TRUE(host.WaitDone(100000)) << "the checks did not end; " << completed << " completed";
  // The module loaded, no control outlived its release, the window was left alone.
  ASSERT_EQ(host.Outcome(), 0u) << kOutcomeBits;
  ASSERT_EQ(completed, kChecks) << "the rendezvous outlived check " << completed + 1;
  EXPECT_EQ(failedPuts, 0);
  EXPECT_EQ(host.CanUnloadAtEnd(), S_OK) << "the module is still in use after every control went";
  EXPECT_EQ(ReadDoubleRecord(product).runs, static_cast<DWORD>(kChecks))
      << "every check was due and started the installer once";

  ASSERT_GT(warmHandles, 0) << "the process's handles cannot be counted";
  ASSERT_GT(warmHeap, 0) << "the heaps cannot be walked";
  EXPECT_LE(endHandles - warmHandles, kHandleSlack)
      << "handles after warm-up " << warmHandles << ", at the end " << endHandles;
  EXPECT_LE(endHeap - warmHeap, kHeapBytesSlack)
      << "heap bytes in use after warm-up " << warmHeap << ", at the end " << endHeap;
}

}  // namespace
}  // namespace orvex::test
