#include "orvex_installer_ctl.h"

#include <new>

#include "server_module.h"

namespace orvex {

namespace {

// The object's identity. It answers IUnknown for now; the control's own
// interfaces join its table as they come.
class OrvexInstallerCtl final : public IUnknown {
 public:
  explicit OrvexInstallerCtl(IUnknown* outer) : controlling_(outer != nullptr ? outer : &inner_), inner_(this) {
    ::InterlockedIncrement(&CurrentModule()->lockCount);
  }
  ~OrvexInstallerCtl() { ::InterlockedDecrement(&CurrentModule()->lockCount); }
  OrvexInstallerCtl(const OrvexInstallerCtl&) = delete;
  OrvexInstallerCtl& operator=(const OrvexInstallerCtl&) = delete;

  // Delegating: to the outer object when aggregated, else to the inner one.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return controlling_->QueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return controlling_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return controlling_->Release(); }

  IUnknown* NonDelegating() { return &inner_; }

 private:
  // The non-delegating IUnknown: the object's own reference count.
  class Inner final : public IUnknown {
   public:
    explicit Inner(OrvexInstallerCtl* owner) : owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
      if (out == nullptr) return E_POINTER;
      *out = nullptr;
      if (!::IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;
      AddRef();
      *out = static_cast<IUnknown*>(this);
      return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&count_)); }
    ULONG STDMETHODCALLTYPE Release() override {
      const LONG count = ::InterlockedDecrement(&count_);
      if (count == 0) {
        OrvexInstallerCtl* owner = owner_;
        owner->~OrvexInstallerCtl();
        ModuleFree(owner);
      }
      return static_cast<ULONG>(count);
    }

   private:
    OrvexInstallerCtl* owner_;
    volatile LONG count_ = 0;
  };

  IUnknown* controlling_;
  Inner inner_;
};

}  // namespace

HRESULT CreateOrvexInstallerCtl(IUnknown* outer, REFIID iid, void** out) {
  void* memory = ModuleAlloc(sizeof(OrvexInstallerCtl));
  if (memory == nullptr) return E_OUTOFMEMORY;
  auto* control = new (memory) OrvexInstallerCtl(outer);
  IUnknown* inner = control->NonDelegating();
  inner->AddRef();
  const HRESULT result = inner->QueryInterface(iid, out);
  inner->Release();  // a failed query destroys the object here
  return result;
}

}  // namespace orvex
