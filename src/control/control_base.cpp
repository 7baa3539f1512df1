#include "control_base.h"

#include <olectl.h>

#include <initializer_list>

namespace orvex {

namespace {

constexpr DWORD kSafetyOptions = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
constexpr WORD kReflectBase = 0x2000;  // reflected notifications arrive as 0x2000 + the message

bool IsReflectedNotification(UINT message) {
  if (message < kReflectBase) return false;
  switch (message - kReflectBase) {
    case WM_DRAWITEM: case WM_MEASUREITEM: case WM_DELETEITEM: case WM_VKEYTOITEM: case WM_CHARTOITEM:
    case WM_COMPAREITEM: case WM_NOTIFY: case WM_COMMAND: case WM_HSCROLL: case WM_VSCROLL:
    case WM_CTLCOLORMSGBOX: case WM_CTLCOLOREDIT: case WM_CTLCOLORLISTBOX: case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG: case WM_CTLCOLORSCROLLBAR: case WM_CTLCOLORSTATIC: case WM_PARENTNOTIFY:
      return true;
    default:
      return false;
  }
}

// Services a page's container offers the objects its script creates: its
// document's dispatch interface and the browser. A local script host offers
// neither.
constexpr GUID kContainerDispatchService = {0xB722BE00, 0x4E68, 0x101B, {0xA2, 0xBC, 0x00, 0xAA, 0x00, 0x40, 0x47, 0x70}};
constexpr GUID kWebBrowserService = {0x0002DF05, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Whether window is focus or one of its ancestors.
bool FocusInside(HWND window) {
  const HWND focus = ::GetFocus();
  return focus != nullptr && (focus == window || ::IsChild(window, focus));
}

// The window context of an in-place site: frame, document window, position
// and clip, released together.
struct WindowContext {
  ComPtr<IOleInPlaceFrame> frame;
  ComPtr<IOleInPlaceUIWindow> document;
  RECT position = {0, 0, 0, 0};
  RECT clip = {0, 0, 0, 0};
  bool known = false;

  explicit WindowContext(IOleInPlaceSite* site) {
    OLEINPLACEFRAMEINFO frameInfo = {};
    frameInfo.cb = sizeof(frameInfo);
    known = SUCCEEDED(site->GetWindowContext(frame.Out(), document.Out(), &position, &clip, &frameInfo));
  }
};

}  // namespace

ControlBase::~ControlBase() { DestroyControlWindow(); }

void ControlBase::DestroyControlWindow() {
  if (window_ != nullptr) ::DestroyWindow(window_);
  window_ = nullptr;
}

// IOleObject.

HRESULT ControlBase::SetClientSite(IOleClientSite* site) {
  clientSite_.Assign(site);
  ambientDispatch_.Reset();
  if (site != nullptr) site->QueryInterface(IID_IDispatch, ambientDispatch_.OutVoid());
  return S_OK;
}

HRESULT ControlBase::SetSite(IUnknown* site) {
  objectSite_.Assign(site);
  return S_OK;
}

HRESULT ControlBase::GetSite(REFIID iid, void** site) {
  if (site == nullptr) return E_POINTER;
  *site = nullptr;
  if (!objectSite_) return E_FAIL;
  return objectSite_->QueryInterface(iid, site);
}

bool ControlBase::ContainerSite(ComPtr<IOleClientSite>& site) const {
  site.Reset();
  if (clientSite_) {
    site.Assign(clientSite_.get());
    return true;
  }
  if (!objectSite_) return false;
  if (SUCCEEDED(objectSite_.As(IID_IOleClientSite, site)) && site) return true;
  ComPtr<IServiceProvider> services;
  return SUCCEEDED(objectSite_.As(IID_IServiceProvider, services)) && services &&
         SUCCEEDED(services->QueryService(IID_IOleClientSite, IID_IOleClientSite, site.OutVoid())) && site;
}

bool ControlBase::HasPageSite() const {
  ComPtr<IOleClientSite> site;
  if (ContainerSite(site)) return true;
  ComPtr<IServiceProvider> services;
  if (!objectSite_ || FAILED(objectSite_.As(IID_IServiceProvider, services)) || !services) return false;
  for (const GUID* service : {&kContainerDispatchService, &kWebBrowserService}) {
    ComPtr<IUnknown> found;
    if (SUCCEEDED(services->QueryService(*service, IID_IUnknown, found.OutVoid())) && found) return true;
  }
  return false;
}

wchar_t* ControlBase::PageUrl() const {
  ComPtr<IOleClientSite> site;
  if (!ContainerSite(site)) return nullptr;
  ComPtr<IMoniker> moniker;
  if (FAILED(site->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_CONTAINER, moniker.Out())) || !moniker) {
    return nullptr;
  }
  ComPtr<IBindCtx> context;
  if (FAILED(::CreateBindCtx(0, context.Out()))) return nullptr;
  wchar_t* url = nullptr;
  if (FAILED(moniker->GetDisplayName(context.get(), nullptr, &url))) return nullptr;
  return url;
}

HRESULT ControlBase::GetClientSite(IOleClientSite** site) {
  if (site == nullptr) return E_POINTER;
  clientSite_.CopyTo(site);
  return S_OK;
}

HRESULT ControlBase::Close(DWORD) {
  if (window_ != nullptr && clientSite_) clientSite_->OnShowWindow(FALSE);
  if (Has(kInPlaceActive)) InPlaceDeactivate();
  DestroyControlWindow();
  inPlaceSite_.Reset();
  viewAdviseSink_.Reset();
  Clear(kNegotiated | kWindowless | kExtendedSite);
  return S_OK;
}

HRESULT ControlBase::DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) {
  switch (verb) {
    case OLEIVERB_PRIMARY:
      if (!InUserMode()) return ShowProperties();
      return DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, nullptr, nullptr);
    case OLEIVERB_SHOW:
      return InPlaceActivate(verb);
    case OLEIVERB_OPEN:
    case OLEIVERB_DISCARDUNDOSTATE:
      return S_OK;
    case OLEIVERB_HIDE:
      UIDeactivate();
      if (window_ != nullptr) ::ShowWindow(window_, SW_HIDE);
      return S_OK;
    case OLEIVERB_UIACTIVATE:
      if (Has(kUIActive)) return S_OK;
      return InPlaceActivate(verb);
    case OLEIVERB_INPLACEACTIVATE: {
      const HRESULT result = InPlaceActivate(verb);
      if (SUCCEEDED(result)) RequestRedraw();
      return result;
    }
    case OLEIVERB_PROPERTIES:
      return ShowProperties();
    default:
      return E_NOTIMPL;
  }
}

HRESULT ControlBase::EnumVerbs(IEnumOLEVERB** verbs) {
  if (verbs == nullptr) return E_POINTER;
  return ::OleRegEnumVerbs(ControlClassId(), verbs);
}

HRESULT ControlBase::GetUserClassID(CLSID* classId) {
  if (classId == nullptr) return E_POINTER;
  *classId = ControlClassId();
  return S_OK;
}

HRESULT ControlBase::GetUserType(DWORD form, LPOLESTR* userType) {
  return ::OleRegGetUserType(ControlClassId(), form, userType);
}

HRESULT ControlBase::SetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (size == nullptr) return E_POINTER;
  // Auto size, resize natural and recompose on resize are never set: the new
  // extent is all there is to keep.
  extent_ = *size;
  return S_OK;
}

HRESULT ControlBase::GetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return E_FAIL;
  if (size == nullptr) return E_POINTER;
  *size = extent_;
  return S_OK;
}

HRESULT ControlBase::Advise(IAdviseSink* sink, DWORD* connection) {
  if (!oleAdviseHolder_) {
    const HRESULT made = ::CreateOleAdviseHolder(oleAdviseHolder_.Out());
    if (FAILED(made)) return made;
  }
  return oleAdviseHolder_->Advise(sink, connection);
}

HRESULT ControlBase::Unadvise(DWORD connection) {
  if (!oleAdviseHolder_) return E_FAIL;
  return oleAdviseHolder_->Unadvise(connection);
}

HRESULT ControlBase::EnumAdvise(IEnumSTATDATA** advises) {
  if (!oleAdviseHolder_) return E_FAIL;
  return oleAdviseHolder_->EnumAdvise(advises);
}

HRESULT ControlBase::GetMiscStatus(DWORD aspect, DWORD* status) {
  return ::OleRegGetMiscStatus(ControlClassId(), aspect, status);
}

// IOleWindow.

HRESULT ControlBase::GetWindow(HWND* window) {
  if (Has(kWasOnceWindowless)) return E_FAIL;
  if (window == nullptr) return E_POINTER;
  *window = window_;
  return window_ != nullptr ? S_OK : E_UNEXPECTED;
}

// IOleInPlaceObject, IOleInPlaceObjectWindowless.

HRESULT ControlBase::InPlaceDeactivate() {
  if (!Has(kInPlaceActive)) return S_OK;
  UIDeactivate();
  Clear(kInPlaceActive);
  DestroyControlWindow();
  if (inPlaceSite_) inPlaceSite_->OnInPlaceDeactivate();
  return S_OK;
}

HRESULT ControlBase::UIDeactivate() {
  if (!Has(kUIActive)) return S_OK;
  Clear(kUIActive);
  if (inPlaceSite_) {
    WindowContext context(inPlaceSite_.get());
    if (context.frame) context.frame->SetActiveObject(nullptr, nullptr);
    if (context.document) context.document->SetActiveObject(nullptr, nullptr);
    inPlaceSite_->OnUIDeactivate(FALSE);
  }
  return S_OK;
}

HRESULT ControlBase::SetObjectRects(LPCRECT position, LPCRECT clip) {
  if (position == nullptr) return E_POINTER;
  position_ = *position;
  if (window_ == nullptr) return S_OK;
  RECT overlap = {0, 0, 0, 0};
  const bool overlaps = clip != nullptr && ::IntersectRect(&overlap, position, clip) != FALSE;
  if (overlaps && !::EqualRect(&overlap, position)) {
    // Only part of the control is visible: clip the window to that part.
    ::OffsetRect(&overlap, -position->left, -position->top);
    HRGN region = ::CreateRectRgnIndirect(&overlap);
    if (region != nullptr && ::SetWindowRgn(window_, region, TRUE) == 0) ::DeleteObject(region);
  } else {
    ::SetWindowRgn(window_, nullptr, TRUE);
  }
  ::SetWindowPos(window_, nullptr, position->left, position->top, position->right - position->left,
                 position->bottom - position->top, SWP_NOZORDER | SWP_NOACTIVATE);
  return S_OK;
}

HRESULT ControlBase::OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  LRESULT handledResult = 0;
  const bool handled = HandleWindowMessage(window_, message, wParam, lParam, handledResult);
  if (result != nullptr) *result = handledResult;
  return handled ? S_OK : S_FALSE;
}

// IOleInPlaceActiveObject.

HRESULT ControlBase::TranslateAccelerator(LPMSG message) {
  ComPtr<IOleControlSite> holder;
  IOleControlSite* site = ControlSite(holder);
  if (site == nullptr) return S_FALSE;
  DWORD modifiers = 0;
  if (::GetKeyState(VK_SHIFT) < 0) modifiers += 1;
  if (::GetKeyState(VK_CONTROL) < 0) modifiers += 2;
  if (::GetKeyState(VK_MENU) < 0) modifiers += 4;
  return site->TranslateAccelerator(message, modifiers) == S_OK ? S_OK : S_FALSE;
}

HRESULT ControlBase::OnDocWindowActivate(BOOL activate) {
  if (!activate) UIDeactivate();
  return S_OK;
}

// IViewObject, IViewObject2, IViewObjectEx.

HRESULT ControlBase::Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* targetDevice,
                          HDC targetDeviceContext, HDC drawContext, LPCRECTL bounds, LPCRECTL windowBounds,
                          BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
  if (aspect != DVASPECT_CONTENT && aspect != DVASPECT_DOCPRINT && aspect != DVASPECT_OPAQUE) return DV_E_DVASPECT;
  RECTL windowlessBounds;
  if (bounds == nullptr) {
    if (!Has(kWindowless)) return E_INVALIDARG;
    windowlessBounds = {position_.left, position_.top, position_.right, position_.bottom};
    bounds = &windowlessBounds;
  }
  DrawDescription description = {};
  description.aspect = aspect;
  description.index = index;
  description.targetDevice = targetDevice;
  description.targetDeviceContext = targetDeviceContext;
  description.drawContext = drawContext;
  description.bounds = bounds;
  description.windowBounds = windowBounds;
  const auto* info = static_cast<const DVASPECTINFO*>(aspectInfo);
  description.mayOptimize = info != nullptr && (info->dwFlags & DVASPECTINFOFLAG_CANOPTIMIZE) != 0;
  return DrawAdvanced(description);
}

HRESULT ControlBase::SetAdvise(DWORD, DWORD, IAdviseSink* sink) {
  viewAdviseSink_.Assign(sink);
  return S_OK;
}

HRESULT ControlBase::GetAdvise(DWORD*, DWORD*, IAdviseSink** sink) {
  viewAdviseSink_.CopyTo(sink);
  return S_OK;
}

HRESULT ControlBase::GetExtent(DWORD, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  if (size == nullptr) return E_POINTER;
  *size = extent_;
  return S_OK;
}

HRESULT ControlBase::GetViewStatus(DWORD* status) {
  if (status == nullptr) return E_POINTER;
  *status = VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND;
  return S_OK;
}

HRESULT ControlBase::QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG, DWORD* hitResult) {
  if (aspect != DVASPECT_CONTENT) return E_FAIL;
  if (bounds == nullptr || hitResult == nullptr) return E_POINTER;
  *hitResult = ::PtInRect(bounds, location) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
  return S_OK;
}

HRESULT ControlBase::QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG, DWORD* hitResult) {
  if (aspect != DVASPECT_CONTENT) return E_FAIL;
  if (bounds == nullptr || location == nullptr || hitResult == nullptr) return E_POINTER;
  RECT overlap;
  *hitResult = ::IntersectRect(&overlap, bounds, location) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
  return S_OK;
}

HRESULT ControlBase::GetNaturalExtent(DWORD aspect, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO* extentInfo,
                                      LPSIZEL size) {
  if (extentInfo == nullptr || size == nullptr) return E_POINTER;
  if (aspect != DVASPECT_CONTENT || extentInfo->dwExtentMode != DVEXTENT_CONTENT) return E_FAIL;
  *size = naturalExtent_;
  return S_OK;
}

// IOleControl.

HRESULT ControlBase::FreezeEvents(BOOL) { return S_OK; }

// IObjectSafety.

HRESULT ControlBase::GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) {
  if (supported == nullptr || enabled == nullptr) return E_POINTER;
  *supported = 0;
  *enabled = 0;
  ComPtr<IUnknown> face;
  const HRESULT exposed = static_cast<IOleObject*>(this)->QueryInterface(iid, face.OutVoid());
  if (FAILED(exposed)) return exposed;
  *supported = kSafetyOptions;
  *enabled = safetyOptions_;
  return S_OK;
}

HRESULT ControlBase::SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) {
  ComPtr<IUnknown> face;
  if (FAILED(static_cast<IOleObject*>(this)->QueryInterface(iid, face.OutVoid()))) return E_NOINTERFACE;
  if ((mask & ~kSafetyOptions) != 0) return E_FAIL;
  safetyOptions_ = (safetyOptions_ & ~mask) | (enabled & mask);
  return S_OK;
}

// Activation.

HRESULT ControlBase::NegotiateSite() {
  ComPtr<IOleInPlaceSiteWindowless> windowless;
  if (SUCCEEDED(clientSite_->QueryInterface(IID_IOleInPlaceSiteWindowless, windowless.OutVoid())) && windowless) {
    Set(kExtendedSite);
    if (windowless->CanWindowlessActivate() == S_OK) Set(kWindowless | kWasOnceWindowless);
    inPlaceSite_.Assign(windowless.get());
    return S_OK;
  }
  ComPtr<IOleInPlaceSiteEx> extended;
  if (SUCCEEDED(clientSite_->QueryInterface(IID_IOleInPlaceSiteEx, extended.OutVoid())) && extended) {
    Set(kExtendedSite);
    inPlaceSite_.Assign(extended.get());
    return S_OK;
  }
  ComPtr<IOleInPlaceSite> plain;
  if (SUCCEEDED(clientSite_->QueryInterface(IID_IOleInPlaceSite, plain.OutVoid())) && plain) {
    inPlaceSite_.Assign(plain.get());
    return S_OK;
  }
  return E_FAIL;
}

HRESULT ControlBase::InPlaceActivate(LONG verb) {
  if (!clientSite_) return S_OK;
  if (!Has(kNegotiated)) {
    const HRESULT negotiated = NegotiateSite();
    if (FAILED(negotiated)) return negotiated;
  }
  Set(kNegotiated);
  if (!inPlaceSite_) return E_FAIL;

  if (!Has(kInPlaceActive)) {
    if (Has(kWindowless) || Has(kExtendedSite)) {
      ComPtr<IOleInPlaceSiteEx> extended;
      if (FAILED(inPlaceSite_->QueryInterface(IID_IOleInPlaceSiteEx, extended.OutVoid())) || !extended) {
        return E_FAIL;
      }
      BOOL noRedraw = FALSE;
      const HRESULT told = extended->OnInPlaceActivateEx(&noRedraw, Has(kWindowless) ? ACTIVATE_WINDOWLESS : 0);
      if (FAILED(told)) return told;
    } else {
      const HRESULT allowed = inPlaceSite_->CanInPlaceActivate();
      if (FAILED(allowed)) return allowed;
      if (allowed != S_OK) return E_FAIL;
      inPlaceSite_->OnInPlaceActivate();
    }
  }
  Set(kInPlaceActive);

  HWND parent = nullptr;
  ComPtr<IOleInPlaceFrame> frame;
  ComPtr<IOleInPlaceUIWindow> document;
  if (SUCCEEDED(inPlaceSite_->GetWindow(&parent)) && parent != nullptr) {
    RECT position = {0, 0, 0, 0};
    RECT clip = {0, 0, 0, 0};
    OLEINPLACEFRAMEINFO frameInfo = {};
    frameInfo.cb = sizeof(frameInfo);
    inPlaceSite_->GetWindowContext(frame.Out(), document.Out(), &position, &clip, &frameInfo);
    if (!Has(kWindowless)) {
      if (window_ != nullptr) {
        ::ShowWindow(window_, SW_SHOW);
        if (!FocusInside(window_)) ::SetFocus(window_);
      } else {
        // Without a window class the control goes on without a window.
        window_ = CreateControlWindow(this, parent, position);
      }
    }
    SetObjectRects(&position, &clip);
  }

  const bool uiVerb = verb == OLEIVERB_PRIMARY || verb == OLEIVERB_UIACTIVATE ||
                      (!ambientDispatch_ && (verb == OLEIVERB_SHOW || verb == OLEIVERB_INPLACEACTIVATE));
  if (uiVerb && !Has(kUIActive)) {
    Set(kUIActive);
    const HRESULT told = inPlaceSite_->OnUIActivate();
    if (FAILED(told)) {
      Clear(kUIActive);
      return told;
    }
    if (Has(kWindowless)) {
      ComPtr<IOleInPlaceSiteWindowless> holder;
      if (IOleInPlaceSiteWindowless* site = WindowlessSite(holder)) site->SetFocus(TRUE);
    } else if (window_ != nullptr && !FocusInside(window_)) {
      ::SetFocus(window_);
    }
    IOleInPlaceActiveObject* active = this;
    if (frame) {
      frame->SetActiveObject(active, nullptr);
      frame->SetBorderSpace(nullptr);
    }
    if (document) {
      document->SetActiveObject(active, nullptr);
      document->SetBorderSpace(nullptr);
    }
  }
  clientSite_->ShowObject();
  return S_OK;
}

void ControlBase::RequestRedraw() {
  if (Has(kInPlaceActive)) {
    if (window_ != nullptr) {
      ::InvalidateRect(window_, nullptr, TRUE);
    } else if (Has(kWindowless)) {
      ComPtr<IOleInPlaceSiteWindowless> holder;
      if (IOleInPlaceSiteWindowless* site = WindowlessSite(holder)) site->InvalidateRect(nullptr, TRUE);
    }
  } else if (viewAdviseSink_) {
    viewAdviseSink_->OnViewChange(DVASPECT_CONTENT, -1);
  }
}

HRESULT ControlBase::ShowProperties() {
  ComPtr<IOleControlSite> holder;
  if (IOleControlSite* site = ControlSite(holder)) {
    const HRESULT shown = site->ShowPropertyFrame();
    if (SUCCEEDED(shown)) return shown;
  }
  // The control exposes no ISpecifyPropertyPages, so there is no frame of
  // its own pages to show either.
  return OLEOBJ_S_CANNOT_DOVERB_NOW;
}

bool ControlBase::InUserMode() {
  if (!ambientDispatch_) return true;
  VARIANT value;
  ::VariantInit(&value);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  const HRESULT read = ambientDispatch_->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, LOCALE_USER_DEFAULT,
                                                DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
  const bool designMode = SUCCEEDED(read) && value.vt == VT_BOOL && value.boolVal == VARIANT_FALSE;
  ::VariantClear(&value);
  return !designMode;
}

IOleControlSite* ControlBase::ControlSite(ComPtr<IOleControlSite>& holder) {
  if (!clientSite_ || FAILED(clientSite_->QueryInterface(IID_IOleControlSite, holder.OutVoid()))) return nullptr;
  return holder.get();
}

IOleInPlaceSiteWindowless* ControlBase::WindowlessSite(ComPtr<IOleInPlaceSiteWindowless>& holder) {
  if (!inPlaceSite_ ||
      FAILED(inPlaceSite_->QueryInterface(IID_IOleInPlaceSiteWindowless, holder.OutVoid()))) {
    return nullptr;
  }
  return holder.get();
}

// Message handling.

bool ControlBase::HandleWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  result = 0;
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint = {};
      HDC context = reinterpret_cast<HDC>(wParam);
      const bool ownPaint = context == nullptr && window != nullptr;
      if (ownPaint) context = ::BeginPaint(window, &paint);
      RECT client = position_;
      if (window != nullptr) ::GetClientRect(window, &client);
      const RECTL bounds = {client.left, client.top, client.right, client.bottom};
      DrawDescription description = {};
      description.aspect = DVASPECT_CONTENT;
      description.index = -1;
      description.drawContext = context;
      description.bounds = &bounds;
      DrawAdvanced(description);
      if (ownPaint) ::EndPaint(window, &paint);
      return true;
    }
    case WM_SETFOCUS:
      if (Has(kInPlaceActive)) {
        DoVerb(OLEIVERB_UIACTIVATE, nullptr, clientSite_.get(), 0, nullptr, &position_);
        ComPtr<IOleControlSite> holder;
        if (IOleControlSite* site = ControlSite(holder)) site->OnFocus(TRUE);
      }
      return false;  // and on to default processing
    case WM_KILLFOCUS: {
      const HWND gaining = reinterpret_cast<HWND>(wParam);
      const bool leftWindow = window == nullptr || (gaining != window && !::IsChild(window, gaining));
      if (Has(kInPlaceActive) && leftWindow) {
        ComPtr<IOleControlSite> holder;
        if (IOleControlSite* site = ControlSite(holder)) site->OnFocus(FALSE);
      }
      return false;
    }
    case WM_MOUSEACTIVATE:
      if (InUserMode()) DoVerb(OLEIVERB_UIACTIVATE, nullptr, clientSite_.get(), 0, nullptr, &position_);
      return false;
    default:
      if (IsReflectedNotification(message)) {
        result = ::DefWindowProcW(window, message - kReflectBase, wParam, lParam);
        return true;
      }
      return false;
  }
}

}  // namespace orvex
