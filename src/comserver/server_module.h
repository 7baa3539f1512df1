// The control module's process-wide state: its class table, lock count,
// private heaps, the windows about to be created and the callbacks run when
// the module stops.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace orvex {

// Makes one instance of a class: (outer object, interface id, out pointer).
using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);

// A row of the class table; a null class id ends the table.
struct ClassTableEntry {
  const CLSID* classId;
  HRESULT (*scriptUpdater)(BOOL registerFlag);
  HRESULT (*classObjectCreator)(InstanceCreator instanceCreator, REFIID iid, void** out);
  InstanceCreator instanceCreator;
  IUnknown* cachedClassObject;
  const char* (*descriptionHook)();
  const void* (*categoryHook)();
  void (*startStopHook)(bool starting);
};

// A window about to be created, linked until its first message.
struct PendingWindow {
  void* object;
  DWORD threadId;
  PendingWindow* next;
};

// A callback that StopModule runs, newest first.
struct StopCallback {
  void (*function)(DWORD argument);
  DWORD argument;
  StopCallback* next;
};

struct ServerModule {
  HINSTANCE instance;
  ClassTableEntry* classTable;
  volatile LONG lockCount;
  HANDLE baseHeap;
  CRITICAL_SECTION typeInfoLock;
  CRITICAL_SECTION windowCreateLock;
  CRITICAL_SECTION classTableLock;
  PendingWindow* pendingWindows;
  DWORD heapMask;
  HANDLE* heaps;
  DWORD heapCounter;
  StopCallback* stopCallbacks;
};

// The module started last in this process (null before StartModule).
ServerModule* CurrentModule();

HRESULT StartModule(ClassTableEntry* classTable, HINSTANCE instance);
void StopModule();

// The module's allocator: blocks come from the module's private heaps.
void* ModuleAlloc(SIZE_T size);
void* ModuleRealloc(void* block, SIZE_T size);
void ModuleFree(void* block);

HRESULT AddStopCallback(void (*function)(DWORD argument), DWORD argument);
void PushPendingWindow(PendingWindow* record, void* object);
void* PopPendingWindow();
// Takes record back when no window took it (creation failed before its first
// message); false when it was taken already.
bool WithdrawPendingWindow(PendingWindow* record);

// Heap count minus one for a machine of this many processors (0 for one).
DWORD HeapMaskForProcessors(DWORD processors);

}  // namespace orvex
