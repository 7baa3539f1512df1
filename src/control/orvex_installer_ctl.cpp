#include "orvex_installer_ctl.h"

#include <new>

#include <objsafe.h>

#include "control_persistence.h"
#include "install_check.h"
#include "interface_table.h"
#include "orvex_installer_h.h"
#include "server_module.h"
#include "type_info_holder.h"

namespace orvex {

namespace {

constexpr LONG kDefaultExtent = 5080;  // HIMETRIC: two inches
constexpr DWORD kSafetyOptions = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;

// The control object. Its identity is the non-delegating IUnknown; its
// interfaces delegate to the controlling object (the outer one when
// aggregated). The control site protocol's interfaces join its table as
// they come.
class OrvexInstallerCtl final : public IOrvexInstallerCtl,
                                public IPersistStreamInit,
                                public IObjectSafety,
                                public IPersistPropertyBag,
                                public IOleControl {
 public:
  explicit OrvexInstallerCtl(IUnknown* outer) : controlling_(outer != nullptr ? outer : &inner_), inner_(this) {
    ::InterlockedIncrement(&CurrentModule()->lockCount);
  }
  ~OrvexInstallerCtl() {
    ::SysFreeString(infoValue_);
    ::InterlockedDecrement(&CurrentModule()->lockCount);
  }
  OrvexInstallerCtl(const OrvexInstallerCtl&) = delete;
  OrvexInstallerCtl& operator=(const OrvexInstallerCtl&) = delete;

  IUnknown* NonDelegating() { return &inner_; }

  // IUnknown, delegating.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return controlling_->QueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return controlling_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return controlling_->Release(); }

  // IDispatch, served from the registered type library.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID locale, ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    ITypeInfo* loaded = nullptr;
    const HRESULT result = ControlTypeInfo(locale, &loaded);
    if (FAILED(result)) return result;
    loaded->AddRef();
    *info = loaded;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override {
    return ControlIdsOfNames(names, count, locale, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID locale, WORD flags, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override {
    ITypeInfo* info = nullptr;
    const HRESULT loaded = ControlTypeInfo(locale, &info);
    if (FAILED(loaded)) return loaded;
    return info->Invoke(static_cast<IOrvexInstallerCtl*>(this), member, flags, parameters, result, exception,
                        argumentError);
  }

  // IPersistStreamInit, IPersistPropertyBag (IPersist through the stream one).
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* classId) override {
    if (classId == nullptr) return E_POINTER;
    *classId = CLSID_OrvexInstallerCtl;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }  // nothing marks the control dirty
  HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InitNew() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Load(IStream* stream) override {
    return LoadProperties(stream, extent_, static_cast<IOrvexInstallerCtl*>(this));
  }
  HRESULT STDMETHODCALLTYPE Save(IStream* stream, BOOL) override { return SaveProperties(stream, extent_, infoValue_); }
  HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override {
    return LoadProperties(bag, log, extent_, static_cast<IOrvexInstallerCtl*>(this));
  }
  HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL, BOOL) override {
    return SaveProperties(bag, extent_, infoValue_);
  }

  // IObjectSafety: one set of options for the whole object.
  HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) override {
    if (supported == nullptr || enabled == nullptr) return E_POINTER;
    *supported = 0;
    *enabled = 0;
    IUnknown* face = nullptr;
    const HRESULT exposed = QueryInterface(iid, reinterpret_cast<void**>(&face));
    if (FAILED(exposed)) return exposed;
    face->Release();
    *supported = kSafetyOptions;
    *enabled = safetyOptions_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) override {
    IUnknown* face = nullptr;
    if (FAILED(QueryInterface(iid, reinterpret_cast<void**>(&face)))) return E_NOINTERFACE;
    face->Release();
    if ((mask & ~kSafetyOptions) != 0) return E_FAIL;
    safetyOptions_ = (safetyOptions_ & ~mask) | (enabled & mask);
    return S_OK;
  }

  // IOleControl: the control has no mnemonics and fires no events.
  HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnMnemonic(MSG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL freeze) override {
    freezeCount_ += freeze ? 1 : -1;
    return S_OK;
  }

  // IOrvexInstallerCtl.
  HRESULT STDMETHODCALLTYPE get_Info(BSTR* value) override {
    if (value == nullptr) return E_POINTER;
    *value = ::SysAllocString(infoValue_);  // null when never set
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Info(BSTR value) override {
    ::SysFreeString(infoValue_);
    infoValue_ = ::SysAllocString(value);  // up to the first NUL; null stays null
    RunInstallCheck(infoValue_);
    return S_OK;
  }

 private:
  // The install check on the ANSI text of Info, in a buffer of twice its
  // length plus 2 bytes; an empty text for a null value.
  static void RunInstallCheck(const wchar_t* info) {
    if (info == nullptr) {
      InstallCheck("");
      return;
    }
    const int length = ::lstrlenW(info);
    const int size = 2 * length + 2;
    auto* text = static_cast<char*>(ModuleAlloc(static_cast<SIZE_T>(size)));
    if (text == nullptr) return;
    if (::WideCharToMultiByte(CP_ACP, 0, info, -1, text, size, nullptr, nullptr) == 0) text[0] = '\0';
    InstallCheck(text);
    ModuleFree(text);
  }

  HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (::IsEqualIID(iid, IID_IUnknown)) {
      inner_.AddRef();
      *out = static_cast<IUnknown*>(&inner_);
      return S_OK;
    }
    return FindInterface(this, kInterfaces, iid, out);
  }

  // The non-delegating IUnknown: the object's own reference count.
  class Inner final : public IUnknown {
   public:
    explicit Inner(OrvexInstallerCtl* owner) : owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
      return owner_->NonDelegatingQueryInterface(iid, out);
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

  template <typename Interface>
  static HRESULT Resolve(void* object, REFIID, void** out, DWORD) {
    Interface* face = static_cast<OrvexInstallerCtl*>(object);
    face->AddRef();
    *out = face;
    return S_OK;
  }

  static const InterfaceTableEntry kInterfaces[];

  IUnknown* controlling_;
  Inner inner_;
  LONG freezeCount_ = 0;
  DWORD safetyOptions_ = 0;
  BSTR infoValue_ = nullptr;
  SIZEL extent_ = {kDefaultExtent, kDefaultExtent};
};

// In the order of lookup.
const InterfaceTableEntry OrvexInstallerCtl::kInterfaces[] = {
    {&IID_IOrvexInstallerCtl, 0, OffsetResolver},
    {&IID_IDispatch, 0, OffsetResolver},
    {&IID_IOleControl, 0, Resolve<IOleControl>},
    {&IID_IPersistStreamInit, 0, Resolve<IPersistStreamInit>},
    {&IID_IPersist, 0, Resolve<IPersistStreamInit>},
    {&IID_IObjectSafety, 0, Resolve<IObjectSafety>},
    {&IID_IPersistPropertyBag, 0, Resolve<IPersistPropertyBag>},
    {nullptr, 0, nullptr},
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
