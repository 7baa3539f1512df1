// The module's state, class object, lock counting, heaps and interface
// lookup, in this process through the module's own library.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <cstring>
#include <string>

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

TEST_F(Module, ClientReferencesToTheClassObjectHoldOneLock) {
  EXPECT_EQ(ModuleCanUnloadNow(), S_OK);
  IClassFactory* first = ClassObject();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Locks(), 1);
  EXPECT_EQ(ModuleCanUnloadNow(), S_FALSE);
  IClassFactory* second = ClassObject();
  EXPECT_EQ(second, first) << "one class object per process";
  EXPECT_EQ(Locks(), 1) << "two client references, still one lock";
  second->Release();
  EXPECT_EQ(Locks(), 1);
  first->Release();
  EXPECT_EQ(Locks(), 0);
  EXPECT_EQ(ModuleCanUnloadNow(), S_OK);
}

TEST_F(Module, RequestsThatFailLeaveNoLockAndNoObject) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(ModuleGetClassObject(CLSID_OrvexInstallerCtl, IID_IDispatch, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(Locks(), 0);
  IUnknown* cached = ControlClassTable()[0].cachedClassObject;
  ASSERT_NE(cached, nullptr) << "the class object stays cached";
  IClassFactory* factory = ClassObject();
  EXPECT_EQ(static_cast<IUnknown*>(factory), cached);
  factory->Release();

  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(ModuleGetClassObject(IID_IDispatch, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(ModuleGetClassObject(CLSID_OrvexInstallerCtl, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(Module, LockServerCountsEachLock) {
  IClassFactory* factory = ClassObject();
  factory->LockServer(TRUE);
  factory->LockServer(TRUE);
  factory->Release();
  EXPECT_EQ(Locks(), 2);
  EXPECT_EQ(ModuleCanUnloadNow(), S_FALSE);
  IClassFactory* again = ClassObject();
  again->LockServer(FALSE);
  again->Release();
  EXPECT_EQ(ModuleCanUnloadNow(), S_FALSE) << "one lock is left";
  again = ClassObject();
  again->LockServer(FALSE);
  again->Release();
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

TEST_F(Module, CreateInstanceAndAggregation) {
  IClassFactory* factory = ClassObject();
  Outer outer;
  IUnknown* inner = nullptr;
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);

  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
  EXPECT_EQ(Locks(), 2) << "the class object's and the control's";
  IUnknown* identity = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, inner) << "the non-delegating IUnknown answers for itself";
  identity->Release();
  EXPECT_EQ(outer.count, 1) << "the inner object's count is its own";
  inner->Release();
  EXPECT_EQ(Locks(), 1);

  IUnknown* alone = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&alone)), S_OK);
  EXPECT_EQ(Locks(), 2);
  alone->Release();
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(Locks(), 1) << "an object whose query failed is gone";
  factory->Release();
}

// Blocks from the module's heaps, whichever heap each comes from, keep their
// bytes when grown and go back where they came from.
TEST_F(Module, HeapBlocksKeepTheirBytesWhenGrown) {
  void* blocks[5];
  for (int i = 0; i < 5; ++i) {
    blocks[i] = ModuleAlloc(24);
    ASSERT_NE(blocks[i], nullptr);
    std::memset(blocks[i], 'a' + i, 24);
  }
  for (int i = 0; i < 5; ++i) {
    void* grown = ModuleRealloc(blocks[i], 100000);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(std::string(static_cast<char*>(grown), 24), std::string(24, static_cast<char>('a' + i)));
    blocks[i] = grown;
  }
  for (void* block : blocks) ModuleFree(block);
  ModuleFree(nullptr);
}

// Resolvers for a table of every kind of row.
HRESULT Declines(void*, REFIID, void**, DWORD) { return S_FALSE; }
HRESULT Fails(void*, REFIID, void**, DWORD value) { return static_cast<HRESULT>(value); }

TEST(InterfaceTable, RowsAreTriedInOrder) {
  // The object's first interface lies at offset 0: the object is its own IUnknown.
  Outer object;
  const IID kNamedFailing = IID_IDispatch;
  const InterfaceTableEntry table[] = {
      {&IID_IClassFactory, 0, OffsetResolver},
      {nullptr, 0, Declines},  // tried for every request, goes on
      {&kNamedFailing, static_cast<DWORD>(E_ACCESSDENIED), Fails},
      {nullptr, 0, nullptr},
  };
  void* out = nullptr;
  EXPECT_EQ(FindInterface(&object, table, IID_IUnknown, &out), S_OK);
  EXPECT_EQ(out, &object);
  EXPECT_EQ(object.count, 2) << "a reference was added";
  EXPECT_EQ(FindInterface(&object, table, IID_IClassFactory, &out), S_OK);
  EXPECT_EQ(FindInterface(&object, table, IID_IDispatch, &out), E_ACCESSDENIED);
  EXPECT_EQ(FindInterface(&object, table, IID_IStream, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(FindInterface(&object, table, IID_IStream, nullptr), E_POINTER);
}

DWORD WINAPI PopOnAnotherThread(void*) { return PopPendingWindow() == nullptr ? 0 : 1; }

TEST_F(Module, PendingWindowsAreMatchedToTheirThread) {
  PendingWindow first = {};
  PendingWindow second = {};
  int a = 1;
  int b = 2;
  PushPendingWindow(&first, &a);
  PushPendingWindow(&second, &b);
  EXPECT_EQ(PopPendingWindow(), &b) << "newest first";
  HANDLE other = ::CreateThread(nullptr, 0, PopOnAnotherThread, nullptr, 0, nullptr);
  DWORD otherFound = 1;
  ::WaitForSingleObject(other, 5000);
  ::GetExitCodeThread(other, &otherFound);
  ::CloseHandle(other);
  EXPECT_EQ(otherFound, 0u) << "another thread's pop finds nothing of this thread";
  EXPECT_EQ(PopPendingWindow(), &a);
  EXPECT_EQ(PopPendingWindow(), nullptr);
}

}  // namespace
}  // namespace orvex
