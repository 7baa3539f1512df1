// The embeddable-control side of the OLE control protocol: site handling,
// IOleObject and its verbs, activation in place (windowless or windowed),
// sizing, drawing, advise connections, focus, IOleControl, IObjectSafety and
// IObjectWithSite. A control derives from it, answers IUnknown for it, and
// says what it draws.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <objsafe.h>
#include <servprov.h>

#include "com_ptr.h"
#include "control_window.h"

namespace orvex {

// What the advanced drawing operation is asked to draw.
struct DrawDescription {
  DWORD aspect;
  LONG index;
  DVTARGETDEVICE* targetDevice;
  HDC targetDeviceContext;
  HDC drawContext;
  const RECTL* bounds;
  const RECTL* windowBounds;
  bool mayOptimize;
};

class ControlBase : public IOleObject,
                    public IOleInPlaceObjectWindowless,
                    public IOleInPlaceActiveObject,
                    public IViewObjectEx,
                    public IOleControl,
                    public IObjectSafety,
                    public IObjectWithSite,
                    protected ControlWindowOwner {
 public:
  static constexpr LONG kDefaultExtent = 5080;  // HIMETRIC: two inches

  // IOleObject.
  HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override;
  HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override;
  HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Close(DWORD saveOption) override;
  HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG message, IOleClientSite* activeSite, LONG index, HWND parent,
                                   LPCRECT position) override;
  HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** verbs) override;
  HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* classId) override;
  HRESULT STDMETHODCALLTYPE GetUserType(DWORD form, LPOLESTR* userType) override;
  HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override;
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override;
  HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* connection) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD connection) override;
  HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advises) override;
  HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override;
  HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // IOleWindow, shared by the in-place object and the active object.
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceObject, IOleInPlaceObjectWindowless.
  HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
  HRESULT STDMETHODCALLTYPE UIDeactivate() override;
  HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT clip) override;
  HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget**) override { return E_NOTIMPL; }

  // IOleInPlaceActiveObject.
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG message) override;
  HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL activate) override;
  HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }

  // IViewObject, IViewObject2, IViewObjectEx.
  HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* targetDevice,
                                 HDC targetDeviceContext, HDC drawContext, LPCRECTL bounds, LPCRECTL windowBounds,
                                 BOOL(STDMETHODCALLTYPE* keepGoing)(ULONG_PTR), ULONG_PTR keepGoingArgument) override;
  HRESULT STDMETHODCALLTYPE GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unfreeze(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
  HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* targetDevice, LPSIZEL size) override;
  HRESULT STDMETHODCALLTYPE GetRect(DWORD, LPRECTL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetViewStatus(DWORD* status) override;
  HRESULT STDMETHODCALLTYPE QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG closeHint,
                                          DWORD* hitResult) override;
  HRESULT STDMETHODCALLTYPE QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG closeHint,
                                         DWORD* hitResult) override;
  HRESULT STDMETHODCALLTYPE GetNaturalExtent(DWORD aspect, LONG index, DVTARGETDEVICE* targetDevice,
                                             HDC targetDeviceContext, DVEXTENTINFO* extentInfo,
                                             LPSIZEL size) override;

  // IOleControl: no mnemonics, no events to freeze.
  HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnMnemonic(MSG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL freeze) override;

  // IObjectSafety: one set of options for the whole object.
  HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) override;
  HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) override;

  // IObjectWithSite: the site of an object a page's script created.
  HRESULT STDMETHODCALLTYPE SetSite(IUnknown* site) override;
  HRESULT STDMETHODCALLTYPE GetSite(REFIID iid, void** site) override;

 protected:
  ControlBase() = default;
  ~ControlBase();
  ControlBase(const ControlBase&) = delete;
  ControlBase& operator=(const ControlBase&) = delete;

  // The class whose registry entries answer verbs, user type and status.
  virtual const CLSID& ControlClassId() const = 0;
  // The advanced drawing operation, for IViewObject::Draw and for painting.
  virtual HRESULT DrawAdvanced(const DrawDescription& description) = 0;

  // Destroys the control's window, if it has one.
  void DestroyControlWindow();

  // Whether the control sits in a page's container: it has a client site, or
  // a site given through IObjectWithSite that leads to one (a client site, or
  // a container's document or browser among its services). The site a local
  // script host gives leads to none.
  bool HasPageSite() const;
  // The URL of the control's page: the display name of its container's
  // moniker, from the client site, or else from the client site that the
  // IObjectWithSite site is or provides. Null when it cannot be told; the
  // caller frees it with CoTaskMemFree.
  wchar_t* PageUrl() const;

  SIZEL extent_ = {kDefaultExtent, kDefaultExtent};

 private:
  enum Flag : DWORD {
    kNegotiated = 1u << 0,
    kWindowless = 1u << 1,
    kInPlaceActive = 1u << 2,
    kUIActive = 1u << 3,
    kExtendedSite = 1u << 4,
    kWasOnceWindowless = 1u << 5,
  };
  bool Has(DWORD flags) const { return (flags_ & flags) != 0; }
  void Set(DWORD flags) { flags_ |= flags; }
  void Clear(DWORD flags) { flags_ &= ~flags; }

  HRESULT InPlaceActivate(LONG verb);
  HRESULT NegotiateSite();
  void RequestRedraw();
  HRESULT ShowProperties();
  // The container's client site, as PageUrl finds it; false when there is none.
  bool ContainerSite(ComPtr<IOleClientSite>& site) const;
  // The ambient user mode: false only when the container answers a boolean
  // false (design mode).
  bool InUserMode();
  IOleControlSite* ControlSite(ComPtr<IOleControlSite>& holder);
  IOleInPlaceSiteWindowless* WindowlessSite(ComPtr<IOleInPlaceSiteWindowless>& holder);

  // ControlWindowOwner.
  bool HandleWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void WindowDestroyed() override { window_ = nullptr; }

  // In declaration order; released in reverse order when the object goes.
  ComPtr<IOleInPlaceSite> inPlaceSite_;
  ComPtr<IDataAdviseHolder> dataAdviseHolder_;
  ComPtr<IOleAdviseHolder> oleAdviseHolder_;
  ComPtr<IOleClientSite> clientSite_;
  ComPtr<IAdviseSink> viewAdviseSink_;
  ComPtr<IDispatch> ambientDispatch_;
  ComPtr<IUnknown> objectSite_;
  SIZEL naturalExtent_ = {kDefaultExtent, kDefaultExtent};
  RECT position_ = {0, 0, 0, 0};
  HWND window_ = nullptr;
  DWORD flags_ = 0;
  DWORD safetyOptions_ = 0;
};

}  // namespace orvex
