#include "process_usage.h"

#include <psapi.h>

#include <cstddef>
#include <vector>

namespace orvex::test {

namespace {

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

}  // namespace

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

}  // namespace orvex::test
