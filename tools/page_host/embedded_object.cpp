#include "embedded_object.h"

#include "host_options.h"
#include "param_property_bag.h"

namespace orvex::page_host {

namespace {

std::string HimetricFromPixels(int pixels, int dpi, LONG& himetric) {
  himetric = ::MulDiv(pixels, 2540, dpi);
  return std::to_string(himetric);
}

}  // namespace

EmbeddedObject::EmbeddedObject(std::size_t number, const PageObject& page, const RECT& position, HostLog& log)
    : number_(number), page_(page), position_(position), log_(log) {}

EmbeddedObject::~EmbeddedObject() {
  Close();
  Release();
}

int EmbeddedObject::Create(const SiteOptions& options, HWND host, InPlaceFrame* frame) {
  host_ = host;
  CLSID classId = {};
  HRESULT result = ::CLSIDFromString(page_.classId.c_str(), &classId);
  if (SUCCEEDED(result)) {
    result = ::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, object_.OutVoid());
  }
  log_.Object(number_, "created " + Utf8(page_.classId) + " " + HexResult(result));
  if (FAILED(result)) return kExitCreateFailed;

  result = object_->GetMiscStatus(DVASPECT_CONTENT, &miscStatus_);
  if (FAILED(result)) miscStatus_ = 0;
  log_.Object(number_, "misc-status " + std::to_string(miscStatus_) + " " + HexResult(result));

  site_.Attach(ClientSite::Create(options, log_, number_, host, frame, position_));
  if (!site_) {
    log_.Object(number_, "site " + HexResult(E_OUTOFMEMORY));
    return kExitCreateFailed;
  }
  site_->SetObject(object_.get());
  scriptSite_ = options.scriptSite;
  return kExitOk;
}

// The site goes to the object as a page's container gives it: as its client
// site, and through IObjectWithSite when the object has it; with the script
// site option through IObjectWithSite alone.
HRESULT EmbeddedObject::GiveClientSite() {
  HRESULT result = S_OK;
  if (!scriptSite_) {
    result = object_->SetClientSite(static_cast<IOleClientSite*>(site_.get()));
    siteGiven_ = SUCCEEDED(result);
    log_.Object(number_, "set-client-site " + HexResult(result));
  }
  ComPtr<IObjectWithSite> withSite;
  if (SUCCEEDED(object_.As(IID_IObjectWithSite, withSite))) {
    const HRESULT given = withSite->SetSite(static_cast<IOleClientSite*>(site_.get()));
    objectSiteGiven_ = SUCCEEDED(given);
    log_.Object(number_, "set-site " + HexResult(given));
    if (scriptSite_) result = given;
  }
  return result;
}

int EmbeddedObject::Load() {
  if (!object_ || !site_) return kExitLoadFailed;
  const bool siteFirst = (miscStatus_ & OLEMISC_SETCLIENTSITEFIRST) != 0;
  if (siteFirst) GiveClientSite();

  int code = kExitOk;
  ComPtr<IPersistPropertyBag> bagPersistence;
  ComPtr<IPersistStreamInit> streamPersistence;
  if (SUCCEEDED(object_.As(IID_IPersistPropertyBag, bagPersistence))) {
    ComPtr<ParamPropertyBag> bag;
    HostLog& log = log_;
    const std::size_t number = number_;
    bag.Attach(ParamPropertyBag::Create(
        page_.params, [&log, number](const std::wstring& name, VARTYPE requested, HRESULT result) {
          log.Object(number, "bag-read " + Utf8(name) + " " + std::to_string(requested) + " " + HexResult(result));
        }));
    const HRESULT result = bag ? bagPersistence->Load(bag.get(), nullptr) : E_OUTOFMEMORY;
    log_.Object(number_, "load-bag " + HexResult(result));
    if (FAILED(result)) code = kExitLoadFailed;
    if (bag) log_.Object(number_, "bag-released " + std::to_string(bag.Reset()));
  } else if (SUCCEEDED(object_.As(IID_IPersistStreamInit, streamPersistence))) {
    const HRESULT result = streamPersistence->InitNew();
    log_.Object(number_, "init-new " + HexResult(result));
    if (FAILED(result)) code = kExitLoadFailed;
  } else {
    log_.Object(number_, "no-persistence");
  }
  bagPersistence.Reset();
  streamPersistence.Reset();

  // What loading left of the host window: a first installation minimises
  // and disables it while the installer runs, and must give it back.
  log_.Object(number_, std::string("host-state enabled ") + (::IsWindowEnabled(host_) ? "1" : "0") + " iconic " +
                           (::IsIconic(host_) ? "1" : "0"));

  if (!siteFirst) GiveClientSite();

  if (page_.width > 0 || page_.height > 0) {
    HDC screen = ::GetDC(nullptr);
    const int dpiX = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSX) : 96;
    const int dpiY = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) ::ReleaseDC(nullptr, screen);
    SIZEL extent = {};
    const std::string cx = HimetricFromPixels(position_.right - position_.left, dpiX, extent.cx);
    const std::string cy = HimetricFromPixels(position_.bottom - position_.top, dpiY, extent.cy);
    log_.Object(number_,
                "set-extent " + cx + " " + cy + " " + HexResult(object_->SetExtent(DVASPECT_CONTENT, &extent)));
  }
  return code;
}

int EmbeddedObject::Activate(long verb) { return SUCCEEDED(DoVerb(verb)) ? kExitOk : kExitActivateFailed; }

HRESULT EmbeddedObject::DoVerb(long verb) {
  if (!object_ || !site_) return E_UNEXPECTED;
  RECT position = position_;  // the object may not keep or change ours
  const HRESULT result = object_->DoVerb(verb, nullptr, static_cast<IOleClientSite*>(site_.get()), 0, host_, &position);
  log_.Object(number_, "do-verb " + std::to_string(verb) + " " + HexResult(result));
  return result;
}

void EmbeddedObject::LogWindow() {
  if (!object_) return;
  ComPtr<IOleInPlaceObject> inPlace;
  HRESULT result = object_.As(IID_IOleInPlaceObject, inPlace);
  HWND window = nullptr;
  if (SUCCEEDED(result)) result = inPlace->GetWindow(&window);
  log_.Object(number_, "get-window " + HexResult(result));
  if (FAILED(result) || window == nullptr) return;
  wchar_t className[256] = L"";
  ::GetClassNameW(window, className, 256);
  const auto style = static_cast<unsigned long>(::GetWindowLongW(window, GWL_STYLE));
  log_.Object(number_, "control-window " + HexHandle(window) + " parent " + HexHandle(::GetParent(window)) + " class " +
                           Utf8(className) + " style " + HexNumber(style));
}

void EmbeddedObject::DrawWindowless(HDC dc) {
  if (!object_ || !site_ || !site_->InPlaceActive() || !site_->Windowless()) return;
  ComPtr<IViewObject> view;
  HRESULT result = object_.As(IID_IViewObject, view);
  if (SUCCEEDED(result)) {
    const RECTL bounds = {position_.left, position_.top, position_.right, position_.bottom};
    result = view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0);
  }
  if (!drawLogged_) {  // once: painting comes often
    drawLogged_ = true;
    log_.Object(number_, "draw " + HexResult(result));
  }
}

void EmbeddedObject::Close() {
  if (!object_ || closed_) return;
  closed_ = true;
  log_.Object(number_, "close " + HexResult(object_->Close(OLECLOSE_NOSAVE)));
  if (siteGiven_) {
    log_.Object(number_, "clear-client-site " + HexResult(object_->SetClientSite(nullptr)));
    siteGiven_ = false;
  }
  ComPtr<IObjectWithSite> withSite;
  if (objectSiteGiven_ && SUCCEEDED(object_.As(IID_IObjectWithSite, withSite))) {
    log_.Object(number_, "clear-site " + HexResult(withSite->SetSite(nullptr)));
    objectSiteGiven_ = false;
  }
}

void EmbeddedObject::Release() {
  if (object_) {
    if (site_) site_->SetObject(nullptr);
    log_.Object(number_, "released " + std::to_string(object_.Reset()));
  }
  if (site_) log_.Object(number_, "site-released " + std::to_string(site_.Reset()));
}

}  // namespace orvex::page_host
