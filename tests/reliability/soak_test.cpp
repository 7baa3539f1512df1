// Many due update checks through the control in one host process: each starts
// the installer (here the double) and leaves nothing behind, neither in the
// host process (handles, private memory) nor among the named objects.
#include <gtest/gtest.h>
#include <windows.h>
// after windows.h
#include <psapi.h>

#include <cstddef>
#include <string>
#include <vector>

#include "control_host.h"
#include "installer_double_client.h"
#include "reliability_support.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

// What this process holds, as the soak measures it: its handles, its private
// bytes, and the bytes of all blocks in use in its heaps (the module's
// private heaps among them: finer than private bytes, which grow a heap
// region at a time). Where the platform reports 0 handles or private bytes,
// which no running process has, they are counted directly: the process's
// entries in the system's handle table, and the committed private regions
// of its address space.
struct ProcessUsage {
  DWORD handles = 0;
  SIZE_T privateBytes = 0;
  SIZE_T heapBytesInUse = 0;
};

// The system's handle table as NtQuerySystemInformation gives it.
constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr std::size_t kMaxTableBytes = 64u << 20;

struct HandleEntry {
  ULONG processId;
  UCHAR objectType;
  UCHAR flags;
  USHORT handle;
  void* object;
  ACCESS_MASK access;
};

struct HandleTable {
  ULONG_PTR count;  // a ULONG, padded to the entries' alignment
  HandleEntry entries[1];
};

using QuerySystemInformation = LONG(NTAPI*)(ULONG, void*, ULONG, ULONG*);

DWORD CountHandleTableEntries() {
  const FARPROC found = ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
  if (found == nullptr) return 0;
  const auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void (*)()>(found));
  std::vector<unsigned char> buffer(256 * 1024);
  for (;;) {
    ULONG length = 0;
    const LONG status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &length);
    if (status == kInfoLengthMismatch && buffer.size() < kMaxTableBytes) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (status != 0) return 0;
    break;
  }
  const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
  const std::size_t room = (buffer.size() - offsetof(HandleTable, entries)) / sizeof(HandleEntry);
  const std::size_t count = static_cast<ULONG>(table->count) < room ? static_cast<ULONG>(table->count) : room;
  const DWORD self = ::GetCurrentProcessId();
  DWORD mine = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (table->entries[i].processId == self) ++mine;
  }
  return mine;
}

SIZE_T CountCommittedPrivateBytes() {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION region = {};
  const char* at = nullptr;
  while (::VirtualQuery(at, &region, sizeof(region)) == sizeof(region)) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= at) break;  // the top of the address space
    at = next;
  }
  return total;
}

SIZE_T CountHeapBytesInUse() {
  HANDLE heaps[256];
  const DWORD count = ::GetProcessHeaps(256, heaps);
  if (count == 0 || count > 256) return 0;
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

ProcessUsage MeasureProcessUsage() {
  ProcessUsage usage;
  if (!::GetProcessHandleCount(::GetCurrentProcess(), &usage.handles) || usage.handles == 0) {
    usage.handles = CountHandleTableEntries();
  }
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof(counters);
  if (::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof(counters))) {
    usage.privateBytes = counters.PrivateUsage;
  }
  if (usage.privateBytes == 0) usage.privateBytes = CountCommittedPrivateBytes();
  usage.heapBytesInUse = CountHeapBytesInUse();
  return usage;
}

constexpr int kChecks = 200;
// The first checks load and warm up what the platform's libraries keep for
// the process (module data, registry and COM caches, heap regions): the
// measured run starts after them.
constexpr int kWarmUpChecks = 20;
constexpr DWORD kFreshTimeoutMs = 10000;
// Well inside CTest's limit, with the host's own bounded end after it.
constexpr DWORD kSoakTimeoutMs = 100000;

// Slack over the measured 180 checks. Measured here, all three stay flat to
// the byte once warmed up; the slack leaves room for what the platform may
// still take on its own: a handle or two it caches (a registry key, a pool
// thread), one more region of a heap (64 KiB, the step in which private bytes
// grow) and a few small blocks. A leak of one handle per check adds 180
// handles; one of 25 bytes per check passes the heap slack, and one of a few
// hundred bytes the private bytes' slack.
constexpr long kHandleSlack = 2;
constexpr long long kPrivateBytesSlack = 64 * 1024;
constexpr long long kHeapBytesSlack = 4 * 1024;

template <typename Count>
long long Growth(Count from, Count to) {
  return static_cast<long long>(to) - static_cast<long long>(from);
}

// What the host thread did; read by the test after the thread ended.
struct SoakRun {
  std::string product;
  int completed = 0;
  int failedPuts = 0;
  int stale = -1;           // the first check after which the rendezvous stayed
  int pastTimeKept = -1;    // the first check that left a due NextUpdateTime in place
  ProcessUsage warm, end;
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
  EXPECT_LE(Growth(run.warm.handles, run.end.handles), kHandleSlack)
      << "handles after warm-up " << run.warm.handles << ", at the end " << run.end.handles;
  EXPECT_LE(Growth(run.warm.privateBytes, run.end.privateBytes), kPrivateBytesSlack)
      << "private bytes after warm-up " << run.warm.privateBytes << ", at the end " << run.end.privateBytes;
  EXPECT_LE(Growth(run.warm.heapBytesInUse, run.end.heapBytesInUse), kHeapBytesSlack)
      << "heap bytes in use after warm-up " << run.warm.heapBytesInUse << ", at the end " << run.end.heapBytesInUse;
}

}  // namespace
}  // namespace orvex::test
