#include "client_site.h"

#include <urlmon.h>

#include <cmath>
#include <new>
#include <string>

namespace orvex::page_host {

namespace {

// Names of the interfaces an object is likely to ask its site for, for the log.
std::string InterfaceName(REFIID iid) {
  static const struct {
    const IID* iid;
    const char* name;
  } kKnown[] = {
      {&IID_IUnknown, "IUnknown"},
      {&IID_IOleClientSite, "IOleClientSite"},
      {&IID_IOleWindow, "IOleWindow"},
      {&IID_IOleInPlaceSite, "IOleInPlaceSite"},
      {&IID_IOleInPlaceSiteEx, "IOleInPlaceSiteEx"},
      {&IID_IOleInPlaceSiteWindowless, "IOleInPlaceSiteWindowless"},
      {&IID_IOleControlSite, "IOleControlSite"},
      {&IID_IDispatch, "IDispatch"},
      {&IID_IOleContainer, "IOleContainer"},
  };
  for (const auto& known : kKnown) {
    if (::IsEqualIID(iid, *known.iid)) return known.name;
  }
  wchar_t text[40] = L"";
  ::StringFromGUID2(iid, text, 40);
  return Utf8(text);
}

}  // namespace

ClientSite* ClientSite::Create(const SiteOptions& options, HostLog& log, std::size_t number, HWND host,
                               InPlaceFrame* frame, const RECT& position) {
  return new (std::nothrow) ClientSite(options, log, number, host, frame, position);
}

ClientSite::ClientSite(const SiteOptions& options, HostLog& log, std::size_t number, HWND host, InPlaceFrame* frame,
                       const RECT& position)
    : options_(options), log_(log), number_(number), host_(host), position_(position) {
  frame->AddRef();
  frame_.Attach(frame);
}

void ClientSite::Event(const char* event, const std::string& detail) const noexcept {
  try {
    log_.Object(number_, detail.empty() ? std::string(event) : std::string(event) + " " + detail);
  } catch (const std::bad_alloc&) {
    // The line is lost; the call it records goes on.
  }
}

RECT ClientSite::ClipRect() const {
  RECT client = {};
  ::GetClientRect(host_, &client);
  return client;
}

// IUnknown ------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE ClientSite::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  const bool ex = options_.kind == SiteKind::kWindowless || options_.kind == SiteKind::kEx;
  IUnknown* face = nullptr;
  if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IOleClientSite)) {
    face = static_cast<IOleClientSite*>(this);
  } else if (::IsEqualIID(iid, IID_IOleWindow)) {
    face = static_cast<IOleWindow*>(static_cast<IOleInPlaceSiteWindowless*>(this));
  } else if (::IsEqualIID(iid, IID_IOleInPlaceSite)) {
    face = static_cast<IOleInPlaceSite*>(static_cast<IOleInPlaceSiteWindowless*>(this));
  } else if (::IsEqualIID(iid, IID_IOleInPlaceSiteEx) && ex) {
    face = static_cast<IOleInPlaceSiteEx*>(static_cast<IOleInPlaceSiteWindowless*>(this));
  } else if (::IsEqualIID(iid, IID_IOleInPlaceSiteWindowless) && options_.kind == SiteKind::kWindowless) {
    face = static_cast<IOleInPlaceSiteWindowless*>(this);
  } else if (::IsEqualIID(iid, IID_IOleControlSite) && options_.controlSite) {
    face = static_cast<IOleControlSite*>(this);
  } else if (::IsEqualIID(iid, IID_IDispatch) && options_.ambientDispatch) {
    face = static_cast<IDispatch*>(this);
  }
  if (!::IsEqualIID(iid, IID_IUnknown)) {
    try {
      Event("site-qi", InterfaceName(iid) + (face != nullptr ? " yes" : " no"));
    } catch (const std::bad_alloc&) {
    }
  }
  if (face == nullptr) return E_NOINTERFACE;
  face->AddRef();
  *out = face;
  return S_OK;
}

ULONG STDMETHODCALLTYPE ClientSite::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }

ULONG STDMETHODCALLTYPE ClientSite::Release() {
  const LONG count = ::InterlockedDecrement(&references_);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

// IOleClientSite --------------------------------------------------------------

HRESULT STDMETHODCALLTYPE ClientSite::SaveObject() {
  Event("save-object");
  return E_NOTIMPL;  // a page is never saved
}

// The container's moniker names the page, as a browser's does.
HRESULT STDMETHODCALLTYPE ClientSite::GetMoniker(DWORD, DWORD which, IMoniker** moniker) {
  if (moniker == nullptr) return E_POINTER;
  *moniker = nullptr;
  HRESULT result = E_NOTIMPL;
  if (which == OLEWHICHMK_CONTAINER && !options_.pageUrl.empty()) {
    result = ::CreateURLMonikerEx(nullptr, options_.pageUrl.c_str(), moniker, URL_MK_UNIFORM);
  }
  Event("get-moniker", std::to_string(which) + " " + HexResult(result));
  return result;
}

HRESULT STDMETHODCALLTYPE ClientSite::GetContainer(IOleContainer** container) {
  if (container == nullptr) return E_POINTER;
  *container = nullptr;
  return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE ClientSite::ShowObject() {
  Event("show-object");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::OnShowWindow(BOOL show) {
  Event("on-show-window", show ? "1" : "0");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::RequestNewObjectLayout() { return E_NOTIMPL; }

// IOleWindow ------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE ClientSite::GetWindow(HWND* window) {
  if (window == nullptr) return E_POINTER;
  *window = host_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

// IOleInPlaceSite ---------------------------------------------------------------

HRESULT STDMETHODCALLTYPE ClientSite::CanInPlaceActivate() {
  Event("can-in-place-activate");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::OnInPlaceActivate() {
  Event("on-in-place-activate");
  inPlaceActive_ = true;
  windowless_ = false;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::OnUIActivate() {
  Event("on-ui-activate");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                                       LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO frameInfo) {
  if (frame != nullptr) *frame = nullptr;
  if (document != nullptr) *document = nullptr;
  if (frame == nullptr || document == nullptr || position == nullptr || clip == nullptr || frameInfo == nullptr) {
    return E_POINTER;
  }
  Event("get-window-context");
  // The host window is both the frame and the document window.
  frame_->AddRef();
  *frame = frame_.get();
  frame_->AddRef();
  *document = frame_.get();
  *position = position_;
  *clip = ClipRect();
  frameInfo->fMDIApp = FALSE;
  frameInfo->hwndFrame = host_;
  frameInfo->haccel = nullptr;
  frameInfo->cAccelEntries = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::Scroll(SIZE) { return E_NOTIMPL; }  // the page does not scroll

HRESULT STDMETHODCALLTYPE ClientSite::OnUIDeactivate(BOOL undoable) {
  Event("on-ui-deactivate", undoable ? "1" : "0");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::OnInPlaceDeactivate() {
  Event("on-in-place-deactivate");
  inPlaceActive_ = false;
  windowless_ = false;
  ::InvalidateRect(host_, &position_, TRUE);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::DiscardUndoState() { return S_OK; }

HRESULT STDMETHODCALLTYPE ClientSite::DeactivateAndUndo() {
  Event("deactivate-and-undo");
  if (object_ == nullptr) return S_OK;
  IOleInPlaceObject* inPlace = nullptr;
  if (SUCCEEDED(object_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)))) {
    inPlace->UIDeactivate();
    inPlace->Release();
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::OnPosRectChange(LPCRECT position) {
  if (position == nullptr) return E_POINTER;
  Event("on-pos-rect-change");
  ::InvalidateRect(host_, &position_, TRUE);
  position_ = *position;
  if (object_ != nullptr) {
    IOleInPlaceObject* inPlace = nullptr;
    if (SUCCEEDED(object_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)))) {
      const RECT clip = ClipRect();
      inPlace->SetObjectRects(&position_, &clip);
      inPlace->Release();
    }
  }
  return S_OK;
}

// IOleInPlaceSiteEx ---------------------------------------------------------------

HRESULT STDMETHODCALLTYPE ClientSite::OnInPlaceActivateEx(BOOL* noRedraw, DWORD flags) {
  Event("on-in-place-activate-ex", HexNumber(flags));
  if (noRedraw != nullptr) *noRedraw = FALSE;
  inPlaceActive_ = true;
  windowless_ = (flags & ACTIVATE_WINDOWLESS) != 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::OnInPlaceDeactivateEx(BOOL noRedraw) {
  Event("on-in-place-deactivate-ex", noRedraw ? "1" : "0");
  inPlaceActive_ = false;
  windowless_ = false;
  if (!noRedraw) ::InvalidateRect(host_, &position_, TRUE);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::RequestUIActivate() {
  Event("request-ui-activate");
  return S_OK;
}

// IOleInPlaceSiteWindowless -----------------------------------------------------

HRESULT STDMETHODCALLTYPE ClientSite::CanWindowlessActivate() {
  const HRESULT answer = options_.windowlessActivate ? S_OK : S_FALSE;
  Event("can-windowless-activate", HexResult(answer));
  return answer;
}

HRESULT STDMETHODCALLTYPE ClientSite::GetCapture() { return capture_ ? S_OK : S_FALSE; }

HRESULT STDMETHODCALLTYPE ClientSite::SetCapture(BOOL capture) {
  if (capture) {
    ::SetCapture(host_);
  } else if (capture_) {
    ::ReleaseCapture();
  }
  capture_ = capture != FALSE;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::GetFocus() { return focus_ ? S_OK : S_FALSE; }

HRESULT STDMETHODCALLTYPE ClientSite::SetFocus(BOOL focus) {
  Event("set-focus", focus ? "1" : "0");
  if (focus) ::SetFocus(host_);
  focus_ = focus != FALSE;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::GetDC(LPCRECT rect, DWORD, HDC* dc) {
  if (dc == nullptr) return E_POINTER;
  *dc = nullptr;
  if (dc_ != nullptr) return E_FAIL;  // one at a time
  HDC got = ::GetDC(host_);
  if (got == nullptr) return E_FAIL;
  const RECT& area = rect != nullptr ? *rect : position_;
  ::IntersectClipRect(got, area.left, area.top, area.right, area.bottom);
  dc_ = got;
  *dc = got;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::ReleaseDC(HDC dc) {
  if (dc == nullptr || dc != dc_) return E_INVALIDARG;
  ::ReleaseDC(host_, dc);
  dc_ = nullptr;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::InvalidateRect(LPCRECT rect, BOOL erase) {
  RECT area = position_;
  if (rect != nullptr && !::IntersectRect(&area, rect, &position_)) return S_OK;  // nothing of ours to repaint
  ::InvalidateRect(host_, &area, erase);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::InvalidateRgn(HRGN region, BOOL erase) {
  if (region == nullptr) {
    ::InvalidateRect(host_, &position_, erase);
  } else {
    ::InvalidateRgn(host_, region, erase);
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::ScrollRect(INT, INT, LPCRECT scroll, LPCRECT clip) {
  if (scroll == nullptr) return E_POINTER;
  // Nothing is moved on the screen: the scrolled area is painted anew.
  RECT area = *scroll;
  if (clip != nullptr && !::IntersectRect(&area, scroll, clip)) return S_OK;
  return InvalidateRect(&area, TRUE);
}

HRESULT STDMETHODCALLTYPE ClientSite::AdjustRect(LPRECT rect) {
  // No windowed object of the page overlaps another: the rectangle stands.
  return rect == nullptr ? E_POINTER : S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::OnDefWindowMessage(UINT message, WPARAM, LPARAM, LRESULT* result) {
  if (result == nullptr) return E_POINTER;
  *result = 0;
  if (message == WM_SETCURSOR) {
    ::SetCursor(::LoadCursor(nullptr, IDC_ARROW));
    *result = TRUE;
    return S_OK;
  }
  return S_FALSE;
}

// IOleControlSite -------------------------------------------------------------

HRESULT STDMETHODCALLTYPE ClientSite::OnControlInfoChanged() { return S_OK; }

HRESULT STDMETHODCALLTYPE ClientSite::LockInPlaceActive(BOOL) { return S_OK; }

HRESULT STDMETHODCALLTYPE ClientSite::GetExtendedControl(IDispatch** control) {
  if (control == nullptr) return E_POINTER;
  *control = nullptr;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ClientSite::TransformCoords(POINTL* himetric, POINTF* container, DWORD flags) {
  if (himetric == nullptr || container == nullptr) return E_POINTER;
  HDC screen = ::GetDC(nullptr);
  const int dpiX = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSX) : 96;
  const int dpiY = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen != nullptr) ::ReleaseDC(nullptr, screen);
  constexpr double kHimetricPerInch = 2540.0;
  if ((flags & XFORMCOORDS_HIMETRICTOCONTAINER) != 0) {
    container->x = static_cast<float>(himetric->x * dpiX / kHimetricPerInch);
    container->y = static_cast<float>(himetric->y * dpiY / kHimetricPerInch);
    return S_OK;
  }
  if ((flags & XFORMCOORDS_CONTAINERTOHIMETRIC) != 0) {
    himetric->x = std::lround(static_cast<double>(container->x) * kHimetricPerInch / dpiX);
    himetric->y = std::lround(static_cast<double>(container->y) * kHimetricPerInch / dpiY);
    return S_OK;
  }
  return E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE ClientSite::TranslateAccelerator(MSG* message, DWORD) {
  return message == nullptr ? E_POINTER : S_FALSE;  // the page has no accelerators of its own
}

HRESULT STDMETHODCALLTYPE ClientSite::OnFocus(BOOL gotFocus) {
  Event("on-focus", gotFocus ? "1" : "0");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::ShowPropertyFrame() {
  Event("show-property-frame");
  return E_NOTIMPL;  // a page has no property frame: the object shows its own, if any
}

// IDispatch: ambient properties -------------------------------------------------

HRESULT STDMETHODCALLTYPE ClientSite::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClientSite::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT STDMETHODCALLTYPE ClientSite::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!::IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if ((names == nullptr && count != 0) || (ids == nullptr && count != 0)) return E_POINTER;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  return count == 0 ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT STDMETHODCALLTYPE ClientSite::Invoke(DISPID member, REFIID iid, LCID, WORD flags, DISPPARAMS* parameters,
                                             VARIANT* result, EXCEPINFO*, UINT*) {
  if (!::IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const std::string id = std::to_string(member);
  if (member != DISPID_AMBIENT_USERMODE || options_.userMode == UserMode::kAbsent) {
    Event("ambient", id + (member == DISPID_AMBIENT_USERMODE ? " absent" : " not-found"));
    return DISP_E_MEMBERNOTFOUND;
  }
  if ((flags & DISPATCH_PROPERTYGET) == 0) {
    Event("ambient", id + " not-a-get");
    return DISP_E_MEMBERNOTFOUND;  // ambient properties are read only
  }
  if (parameters != nullptr && (parameters->cArgs != 0 || parameters->cNamedArgs != 0)) return DISP_E_BADPARAMCOUNT;
  const bool run = options_.userMode == UserMode::kRun;
  Event("ambient", id + (run ? " run" : " design"));
  if (result != nullptr) {
    ::VariantInit(result);
    result->vt = VT_BOOL;
    result->boolVal = run ? VARIANT_TRUE : VARIANT_FALSE;
  }
  return S_OK;
}

}  // namespace orvex::page_host
