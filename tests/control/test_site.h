// A container's site for one control, offering the interfaces a test picks:
// the in-place site kind, IOleControlSite, and ambient properties. It records
// what the control tells it, in order.
#pragma once

#include <windows.h>
#include <olectl.h>
#include <ocidl.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

namespace orvex::test {

enum class SiteKind { kWindowless, kExtended, kPlain };

struct SiteOptions {
  SiteKind kind = SiteKind::kWindowless;
  bool controlSite = true;
  bool ambient = true;  // the site answers IDispatch, in user mode
  HRESULT canWindowlessActivate = S_OK;
  HRESULT canInPlaceActivate = S_OK;
  HRESULT showPropertyFrame = S_OK;
  HRESULT translateAccelerator = S_FALSE;
  const wchar_t* pageUrl = nullptr;  // the container moniker's display name; null: no moniker
};

class TestSite final : public IOleClientSite,
                       public IOleInPlaceSiteWindowless,
                       public IOleControlSite,
                       public IDispatch,
                       public IOleInPlaceFrame {
 public:
  TestSite(HWND window, const SiteOptions& options, const RECT& position, const RECT& clip)
      : window_(window), options_(options), position_(position), clip_(clip) {}
  TestSite(const TestSite&) = delete;
  TestSite& operator=(const TestSite&) = delete;

  std::vector<std::string> events;
  IOleInPlaceActiveObject* activeObject = nullptr;  // set by SetActiveObject (held)
  LONG references() const { return references_; }
  bool Saw(const std::string& event) const { return std::find(events.begin(), events.end(), event) != events.end(); }
  // Those of the events not seen, or "" when all were.
  std::string Missing(std::initializer_list<const char*> wanted) const {
    std::string missing;
    for (const char* event : wanted) {
      if (!Saw(event)) missing += (missing.empty() ? "" : ", ") + std::string(event);
    }
    return missing;
  }
  void ReleaseActiveObject() {
    if (activeObject != nullptr) activeObject->Release();
    activeObject = nullptr;
  }

  // IUnknown.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    const bool extended = options_.kind != SiteKind::kPlain;
    *out = nullptr;
    if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IOleClientSite)) {
      *out = static_cast<IOleClientSite*>(this);
    } else if (::IsEqualIID(iid, IID_IOleInPlaceSiteWindowless) && options_.kind == SiteKind::kWindowless) {
      *out = static_cast<IOleInPlaceSiteWindowless*>(this);
    } else if ((::IsEqualIID(iid, IID_IOleInPlaceSiteEx) && extended) || ::IsEqualIID(iid, IID_IOleInPlaceSite) ||
               ::IsEqualIID(iid, IID_IOleWindow)) {
      *out = static_cast<IOleInPlaceSiteEx*>(this);
    } else if (::IsEqualIID(iid, IID_IOleControlSite) && options_.controlSite) {
      *out = static_cast<IOleControlSite*>(this);
    } else if (::IsEqualIID(iid, IID_IDispatch) && options_.ambient) {
      *out = static_cast<IDispatch*>(this);
    } else if (::IsEqualIID(iid, IID_IOleInPlaceFrame) || ::IsEqualIID(iid, IID_IOleInPlaceUIWindow)) {
      *out = static_cast<IOleInPlaceFrame*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(::InterlockedDecrement(&references_)); }

  // IOleClientSite.
  HRESULT STDMETHODCALLTYPE SaveObject() override { return Note("save-object", S_OK); }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD which, IMoniker** moniker) override {
    *moniker = nullptr;
    if (options_.pageUrl == nullptr || which != OLEWHICHMK_CONTAINER) return E_NOTIMPL;
    // A moniker whose display name is the page's URL, as it stands.
    return ::CreateItemMoniker(L"", options_.pageUrl, moniker);
  }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer**) override { return E_NOINTERFACE; }
  HRESULT STDMETHODCALLTYPE ShowObject() override { return Note("show-object", S_OK); }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL show) override { return Note("on-show-window", show, S_OK); }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (the site and the frame share it).
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    if (window != nullptr) *window = window_;
    return window != nullptr ? S_OK : E_POINTER;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite.
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override {
    return Note("can-in-place-activate", options_.canInPlaceActivate);
  }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return Note("on-in-place-activate", S_OK); }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override { return Note("on-ui-activate", S_OK); }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                             LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    AddRef();
    *frame = this;
    *document = nullptr;
    *position = position_;
    *clip = clip_;
    if (info != nullptr) *info = {info->cb, FALSE, window_, nullptr, 0};
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL undoable) override { return Note("on-ui-deactivate", undoable, S_OK); }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return Note("on-in-place-deactivate", S_OK); }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceSiteEx.
  HRESULT STDMETHODCALLTYPE OnInPlaceActivateEx(BOOL* noRedraw, DWORD flags) override {
    if (noRedraw != nullptr) *noRedraw = FALSE;
    return Note("on-in-place-activate-ex " + std::to_string(flags), S_OK);
  }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivateEx(BOOL) override { return Note("on-in-place-deactivate-ex", S_OK); }
  HRESULT STDMETHODCALLTYPE RequestUIActivate() override { return S_OK; }

  // IOleInPlaceSiteWindowless.
  HRESULT STDMETHODCALLTYPE CanWindowlessActivate() override {
    return Note("can-windowless-activate", options_.canWindowlessActivate);
  }
  HRESULT STDMETHODCALLTYPE GetCapture() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetCapture(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetFocus() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetFocus(BOOL focus) override { return Note("set-focus", focus, S_OK); }
  HRESULT STDMETHODCALLTYPE GetDC(LPCRECT, DWORD, HDC*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ReleaseDC(HDC) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InvalidateRect(LPCRECT, BOOL) override { return Note("invalidate-rect", S_OK); }
  HRESULT STDMETHODCALLTYPE InvalidateRgn(HRGN, BOOL) override { return Note("invalidate-rgn", S_OK); }
  HRESULT STDMETHODCALLTYPE ScrollRect(INT, INT, LPCRECT, LPCRECT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AdjustRect(LPRECT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnDefWindowMessage(UINT, WPARAM, LPARAM, LRESULT*) override { return S_FALSE; }

  // IOleControlSite.
  HRESULT STDMETHODCALLTYPE OnControlInfoChanged() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE LockInPlaceActive(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetExtendedControl(IDispatch**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*, DWORD modifiers) override {
    return Note("translate-accelerator " + std::to_string(modifiers), options_.translateAccelerator);
  }
  HRESULT STDMETHODCALLTYPE OnFocus(BOOL focus) override { return Note("on-focus", focus, S_OK); }
  HRESULT STDMETHODCALLTYPE ShowPropertyFrame() override {
    return Note("show-property-frame", options_.showPropertyFrame);
  }

  // IDispatch: the ambient properties, of which only the user mode is known.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (member != DISPID_AMBIENT_USERMODE || result == nullptr) return DISP_E_MEMBERNOTFOUND;
    ::VariantInit(result);
    result->vt = VT_BOOL;
    result->boolVal = VARIANT_TRUE;
    return S_OK;
  }

  // IOleInPlaceUIWindow, IOleInPlaceFrame.
  HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return Note("set-border-space", S_OK); }
  HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override {
    if (object != nullptr) object->AddRef();
    ReleaseActiveObject();
    activeObject = object;
    return Note(object != nullptr ? "set-active-object" : "set-active-object null", S_OK);
  }
  HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

 private:
  HRESULT Note(const std::string& event, HRESULT result) {
    events.push_back(event);
    return result;
  }
  HRESULT Note(const char* event, BOOL flag, HRESULT result) {
    return Note(std::string(event) + (flag ? " 1" : " 0"), result);
  }

  HWND window_;
  SiteOptions options_;
  RECT position_;
  RECT clip_;
  volatile LONG references_ = 0;
};

}  // namespace orvex::test
