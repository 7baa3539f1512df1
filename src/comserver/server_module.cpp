#include "server_module.h"

namespace orvex {

namespace {

// The module's one state record; plain data, initialised by StartModule and
// never by a constructor (the module has no language-runtime start-up).
ServerModule module;
ServerModule* currentModule = nullptr;

// Every block drawn from the rotating heaps carries this header.
constexpr SIZE_T kBlockHeader = 8;

void CreateHeaps(ServerModule& m) {
  m.baseHeap = ::HeapCreate(0, 0, 0);
  m.heaps = nullptr;
  m.heapMask = 0;
  m.heapCounter = 0;
  SYSTEM_INFO system;
  ::GetSystemInfo(&system);
  const DWORD mask = HeapMaskForProcessors(system.dwNumberOfProcessors);
  if (mask == 0 || m.baseHeap == nullptr) return;
  auto* heaps = static_cast<HANDLE*>(::HeapAlloc(m.baseHeap, HEAP_ZERO_MEMORY, (mask + 1) * sizeof(HANDLE)));
  if (heaps == nullptr) return;  // one heap serves, without headers
  for (DWORD i = 0; i <= mask; ++i) {
    heaps[i] = ::HeapCreate(0, 0, 0);
    if (heaps[i] == nullptr) {
      // Without a full set, fall back to the base heap alone.
      for (DWORD j = 0; j < i; ++j) ::HeapDestroy(heaps[j]);
      ::HeapFree(m.baseHeap, 0, heaps);
      return;
    }
  }
  m.heaps = heaps;
  m.heapMask = mask;
}

}  // namespace

ServerModule* CurrentModule() { return currentModule; }

DWORD HeapMaskForProcessors(DWORD processors) {
  if (processors <= 1) return 0;
  // All 32 bits set, shifted right once per leading zero bit of 2n, then once more.
  DWORD mask = 0xFFFFFFFFu;
  const DWORD doubled = processors * 2;
  for (int bit = 31; bit >= 0 && (doubled & (1u << bit)) == 0; --bit) mask >>= 1;
  return mask >> 1;
}

HRESULT StartModule(ClassTableEntry* classTable, HINSTANCE instance) {
  currentModule = &module;
  module.instance = instance;
  module.classTable = classTable;
  module.lockCount = 0;
  ::InitializeCriticalSection(&module.typeInfoLock);
  ::InitializeCriticalSection(&module.windowCreateLock);
  ::InitializeCriticalSection(&module.classTableLock);
  module.pendingWindows = nullptr;
  module.stopCallbacks = nullptr;
  for (ClassTableEntry* entry = classTable; entry != nullptr && entry->classId != nullptr; ++entry) {
    if (entry->startStopHook != nullptr) entry->startStopHook(true);
  }
  CreateHeaps(module);
  return S_OK;
}

void StopModule() {
  for (ClassTableEntry* entry = module.classTable; entry != nullptr && entry->classId != nullptr; ++entry) {
    if (entry->cachedClassObject != nullptr) {
      entry->cachedClassObject->Release();
      entry->cachedClassObject = nullptr;
    }
    if (entry->startStopHook != nullptr) entry->startStopHook(false);
  }
  ::DeleteCriticalSection(&module.typeInfoLock);
  ::DeleteCriticalSection(&module.windowCreateLock);
  ::DeleteCriticalSection(&module.classTableLock);
  while (module.stopCallbacks != nullptr) {
    StopCallback* callback = module.stopCallbacks;
    module.stopCallbacks = callback->next;
    callback->function(callback->argument);
    ModuleFree(callback);
  }
  if (module.heaps != nullptr) {
    for (DWORD i = 0; i <= module.heapMask; ++i) ::HeapDestroy(module.heaps[i]);
  }
  if (module.baseHeap != nullptr) ::HeapDestroy(module.baseHeap);
  module.heaps = nullptr;
  module.heapMask = 0;
  module.baseHeap = nullptr;
  currentModule = nullptr;
}

void* ModuleAlloc(SIZE_T size) {
  if (module.heaps == nullptr) return ::HeapAlloc(module.baseHeap, 0, size);
  if (size > static_cast<SIZE_T>(-1) - kBlockHeader) return nullptr;
  HANDLE heap = module.heaps[module.heapCounter & module.heapMask];
  ++module.heapCounter;
  auto* header = static_cast<BYTE*>(::HeapAlloc(heap, 0, size + kBlockHeader));
  if (header == nullptr) return nullptr;
  *reinterpret_cast<HANDLE*>(header) = heap;
  return header + kBlockHeader;
}

void* ModuleRealloc(void* block, SIZE_T size) {
  if (block == nullptr) return ModuleAlloc(size);
  if (module.heaps == nullptr) return ::HeapReAlloc(module.baseHeap, 0, block, size);
  if (size > static_cast<SIZE_T>(-1) - kBlockHeader) return nullptr;
  BYTE* header = static_cast<BYTE*>(block) - kBlockHeader;
  HANDLE heap = *reinterpret_cast<HANDLE*>(header);
  auto* moved = static_cast<BYTE*>(::HeapReAlloc(heap, 0, header, size + kBlockHeader));
  return moved != nullptr ? moved + kBlockHeader : nullptr;
}

void ModuleFree(void* block) {
  if (block == nullptr) return;
  if (module.heaps == nullptr) {
    ::HeapFree(module.baseHeap, 0, block);
    return;
  }
  BYTE* header = static_cast<BYTE*>(block) - kBlockHeader;
  ::HeapFree(*reinterpret_cast<HANDLE*>(header), 0, header);
}

HRESULT AddStopCallback(void (*function)(DWORD argument), DWORD argument) {
  auto* callback = static_cast<StopCallback*>(ModuleAlloc(sizeof(StopCallback)));
  if (callback == nullptr) return E_OUTOFMEMORY;
  callback->function = function;
  callback->argument = argument;
  ::EnterCriticalSection(&module.typeInfoLock);
  callback->next = module.stopCallbacks;
  module.stopCallbacks = callback;
  ::LeaveCriticalSection(&module.typeInfoLock);
  return S_OK;
}

void PushPendingWindow(PendingWindow* record, void* object) {
  record->object = object;
  record->threadId = ::GetCurrentThreadId();
  ::EnterCriticalSection(&module.windowCreateLock);
  record->next = module.pendingWindows;
  module.pendingWindows = record;
  ::LeaveCriticalSection(&module.windowCreateLock);
}

void* PopPendingWindow() {
  const DWORD thread = ::GetCurrentThreadId();
  void* object = nullptr;
  ::EnterCriticalSection(&module.windowCreateLock);
  for (PendingWindow** link = &module.pendingWindows; *link != nullptr; link = &(*link)->next) {
    if ((*link)->threadId == thread) {
      object = (*link)->object;
      *link = (*link)->next;
      break;
    }
  }
  ::LeaveCriticalSection(&module.windowCreateLock);
  return object;
}

bool WithdrawPendingWindow(PendingWindow* record) {
  bool withdrawn = false;
  ::EnterCriticalSection(&module.windowCreateLock);
  for (PendingWindow** link = &module.pendingWindows; *link != nullptr; link = &(*link)->next) {
    if (*link == record) {
      *link = record->next;
      withdrawn = true;
      break;
    }
  }
  ::LeaveCriticalSection(&module.windowCreateLock);
  return withdrawn;
}

}  // namespace orvex
