// A container's site for one control, offering the interfaces a test picks:
// the in-place site kind, IOleControlSite, and ambient properties. It records
// what the control tells it, in order.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <string>
#include <vector>

namespace orvex::test {

enum class SiteKind { kWindowless, kExtended, kPlain, kNone };
enum class UserMode { kRun, kDesign, kAbsent };

struct SiteOptions {
  SiteKind kind = SiteKind::kWindowless;
  bool controlSite = true;
  bool ambient = true;  // the site answers IDispatch
  UserMode userMode = UserMode::kRun;
  HRESULT canWindowlessActivate = S_OK;
  HRESULT canInPlaceActivate = S_OK;
  HRESULT showPropertyFrame = S_OK;
  HRESULT translateAccelerator = S_FALSE;
};

class TestSite final : public IOleClientSite,
                       public IOleInPlaceSiteWindowless,
                       public IOleControlSite,
                       public IDispatch,
                       public IOleInPlaceFrame {
 public:
  TestSite(HWND window, const SiteOptions& options, const RECT& position, const RECT& clip);
  TestSite(const TestSite&) = delete;
  TestSite& operator=(const TestSite&) = delete;

  std::vector<std::string> events;
  IOleInPlaceActiveObject* activeObject = nullptr;  // set by SetActiveObject (held)
  LONG references() const { return references_; }
  bool Saw(const std::string& event) const;
  void ReleaseActiveObject();

  // IUnknown.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(::InterlockedDecrement(&references_)); }

  // IOleClientSite.
  HRESULT STDMETHODCALLTYPE SaveObject() override { return Note("save-object", S_OK); }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer**) override { return E_NOINTERFACE; }
  HRESULT STDMETHODCALLTYPE ShowObject() override { return Note("show-object", S_OK); }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL show) override {
    return Note(show ? "on-show-window 1" : "on-show-window 0", S_OK);
  }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (the site and the frame share it).
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite.
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return Note("can-in-place-activate", options_.canInPlaceActivate); }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return Note("on-in-place-activate", S_OK); }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override { return Note("on-ui-activate", S_OK); }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                             LPRECT clip, LPOLEINPLACEFRAMEINFO info) override;
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL undoable) override {
    return Note(undoable ? "on-ui-deactivate 1" : "on-ui-deactivate 0", S_OK);
  }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return Note("on-in-place-deactivate", S_OK); }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceSiteEx.
  HRESULT STDMETHODCALLTYPE OnInPlaceActivateEx(BOOL* noRedraw, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivateEx(BOOL) override { return Note("on-in-place-deactivate-ex", S_OK); }
  HRESULT STDMETHODCALLTYPE RequestUIActivate() override { return S_OK; }

  // IOleInPlaceSiteWindowless.
  HRESULT STDMETHODCALLTYPE CanWindowlessActivate() override {
    return Note("can-windowless-activate", options_.canWindowlessActivate);
  }
  HRESULT STDMETHODCALLTYPE GetCapture() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetCapture(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetFocus() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetFocus(BOOL focus) override { return Note(focus ? "set-focus 1" : "set-focus 0", S_OK); }
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
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*, DWORD modifiers) override;
  HRESULT STDMETHODCALLTYPE OnFocus(BOOL focus) override { return Note(focus ? "on-focus 1" : "on-focus 0", S_OK); }
  HRESULT STDMETHODCALLTYPE ShowPropertyFrame() override { return Note("show-property-frame", options_.showPropertyFrame); }

  // IDispatch: ambient properties.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override;

  // IOleInPlaceUIWindow, IOleInPlaceFrame.
  HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return Note("set-border-space", S_OK); }
  HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override;
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

  HWND window_;
  SiteOptions options_;
  RECT position_;
  RECT clip_;
  volatile LONG references_ = 0;
};

}  // namespace orvex::test
