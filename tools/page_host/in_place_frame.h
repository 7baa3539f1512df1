// The host window as the in-place frame and document window of its objects:
// it has no menus and no tool space, and keeps the active object so that
// keystrokes reach it first.
#pragma once

#include <ole2.h>
#include <windows.h>

#include "com_ptr.h"
#include "host_log.h"

namespace orvex::page_host {

class InPlaceFrame final : public IOleInPlaceFrame {
 public:
  // A new frame with one reference, owned by the caller; null when out of memory.
  static InPlaceFrame* Create(HWND window, HostLog& log);

  // The object that made itself active (SetActiveObject), or null.
  IOleInPlaceActiveObject* ActiveObject() const { return active_.get(); }
  // Lets go of the active object, as when the page is closed.
  void ClearActiveObject() { active_.Reset(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IOleWindow
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL enterMode) override;
  // IOleInPlaceUIWindow
  HRESULT STDMETHODCALLTYPE GetBorder(LPRECT border) override;
  HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS widths) override;
  HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS widths) override;
  HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR name) override;
  // IOleInPlaceFrame
  HRESULT STDMETHODCALLTYPE InsertMenus(HMENU shared, LPOLEMENUGROUPWIDTHS widths) override;
  HRESULT STDMETHODCALLTYPE SetMenu(HMENU shared, HOLEMENU descriptor, HWND activeObject) override;
  HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU shared) override;
  HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR text) override;
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL enable) override;
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG message, WORD id) override;

 private:
  InPlaceFrame(HWND window, HostLog& log) : window_(window), log_(log) {}
  ~InPlaceFrame() = default;

  LONG references_ = 1;
  HWND window_;
  HostLog& log_;
  ComPtr<IOleInPlaceActiveObject> active_;
};

}  // namespace orvex::page_host
