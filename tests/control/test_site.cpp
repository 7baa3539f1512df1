#include "test_site.h"

#include <olectl.h>

#include <algorithm>
#include <cstdio>

namespace orvex::test {

TestSite::TestSite(HWND window, const SiteOptions& options, const RECT& position, const RECT& clip)
    : window_(window), options_(options), position_(position), clip_(clip) {}

bool TestSite::Saw(const std::string& event) const {
  return std::find(events.begin(), events.end(), event) != events.end();
}

void TestSite::ReleaseActiveObject() {
  if (activeObject != nullptr) activeObject->Release();
  activeObject = nullptr;
}

HRESULT TestSite::QueryInterface(REFIID iid, void** out) {
  *out = nullptr;
  const SiteKind kind = options_.kind;
  if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IOleClientSite)) {
    *out = static_cast<IOleClientSite*>(this);
  } else if (::IsEqualIID(iid, IID_IOleInPlaceSiteWindowless) && kind == SiteKind::kWindowless) {
    *out = static_cast<IOleInPlaceSiteWindowless*>(this);
  } else if (::IsEqualIID(iid, IID_IOleInPlaceSiteEx) &&
             (kind == SiteKind::kWindowless || kind == SiteKind::kExtended)) {
    *out = static_cast<IOleInPlaceSiteEx*>(this);
  } else if ((::IsEqualIID(iid, IID_IOleInPlaceSite) || ::IsEqualIID(iid, IID_IOleWindow)) &&
             kind != SiteKind::kNone) {
    *out = static_cast<IOleInPlaceSite*>(this);
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

HRESULT TestSite::GetWindow(HWND* window) {
  if (window == nullptr) return E_POINTER;
  *window = window_;
  return S_OK;
}

HRESULT TestSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                   LPRECT clip, LPOLEINPLACEFRAMEINFO info) {
  AddRef();
  *frame = this;
  *document = nullptr;
  *position = position_;
  *clip = clip_;
  if (info != nullptr) {
    info->fMDIApp = FALSE;
    info->hwndFrame = window_;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
  }
  return S_OK;
}

HRESULT TestSite::OnInPlaceActivateEx(BOOL* noRedraw, DWORD flags) {
  if (noRedraw != nullptr) *noRedraw = FALSE;
  char event[64];
  std::snprintf(event, sizeof(event), "on-in-place-activate-ex %lu", static_cast<unsigned long>(flags));
  return Note(event, S_OK);
}

HRESULT TestSite::TranslateAccelerator(MSG*, DWORD modifiers) {
  char event[64];
  std::snprintf(event, sizeof(event), "translate-accelerator %lu", static_cast<unsigned long>(modifiers));
  return Note(event, options_.translateAccelerator);
}

HRESULT TestSite::Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) {
  if (member != DISPID_AMBIENT_USERMODE || options_.userMode == UserMode::kAbsent) return DISP_E_MEMBERNOTFOUND;
  Note("ambient-user-mode", S_OK);
  if (result != nullptr) {
    ::VariantInit(result);
    result->vt = VT_BOOL;
    result->boolVal = options_.userMode == UserMode::kRun ? VARIANT_TRUE : VARIANT_FALSE;
  }
  return S_OK;
}

HRESULT TestSite::SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) {
  if (object != nullptr) object->AddRef();
  ReleaseActiveObject();
  activeObject = object;
  return Note(object != nullptr ? "set-active-object" : "set-active-object null", S_OK);
}

}  // namespace orvex::test
