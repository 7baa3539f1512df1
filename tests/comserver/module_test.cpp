// The module's class object, lock counting and interface lookup, in this
// process through the module's own library.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include "class_table.h"
#include "interface_table.h"
#include "module_exports.h"
#include "server_module.h"

namespace orvex {
namespace {

class Module : public ::testing::Test {
 protected:
  void SetUp() override { StartModule(ControlClassTable(), ::GetModuleHandleA(nullptr)); }
  void TearDown() override { StopModule(); }
  static LONG Locks() { return CurrentModule()->lockCount; }
  static IClassFactory* ClassObject() {
    IClassFactory* factory = nullptr;
    EXPECT_EQ(ModuleGetClassObject(CLSID_OrvexInstallerCtl, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              S_OK);
    return factory;
  }
};

// Client references to the class object hold one lock, and each LockServer(TRUE)
// one more, until released; the module may unload only without locks.
TEST_F(Module, ClassObjectReferencesAndServerLocksHoldTheModule) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(ModuleGetClassObject(IID_IDispatch, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(ModuleCanUnloadNow(), S_OK);
  IClassFactory* first = ClassObject();
  ASSERT_NE(first, nullptr);
  IClassFactory* second = ClassObject();
  EXPECT_EQ(second, first) << "one class object per process";
  EXPECT_EQ(Locks(), 1) << "two client references, one lock";
  EXPECT_EQ(ModuleCanUnloadNow(), S_FALSE);
  second->Release();
  EXPECT_EQ(Locks(), 1);
  first->LockServer(TRUE);
  first->LockServer(TRUE);
  first->Release();
  EXPECT_EQ(Locks(), 2);
  IClassFactory* again = ClassObject();
  again->LockServer(FALSE);
  again->Release();
  EXPECT_EQ(ModuleCanUnloadNow(), S_FALSE) << "one lock is left";
  again = ClassObject();
  again->LockServer(FALSE);
  again->Release();
  EXPECT_EQ(Locks(), 0);
  EXPECT_EQ(ModuleCanUnloadNow(), S_OK);
}

// An outer object for aggregation: it counts its own references.
class Outer final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++count); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--count); }
  LONG count = 1;
};

// Each control holds the module until it is destroyed; aggregated, it gives
// out only its own IUnknown.
TEST_F(Module, ControlsHoldTheModuleAndAggregateOnlyAsIUnknown) {
  IClassFactory* factory = ClassObject();
  Outer outer;
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  IUnknown* inner = nullptr;
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
  EXPECT_EQ(Locks(), 2) << "the class object's and the control's";
  IUnknown* identity = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, inner) << "the non-delegating IUnknown answers for itself";
  identity->Release();
  EXPECT_EQ(outer.count, 1) << "the inner object's count is its own";
  inner->Release();
  EXPECT_EQ(Locks(), 1);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(Locks(), 1) << "an object whose query failed is gone";
  factory->Release();
}

DWORD WINAPI PopOnAnotherThread(void*) { return PopPendingWindow() == nullptr ? 0 : 1; }

// A control whose window is being created is found by its own thread only.
TEST_F(Module, PendingWindowsAreMatchedToTheirThread) {
  PendingWindow first = {}, second = {};
  int a = 1, b = 2;
  PushPendingWindow(&first, &a);
  PushPendingWindow(&second, &b);
  EXPECT_EQ(PopPendingWindow(), &b) << "newest first";
  HANDLE other = ::CreateThread(nullptr, 0, PopOnAnotherThread, nullptr, 0, nullptr);
  DWORD otherFound = 1;
  ASSERT_EQ(::WaitForSingleObject(other, 30000), WAIT_OBJECT_0);
  ::GetExitCodeThread(other, &otherFound);
  ::CloseHandle(other);
  EXPECT_EQ(otherFound, 0u) << "another thread's pop finds nothing of this thread";
  EXPECT_EQ(PopPendingWindow(), &a);
  EXPECT_EQ(PopPendingWindow(), nullptr);
}

HRESULT Declines(void*, REFIID, void**, DWORD) { return S_FALSE; }
HRESULT Fails(void*, REFIID, void**, DWORD value) { return static_cast<HRESULT>(value); }

// Rows are tried in order: one that declines lets the search go on, one that
// fails ends it with its error.
TEST(InterfaceTable, RowsAreTriedInOrder) {
  Outer object;  // its first interface lies at offset 0: the object is its own IUnknown
  const InterfaceTableEntry table[] = {
      {&IID_IClassFactory, 0, OffsetResolver},
      {nullptr, 0, Declines},
      {&IID_IDispatch, static_cast<DWORD>(E_ACCESSDENIED), Fails},
      {nullptr, 0, nullptr},
  };
  void* out = nullptr;
  EXPECT_EQ(FindInterface(&object, table, IID_IUnknown, &out), S_OK);
  EXPECT_EQ(out, &object);
  EXPECT_EQ(object.count, 2) << "a reference was added";
  EXPECT_EQ(FindInterface(&object, table, IID_IDispatch, &out), E_ACCESSDENIED);
  EXPECT_EQ(FindInterface(&object, table, IID_IStream, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
}

}  // namespace
}  // namespace orvex
