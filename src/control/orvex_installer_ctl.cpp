#include "orvex_installer_ctl.h"

#include <new>

#include "allowed_pages.h"
#include "control_base.h"
#include "control_persistence.h"
#include "install_check.h"
#include "interface_table.h"
#include "orvex_installer_h.h"
#include "server_module.h"
#include "type_info_holder.h"

namespace orvex {

namespace {

// The control object. Its identity is the non-delegating IUnknown; its
// interfaces delegate to the controlling object (the outer one when
// aggregated). The OLE control protocol comes from the control base; the
// control draws nothing.
class OrvexInstallerCtl final : public IOrvexInstallerCtl,
                                public ControlBase,
                                public IPersistStreamInit,
                                public IPersistPropertyBag {
 public:
  explicit OrvexInstallerCtl(IUnknown* outer) : controlling_(outer != nullptr ? outer : &inner_), inner_(this) {
    ::InterlockedIncrement(&CurrentModule()->lockCount);
  }
  ~OrvexInstallerCtl() {
    ::SysFreeString(infoValue_);
    DestroyControlWindow();
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

  // IOrvexInstallerCtl.
  HRESULT STDMETHODCALLTYPE get_Info(BSTR* value) override {
    if (value == nullptr) return E_POINTER;
    *value = ::SysAllocString(infoValue_);  // null when never set
    return S_OK;
  }
  // A page the build does not list keeps its value but runs no check: no key,
  // no named object, no process.
  HRESULT STDMETHODCALLTYPE put_Info(BSTR value) override {
    ::SysFreeString(infoValue_);
    infoValue_ = ::SysAllocString(value);  // up to the first NUL; null stays null
    if (!PageMayDrive()) return E_ACCESSDENIED;
    RunInstallCheck(infoValue_);
    return S_OK;
  }

 protected:
  // ControlBase.
  const CLSID& ControlClassId() const override { return CLSID_OrvexInstallerCtl; }
  HRESULT DrawAdvanced(const DrawDescription&) override { return S_OK; }  // nothing to draw

 private:
  // Whether the control's page may set Info: any page when the build lists
  // none, and a control outside any page (created by a local script host)
  // always; otherwise only a listed page, so a page whose URL cannot be told
  // may not.
  bool PageMayDrive() const {
    if (!PageLockEnabled() || !HasPageSite()) return true;
    wchar_t* url = PageUrl();
    const bool allowed = url != nullptr && IsAllowedPage(url);
    ::CoTaskMemFree(url);
    return allowed;
  }

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

  // Via names the path to an interface reached through more than one base.
  template <typename Interface, typename Via = Interface>
  static HRESULT Resolve(void* object, REFIID, void** out, DWORD) {
    Interface* face = static_cast<Via*>(static_cast<OrvexInstallerCtl*>(object));
    face->AddRef();
    *out = face;
    return S_OK;
  }

  static const InterfaceTableEntry kInterfaces[];

  IUnknown* controlling_;
  Inner inner_;
  BSTR infoValue_ = nullptr;
};

// In the order of lookup.
const InterfaceTableEntry OrvexInstallerCtl::kInterfaces[] = {
    {&IID_IOrvexInstallerCtl, 0, OffsetResolver},
    {&IID_IDispatch, 0, OffsetResolver},
    {&IID_IViewObjectEx, 0, Resolve<IViewObjectEx>},
    {&IID_IViewObject2, 0, Resolve<IViewObject2>},
    {&IID_IViewObject, 0, Resolve<IViewObject>},
    {&IID_IOleInPlaceObjectWindowless, 0, Resolve<IOleInPlaceObjectWindowless>},
    {&IID_IOleInPlaceObject, 0, Resolve<IOleInPlaceObject>},
    {&IID_IOleWindow, 0, Resolve<IOleWindow, IOleInPlaceObjectWindowless>},
    {&IID_IOleInPlaceActiveObject, 0, Resolve<IOleInPlaceActiveObject>},
    {&IID_IOleControl, 0, Resolve<IOleControl>},
    {&IID_IOleObject, 0, Resolve<IOleObject>},
    {&IID_IPersistStreamInit, 0, Resolve<IPersistStreamInit>},
    {&IID_IPersist, 0, Resolve<IPersistStreamInit>},
    {&IID_IObjectSafety, 0, Resolve<IObjectSafety>},
    {&IID_IPersistPropertyBag, 0, Resolve<IPersistPropertyBag>},
    {&IID_IObjectWithSite, 0, Resolve<IObjectWithSite>},
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
