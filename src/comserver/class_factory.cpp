#include "class_factory.h"

#include <new>

#include "interface_table.h"

namespace orvex {

namespace {

// The object the class table caches holds one reference that does not lock
// the module; the first client reference takes exactly one module lock, the
// last client release gives it back.
class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(InstanceCreator creator) : instanceCreator_(creator) {
    ::InitializeCriticalSection(&objectLock_);
    ::InitializeCriticalSection(&referenceLock_);
  }
  ~ClassFactory() {
    ::DeleteCriticalSection(&objectLock_);
    ::DeleteCriticalSection(&referenceLock_);
  }
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return FindInterface(this, kInterfaces, iid, out);
  }

  ULONG STDMETHODCALLTYPE AddRef() override {
    ::EnterCriticalSection(&referenceLock_);
    const LONG count = ::InterlockedIncrement(&referenceCount_);
    if (count == 2) ::InterlockedIncrement(&CurrentModule()->lockCount);
    ::LeaveCriticalSection(&referenceLock_);
    return static_cast<ULONG>(count);
  }

  ULONG STDMETHODCALLTYPE Release() override {
    ::EnterCriticalSection(&referenceLock_);
    const LONG count = ::InterlockedDecrement(&referenceCount_);
    ::LeaveCriticalSection(&referenceLock_);
    if (count == 0) {
      this->~ClassFactory();
      ModuleFree(this);
    } else if (count == 1) {
      ::InterlockedDecrement(&CurrentModule()->lockCount);
    }
    return static_cast<ULONG>(count);
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr && !::IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return instanceCreator_(outer, iid, out);
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ::InterlockedIncrement(&CurrentModule()->lockCount);
    } else {
      ::InterlockedDecrement(&CurrentModule()->lockCount);
    }
    return S_OK;
  }

 private:
  static const InterfaceTableEntry kInterfaces[];

  volatile LONG referenceCount_ = 0;
  CRITICAL_SECTION objectLock_;
  InstanceCreator instanceCreator_;
  CRITICAL_SECTION referenceLock_;
};

const InterfaceTableEntry ClassFactory::kInterfaces[] = {
    {&IID_IClassFactory, 0, OffsetResolver},
    {nullptr, 0, nullptr},
};

}  // namespace

HRESULT CreateClassFactory(InstanceCreator instanceCreator, REFIID iid, void** out) {
  void* memory = ModuleAlloc(sizeof(ClassFactory));
  if (memory == nullptr) return E_OUTOFMEMORY;
  auto* factory = new (memory) ClassFactory(instanceCreator);
  const HRESULT result = factory->QueryInterface(iid, out);
  if (FAILED(result)) {
    factory->~ClassFactory();
    ModuleFree(memory);
  }
  return result;
}

}  // namespace orvex
