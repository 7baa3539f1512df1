// The site the host gives each object: client site, in-place site of the
// kind the options choose, control site and ambient properties. It logs
// every call the object makes on it.
#pragma once

#include <ocidl.h>
#include <ole2.h>
#include <olectl.h>
#include <windows.h>

#include <cstddef>
#include <string>

#include "com_ptr.h"
#include "host_log.h"
#include "in_place_frame.h"

namespace orvex::page_host {

// Which in-place interfaces the site answers: windowless answers all three,
// Ex also the plain one, plain only IOleInPlaceSite.
enum class SiteKind { kWindowless, kEx, kPlain };

// The ambient user mode (DISPID_AMBIENT_USERMODE): true, false, or not known.
enum class UserMode { kRun, kDesign, kAbsent };

struct SiteOptions {
  SiteKind kind = SiteKind::kWindowless;
  bool windowlessActivate = true;  // CanWindowlessActivate: S_OK, else S_FALSE
  bool controlSite = true;         // answers IOleControlSite
  bool ambientDispatch = true;     // answers IDispatch for ambient properties
  UserMode userMode = UserMode::kRun;
  // The page's URL, which the container's moniker tells the object; empty:
  // the site has no moniker.
  std::wstring pageUrl;
  // The site reaches the object only through IObjectWithSite, as for an
  // object a page's script creates.
  bool scriptSite = false;
};

class ClientSite final : public IOleClientSite,
                         public IOleInPlaceSiteWindowless,
                         public IOleControlSite,
                         public IDispatch {
 public:
  // A new site with one reference, owned by the caller; null when out of
  // memory. `number` names the object in the log; `position` is its
  // rectangle in the host window's client area.
  static ClientSite* Create(const SiteOptions& options, HostLog& log, std::size_t number, HWND host,
                            InPlaceFrame* frame, const RECT& position);

  // The object the site serves, not owned (the object owns the site); set
  // after creation and cleared before the object is released.
  void SetObject(IOleObject* object) { object_ = object; }

  bool InPlaceActive() const { return inPlaceActive_; }
  bool Windowless() const { return windowless_; }
  const RECT& Position() const { return position_; }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IOleClientSite
  HRESULT STDMETHODCALLTYPE SaveObject() override;
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override;
  HRESULT STDMETHODCALLTYPE ShowObject() override;
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL show) override;
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override;

  // IOleWindow
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL enterMode) override;

  // IOleInPlaceSite
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override;
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override;
  HRESULT STDMETHODCALLTYPE OnUIActivate() override;
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                             LPRECT clip, LPOLEINPLACEFRAMEINFO frameInfo) override;
  HRESULT STDMETHODCALLTYPE Scroll(SIZE extent) override;
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL undoable) override;
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override;
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override;
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override;
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT position) override;

  // IOleInPlaceSiteEx
  HRESULT STDMETHODCALLTYPE OnInPlaceActivateEx(BOOL* noRedraw, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivateEx(BOOL noRedraw) override;
  HRESULT STDMETHODCALLTYPE RequestUIActivate() override;

  // IOleInPlaceSiteWindowless
  HRESULT STDMETHODCALLTYPE CanWindowlessActivate() override;
  HRESULT STDMETHODCALLTYPE GetCapture() override;
  HRESULT STDMETHODCALLTYPE SetCapture(BOOL capture) override;
  HRESULT STDMETHODCALLTYPE GetFocus() override;
  HRESULT STDMETHODCALLTYPE SetFocus(BOOL focus) override;
  HRESULT STDMETHODCALLTYPE GetDC(LPCRECT rect, DWORD flags, HDC* dc) override;
  HRESULT STDMETHODCALLTYPE ReleaseDC(HDC dc) override;
  HRESULT STDMETHODCALLTYPE InvalidateRect(LPCRECT rect, BOOL erase) override;
  HRESULT STDMETHODCALLTYPE InvalidateRgn(HRGN region, BOOL erase) override;
  HRESULT STDMETHODCALLTYPE ScrollRect(INT dx, INT dy, LPCRECT scroll, LPCRECT clip) override;
  HRESULT STDMETHODCALLTYPE AdjustRect(LPRECT rect) override;
  HRESULT STDMETHODCALLTYPE OnDefWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  // IOleControlSite
  HRESULT STDMETHODCALLTYPE OnControlInfoChanged() override;
  HRESULT STDMETHODCALLTYPE LockInPlaceActive(BOOL lock) override;
  HRESULT STDMETHODCALLTYPE GetExtendedControl(IDispatch** control) override;
  HRESULT STDMETHODCALLTYPE TransformCoords(POINTL* himetric, POINTF* container, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* message, DWORD modifiers) override;
  HRESULT STDMETHODCALLTYPE OnFocus(BOOL gotFocus) override;
  HRESULT STDMETHODCALLTYPE ShowPropertyFrame() override;

  // IDispatch: the ambient properties.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

 private:
  ClientSite(const SiteOptions& options, HostLog& log, std::size_t number, HWND host, InPlaceFrame* frame,
             const RECT& position);
  ~ClientSite() = default;

  // Logs "#<number> <event>"; never throws.
  void Event(const char* event, const std::string& detail = std::string()) const noexcept;
  RECT ClipRect() const;

  LONG references_ = 1;
  SiteOptions options_;
  HostLog& log_;
  std::size_t number_;
  HWND host_;
  ComPtr<InPlaceFrame> frame_;
  RECT position_;
  IOleObject* object_ = nullptr;  // not owned
  bool inPlaceActive_ = false;
  bool windowless_ = false;
  bool capture_ = false;
  bool focus_ = false;
  HDC dc_ = nullptr;  // the one device context handed out by GetDC
};

}  // namespace orvex::page_host
