// Many due update checks through the control in one host process: each starts
// the installer (here the double) and leaves nothing behind, neither in the
// host process (handles, private memory, heap blocks) nor among the named
// objects.
#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>

#include <cstddef>
#include <iterator>
#include <string>
#include <vector>

#include "installer_double_client.h"
#include "reliability_support.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

constexpr int kChecks = 200;
// The first checks warm up what the platform's libraries keep for the process
// (module data, registry and COM caches, heap regions); the measures start after.
constexpr int kWarmUpChecks = 20;
constexpr int kMidpoint = (kWarmUpChecks + kChecks) / 2;
constexpr DWORD kFreshTimeoutMs = 10000;
constexpr DWORD kSoakTimeoutMs = 100000;  // well inside CTest's limit

struct Usage {
  long long handles = 0;
  long long privateBytes = 0;
  long long heapBytes = 0;  // the busy blocks of every heap of the process
};

// Each measure with its slack over the 180 measured checks. All three stay flat
// to the byte once warmed up; the slack leaves room for a handle or two the
// platform caches, one more heap region (64 KiB, the step in which private
// bytes grow) and a few small blocks. A leak of one handle, 25 heap bytes or a
// few hundred private bytes per check passes it, over the run or its second half.
struct Measure {
  const char* name;
  long long Usage::*of;
  long long slack;
};
constexpr Measure kMeasures[] = {
    {"handles", &Usage::handles, 2},
    {"private bytes", &Usage::privateBytes, 64 * 1024},
    {"heap bytes in use", &Usage::heapBytes, 4 * 1024},
};

// The system's handle table as NtQuerySystemInformation (class 16) gives it:
// a count (a ULONG, padded to the entries' alignment), then the entries.
struct HandleEntry {
  ULONG processId;
  UCHAR objectType, flags;
  USHORT handle;
  void* object;
  ACCESS_MASK access;
};
struct HandleTable {
  ULONG_PTR count;
  HandleEntry entries[1];
};
using QuerySystemInformation = LONG(NTAPI*)(ULONG, void*, ULONG, ULONG*);
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);

// This process's entries in the system's handle table; 0 when it cannot be read.
long long CountHandleTableEntries() {
  const FARPROC found = ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
  if (found == nullptr) return 0;
  const auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void (*)()>(found));
  std::vector<unsigned char> buffer(256 * 1024);
  ULONG length = 0;
  LONG status = 0;
  while ((status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &length)) == kInfoLengthMismatch &&
         buffer.size() < (64u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (status != 0) return 0;
  const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
  const std::size_t room = (buffer.size() - offsetof(HandleTable, entries)) / sizeof(HandleEntry);
  long long mine = 0;
  for (std::size_t i = 0; i < room && i < static_cast<ULONG>(table->count); ++i) {
    if (table->entries[i].processId == ::GetCurrentProcessId()) ++mine;
  }
  return mine;
}

long long CountCommittedPrivateBytes() {
  long long total = 0;
  MEMORY_BASIC_INFORMATION region = {};
  const char* at = nullptr;
  while (::VirtualQuery(at, &region, sizeof(region)) == sizeof(region)) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += static_cast<long long>(region.RegionSize);
    const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= at) break;  // the top of the address space
    at = next;
  }
  return total;
}

// Finer than private bytes, which grow a heap region at a time; the module's
// private heaps are among the process's heaps.
long long CountHeapBytesInUse() {
  HANDLE heaps[256];
  const DWORD count = ::GetProcessHeaps(256, heaps);
  if (count == 0 || count > 256) return 0;
  long long total = 0;
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

// The platform's own figures (GetProcessHandleCount, PrivateUsage), or where it
// reports 0, which no running process has, the same quantity counted directly.
Usage MeasureUsage() {
  Usage usage;
  DWORD handles = 0;
  usage.handles = ::GetProcessHandleCount(::GetCurrentProcess(), &handles) && handles != 0
                      ? static_cast<long long>(handles)
                      : CountHandleTableEntries();
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof(counters);
  if (::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof(counters))) {
    usage.privateBytes = static_cast<long long>(counters.PrivateUsage);
  }
  if (usage.privateBytes == 0) usage.privateBytes = CountCommittedPrivateBytes();
  usage.heapBytes = CountHeapBytesInUse();
  return usage;
}

// What the host thread did; read by the test after the thread ended.
struct SoakRun {
  std::string product;
  int completed = 0;
  int failedPuts = 0;
  int pastTimeKept = -1;  // the first check that left a due NextUpdateTime in place
  Usage warm, middle, end;
};

void RunSoak(ControlHost& host, void* context) {
  auto& run = *static_cast<SoakRun*>(context);
  const std::wstring info(run.product.begin(), run.product.end());
  for (int check = 1; check <= kChecks; ++check) {
    // Due either way: no NextUpdateTime, or one that has passed (the check deletes it).
    const bool pastTime = check % 4 == 0;
    if (pastTime) {
      SetNextUpdateTime(run.product, NowAsFileTime() - kFileTimeTicksPerDay);
    } else {
      DeleteMachineKey(DownloadsKeyPath(run.product));
    }
    if (host.SetInfo(info) != S_OK) ++run.failedPuts;
    if (pastTime && HasNextUpdateTime(run.product) && run.pastTimeKept < 0) run.pastTimeKept = check;
    // The check returned after "sync_"; the installer releases its side next.
    if (!WaitRendezvousGone(run.product, kFreshTimeoutMs)) break;
    run.completed = check;
    if (check == kWarmUpChecks) run.warm = MeasureUsage();
    if (check == kMidpoint) run.middle = MeasureUsage();
  }
  run.end = MeasureUsage();
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
  ASSERT_TRUE(WaitRendezvousGone(kProduct, 0));

  SoakRun run;
  run.product = kProduct;
  ControlHost::Plan plan;
  plan.body = RunSoak;
  plan.context = &run;
  ControlHost host(plan);
  ASSERT_TRUE(ReturnedWith(ReportOf(host, kSoakTimeoutMs), {})) << run.completed << " checks completed";
  ASSERT_EQ(run.completed, kChecks) << "the rendezvous outlived check " << run.completed + 1;
  EXPECT_EQ(run.failedPuts, 0);
  EXPECT_EQ(host.CanUnloadAtEnd(), S_OK) << "the module is still in use after every control went";
  EXPECT_EQ(run.pastTimeKept, -1) << "a due NextUpdateTime was kept by check " << run.pastTimeKept;
  DoubleRecord record;
  ASSERT_TRUE(ReadDoubleRecord(kProduct, record));
  EXPECT_EQ(record.runs, static_cast<DWORD>(kChecks)) << "every check was due and started the installer once";

  for (const Measure& m : kMeasures) {
    SCOPED_TRACE(m.name);
    const long long warm = run.warm.*m.of, middle = run.middle.*m.of, end = run.end.*m.of;
    ASSERT_GT(warm, 0) << "the platform does not tell it";
    EXPECT_LE(end - warm, m.slack) << "after warm-up " << warm << ", midway " << middle << ", at the end " << end;
    // A steady leak grows the second half of the run as it grew the first.
    EXPECT_LE(end - middle, m.slack / 2) << "midway " << middle << ", at the end " << end;
  }
}

// The measures must move when a process does leak what they guard against, or
// the soak could not fail.
TEST_F(Soak, TheMeasuresSeeALeakOfTheSizeTheyGuardAgainst) {
  constexpr int kLeaks = kChecks - kWarmUpChecks;
  constexpr SIZE_T kBlockBytes = 1536;
  const Usage before = MeasureUsage();
  std::vector<UniqueHandle> events;
  std::vector<void*> blocks;
  for (int i = 0; i < kLeaks; ++i) {
    events.emplace_back(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    blocks.push_back(::HeapAlloc(::GetProcessHeap(), 0, kBlockBytes));
    if (blocks.back() != nullptr) ::FillMemory(blocks.back(), kBlockBytes, 0x5A);
  }
  const Usage after = MeasureUsage();
  for (void* block : blocks) ::HeapFree(::GetProcessHeap(), 0, block);

  // The least each measure must count: every handle and every block leaked.
  const long long leaked[] = {kLeaks, 0, kLeaks * static_cast<long long>(kBlockBytes)};
  for (std::size_t i = 0; i < std::size(kMeasures); ++i) {
    const Measure& m = kMeasures[i];
    SCOPED_TRACE(m.name);
    EXPECT_GT(after.*m.of - before.*m.of, m.slack) << "before " << before.*m.of << ", after " << after.*m.of;
    EXPECT_GE(after.*m.of - before.*m.of, leaked[i]);
  }
}

}  // namespace
}  // namespace orvex::test
