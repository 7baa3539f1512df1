#include "in_place_frame.h"

#include <new>

namespace orvex::page_host {

namespace {

// True when no border width is asked for: all a frame without tool space grants.
bool NoBorder(LPCBORDERWIDTHS widths) {
  return widths == nullptr || (widths->left == 0 && widths->top == 0 && widths->right == 0 && widths->bottom == 0);
}

}  // namespace

InPlaceFrame* InPlaceFrame::Create(HWND window, HostLog& log) { return new (std::nothrow) InPlaceFrame(window, log); }

HRESULT STDMETHODCALLTYPE InPlaceFrame::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!::IsEqualIID(iid, IID_IUnknown) && !::IsEqualIID(iid, IID_IOleWindow) &&
      !::IsEqualIID(iid, IID_IOleInPlaceUIWindow) && !::IsEqualIID(iid, IID_IOleInPlaceFrame)) {
    return E_NOINTERFACE;
  }
  AddRef();
  *out = static_cast<IOleInPlaceFrame*>(this);
  return S_OK;
}

ULONG STDMETHODCALLTYPE InPlaceFrame::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }

ULONG STDMETHODCALLTYPE InPlaceFrame::Release() {
  const LONG count = ::InterlockedDecrement(&references_);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE InPlaceFrame::GetWindow(HWND* window) {
  if (window == nullptr) return E_POINTER;
  *window = window_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE InPlaceFrame::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE InPlaceFrame::GetBorder(LPRECT border) {
  if (border == nullptr) return E_POINTER;
  return ::GetClientRect(window_, border) ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE InPlaceFrame::RequestBorderSpace(LPCBORDERWIDTHS widths) {
  return NoBorder(widths) ? S_OK : INPLACE_E_NOTOOLSPACE;
}

HRESULT STDMETHODCALLTYPE InPlaceFrame::SetBorderSpace(LPCBORDERWIDTHS widths) {
  return NoBorder(widths) ? S_OK : OLE_E_INVALIDRECT;
}

HRESULT STDMETHODCALLTYPE InPlaceFrame::SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR) {
  log_.Line(std::string("frame set-active-object ") + (active != nullptr ? "object" : "none"));
  if (active != nullptr) active->AddRef();
  active_.Attach(active);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE InPlaceFrame::InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS widths) {
  // No menus of the host's own: every group the container fills stays empty.
  if (widths == nullptr) return E_POINTER;
  widths->width[0] = 0;
  widths->width[2] = 0;
  widths->width[4] = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE InPlaceFrame::SetMenu(HMENU, HOLEMENU, HWND) { return S_OK; }

HRESULT STDMETHODCALLTYPE InPlaceFrame::RemoveMenus(HMENU) { return S_OK; }

HRESULT STDMETHODCALLTYPE InPlaceFrame::SetStatusText(LPCOLESTR text) {
  try {
    log_.Line("frame status-text " + (text != nullptr ? Utf8(std::wstring(text).substr(0, 256)) : std::string()));
  } catch (const std::bad_alloc&) {
    // The line is lost; the text is shown nowhere anyway.
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE InPlaceFrame::EnableModeless(BOOL) { return S_OK; }

HRESULT STDMETHODCALLTYPE InPlaceFrame::TranslateAccelerator(LPMSG message, WORD) {
  return message == nullptr ? E_POINTER : S_FALSE;  // the host has no accelerators
}

}  // namespace orvex::page_host
