// The control in a container: how it activates in place for each kind of
// site, its window, verbs, hit testing, focus and messages, and what it
// reports from the registry.
#include <gtest/gtest.h>

#include <windows.h>
#include <olectl.h>
#include <objsafe.h>
#include <ocidl.h>

#include <string>

#include "class_table.h"
#include "control_module.h"
#include "installer_double_client.h"
#include "orvex_installer_ctl.h"
#include "orvex_installer_h.h"
#include "server_module.h"
#include "test_registry.h"
#include "test_site.h"

namespace orvex::test {
namespace {

constexpr RECT kPosition = {10, 20, 110, 70};
constexpr RECT kWideClip = {0, 0, 400, 300};

// Changes a site's options from the default, a windowless site that does all it is asked.
using Adjust = void (*)(SiteOptions&);

class SiteProtocol : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegisterControlModule(), 0u);
    StartModule(ControlClassTable(), ::GetModuleHandleA(nullptr));
    host_ = ::CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 500, 400, nullptr,
                              nullptr, nullptr, nullptr);
    ASSERT_NE(host_, nullptr);
    ASSERT_EQ(CreateOrvexInstallerCtl(nullptr, IID_IOleObject, reinterpret_cast<void**>(&object_)), S_OK);
    inPlace_ = As<IOleInPlaceObject>(IID_IOleInPlaceObject);
  }
  void TearDown() override {
    DropSite();
    if (inPlace_ != nullptr) inPlace_->Release();
    if (object_ != nullptr) {
      EXPECT_EQ(object_->Release(), 0u) << "the control is held by more than the test";
    }
    ::DestroyWindow(host_);
    StopModule();
    UnregisterControlModule();
  }
  // Puts the control in a new site, after closing it and taking the last site
  // away, as a container swapping sites.
  TestSite& Site(Adjust adjust = nullptr) {
    SiteOptions options;
    if (adjust != nullptr) adjust(options);
    return Site(options);
  }
  TestSite& Site(const SiteOptions& options) {
    DropSite();
    site_ = new TestSite(host_, options, kPosition, kWideClip);
    EXPECT_EQ(object_->SetClientSite(site_), S_OK);
    return *site_;
  }
  void DropSite() {
    if (site_ == nullptr) return;
    object_->Close(OLECLOSE_NOSAVE);
    object_->SetClientSite(nullptr);
    site_->ReleaseActiveObject();
    EXPECT_EQ(site_->references(), 0) << "the control kept a reference to its site";
    delete site_;
    site_ = nullptr;
  }
  HRESULT Verb(LONG verb) {
    RECT position = kPosition;
    return object_->DoVerb(verb, nullptr, site_, 0, host_, &position);
  }
  template <typename Interface>
  Interface* As(REFIID iid) {
    Interface* face = nullptr;
    EXPECT_EQ(object_->QueryInterface(iid, reinterpret_cast<void**>(&face)), S_OK);
    return face;
  }

  HWND host_ = nullptr;
  IOleObject* object_ = nullptr;
  IOleInPlaceObject* inPlace_ = nullptr;
  TestSite* site_ = nullptr;
};

// A windowless control redraws, takes the focus and is deactivated through its
// site, and draws at its position when given no bounds. Once windowless, it
// gives out no window, even one a later site has it make.
TEST_F(SiteProtocol, WindowlessControlWorksThroughItsSite) {
  TestSite& site = Site();
  ASSERT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), S_OK);
  EXPECT_EQ(site.Missing({"on-in-place-activate-ex 1", "invalidate-rect", "show-object"}), "");
  EXPECT_FALSE(site.Saw("on-ui-activate")) << "with ambient properties, in-place activation does not UI-activate";
  EXPECT_EQ(::GetWindow(host_, GW_CHILD), nullptr);
  IViewObject* view = As<IViewObject>(IID_IViewObject);
  HDC context = ::GetDC(host_);
  EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, context, nullptr, nullptr, nullptr, 0), S_OK);
  EXPECT_EQ(view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, context, nullptr, nullptr, nullptr, 0),
            DV_E_DVASPECT);
  ::ReleaseDC(host_, context);
  view->Release();

  IOleInPlaceObjectWindowless* windowless = As<IOleInPlaceObjectWindowless>(IID_IOleInPlaceObjectWindowless);
  LRESULT result = 1;
  EXPECT_EQ(windowless->OnWindowMessage(0x2000 + WM_COMMAND, 0, 0, &result), S_OK) << "reflected notification";
  EXPECT_EQ(windowless->OnWindowMessage(WM_USER + 5, 0, 0, &result), S_FALSE);
  EXPECT_EQ(windowless->OnWindowMessage(WM_SETFOCUS, 0, 0, &result), S_FALSE) << "focus passes on to default handling";
  EXPECT_EQ(site.Missing({"on-ui-activate", "set-focus 1", "on-focus 1", "set-active-object"}), "");
  EXPECT_EQ(windowless->InPlaceDeactivate(), S_OK);
  EXPECT_EQ(site.Missing({"set-active-object null", "on-ui-deactivate 0", "on-in-place-deactivate"}), "");
  windowless->Release();

  TestSite& refusing = Site([](SiteOptions& o) { o.canWindowlessActivate = S_FALSE; });
  EXPECT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), S_OK);
  EXPECT_TRUE(refusing.Saw("on-in-place-activate-ex 0"));
  EXPECT_NE(::GetWindow(host_, GW_CHILD), nullptr) << "the control is windowed now";
  HWND window = nullptr;
  EXPECT_EQ(inPlace_->GetWindow(&window), E_FAIL);
}

TEST_F(SiteProtocol, ControlWindowIsAChildBoundToTheControl) {
  TestSite& site = Site([](SiteOptions& o) { o.kind = SiteKind::kExtended; });
  ::ShowWindow(host_, SW_SHOW);
  ASSERT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), S_OK);
  HWND window = nullptr;
  ASSERT_EQ(inPlace_->GetWindow(&window), S_OK);
  EXPECT_EQ(static_cast<DWORD>(::GetWindowLongW(window, GWL_STYLE)) & 0xFFFF0000u, 0x56000000u);
  EXPECT_EQ(::GetWindowLongW(window, GWL_EXSTYLE) & ~WS_EX_NOPARENTNOTIFY, 0);
  RECT placed;
  ::GetWindowRect(window, &placed);
  ::MapWindowPoints(nullptr, host_, reinterpret_cast<POINT*>(&placed), 2);
  EXPECT_TRUE(::EqualRect(&placed, &kPosition));

  // Painting is handled; without a bounds rectangle the view cannot draw.
  ::InvalidateRect(window, nullptr, TRUE);
  ::UpdateWindow(window);
  EXPECT_FALSE(::GetUpdateRect(window, nullptr, FALSE));
  IViewObject* view = As<IViewObject>(IID_IViewObject);
  EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0),
            E_INVALIDARG);
  view->Release();

  // The focus UI-activates the control and is reported to the site, coming and going.
  ::SetFocus(window);
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
  EXPECT_EQ(site.Missing({"on-ui-activate", "on-focus 1"}), "");
  ::SetFocus(host_);
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
  EXPECT_TRUE(site.Saw("on-focus 0"));
  // A reflected notification gets the default handling of the plain message:
  // for a colour request, a brush (an unknown message would give 0).
  HDC context = ::GetDC(window);
  EXPECT_NE(::SendMessageW(window, 0x2000 + WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(context),
                           reinterpret_cast<LPARAM>(window)),
            0);
  ::ReleaseDC(window, context);

  // A clip that shows part of the control clips the window; a clip around
  // all of it removes the region again.
  const RECT partClip = {0, 0, 60, 300};
  EXPECT_EQ(inPlace_->SetObjectRects(&kPosition, &partClip), S_OK);
  RECT region;
  EXPECT_EQ(::GetWindowRgnBox(window, &region), SIMPLEREGION);
  EXPECT_EQ(region.right, 50);  // 60 - 10, in window coordinates
  EXPECT_EQ(inPlace_->SetObjectRects(&kPosition, &kWideClip), S_OK);
  EXPECT_EQ(::GetWindowRgnBox(window, &region), ERROR);
  EXPECT_EQ(inPlace_->SetObjectRects(nullptr, &kWideClip), E_POINTER);

  EXPECT_EQ(inPlace_->InPlaceDeactivate(), S_OK);
  EXPECT_FALSE(::IsWindow(window)) << "deactivation destroys the window";
  EXPECT_TRUE(site.Saw("on-in-place-deactivate"));
  EXPECT_EQ(inPlace_->GetWindow(&window), E_UNEXPECTED);

  // Closing an active control hides it and destroys its window, and asks for no save.
  ASSERT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), S_OK);
  ASSERT_EQ(inPlace_->GetWindow(&window), S_OK);
  EXPECT_EQ(object_->Close(OLECLOSE_NOSAVE), S_OK);
  EXPECT_TRUE(site.Saw("on-show-window 0"));
  EXPECT_FALSE(::IsWindow(window));
  EXPECT_FALSE(site.Saw("save-object"));
}

TEST_F(SiteProtocol, VerbsAndThePropertiesFrame) {
  TestSite& failing = Site([](SiteOptions& o) { o.showPropertyFrame = E_FAIL; });
  EXPECT_EQ(Verb(OLEIVERB_PROPERTIES), OLEOBJ_S_CANNOT_DOVERB_NOW);
  EXPECT_TRUE(failing.Saw("show-property-frame"));
  EXPECT_EQ(Verb(OLEIVERB_OPEN), S_OK);
  EXPECT_EQ(Verb(OLEIVERB_DISCARDUNDOSTATE), S_OK);
  EXPECT_EQ(Verb(-8), E_NOTIMPL);
  EXPECT_FALSE(failing.Saw("show-object")) << "none of these activates the control";

  TestSite& refusing = Site([](SiteOptions& o) {
    o.kind = SiteKind::kPlain;
    o.canInPlaceActivate = S_FALSE;
  });
  EXPECT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), E_FAIL) << "a plain site that says no stops activation";
  EXPECT_TRUE(refusing.Saw("can-in-place-activate"));
  EXPECT_FALSE(refusing.Saw("on-in-place-activate"));

  // Without ambient properties, showing the object UI-activates it.
  TestSite& plainly = Site([](SiteOptions& o) { o.ambient = false; });
  EXPECT_EQ(Verb(OLEIVERB_SHOW), S_OK);
  EXPECT_EQ(plainly.Missing({"on-ui-activate", "set-border-space"}), "");
  EXPECT_NE(plainly.activeObject, nullptr);
  EXPECT_EQ(Verb(OLEIVERB_UIACTIVATE), S_OK);
  EXPECT_EQ(Verb(OLEIVERB_HIDE), S_OK);
  EXPECT_TRUE(plainly.Saw("on-ui-deactivate 0"));
  EXPECT_EQ(plainly.activeObject, nullptr);
}

TEST_F(SiteProtocol, AcceleratorsGoToTheControlSite) {
  const struct {
    const char* name;
    Adjust adjust;
    HRESULT result;
    bool asked;
  } sites[] = {
      {"the site translates", [](SiteOptions& o) { o.translateAccelerator = S_OK; }, S_OK, true},
      {"the site fails", [](SiteOptions& o) { o.translateAccelerator = E_FAIL; }, S_FALSE, true},
      {"no control site", [](SiteOptions& o) { o.controlSite = false; }, S_FALSE, false},
  };
  MSG message = {};
  message.message = WM_KEYDOWN;
  IOleInPlaceActiveObject* active = As<IOleInPlaceActiveObject>(IID_IOleInPlaceActiveObject);
  for (const auto& one : sites) {
    SCOPED_TRACE(one.name);
    TestSite& site = Site(one.adjust);
    EXPECT_EQ(active->TranslateAccelerator(&message), one.result);
    EXPECT_EQ(site.Saw("translate-accelerator 0"), one.asked) << "asked, with no modifier keys down";
  }
  active->Release();
}

TEST_F(SiteProtocol, HitTestingAndExtents) {
  IViewObjectEx* view = As<IViewObjectEx>(IID_IViewObjectEx);
  const RECT bounds = {0, 0, 100, 50};
  const RECT across = {90, 40, 200, 200};
  const RECT outside = {150, 0, 200, 50};
  DWORD hit = 99;
  EXPECT_EQ(view->QueryHitPoint(DVASPECT_CONTENT, &bounds, POINT{10, 10}, 0, &hit), S_OK);
  EXPECT_EQ(hit, static_cast<DWORD>(HITRESULT_HIT));
  EXPECT_EQ(view->QueryHitPoint(DVASPECT_CONTENT, &bounds, POINT{100, 10}, 0, &hit), S_OK);
  EXPECT_EQ(hit, static_cast<DWORD>(HITRESULT_OUTSIDE));
  EXPECT_EQ(view->QueryHitRect(DVASPECT_CONTENT, &bounds, &across, 0, &hit), S_OK);
  EXPECT_EQ(hit, static_cast<DWORD>(HITRESULT_HIT));
  EXPECT_EQ(view->QueryHitRect(DVASPECT_CONTENT, &bounds, &outside, 0, &hit), S_OK);
  EXPECT_EQ(hit, static_cast<DWORD>(HITRESULT_OUTSIDE));
  EXPECT_EQ(view->QueryHitPoint(DVASPECT_ICON, &bounds, POINT{10, 10}, 0, &hit), E_FAIL);
  EXPECT_EQ(view->QueryHitRect(DVASPECT_THUMBNAIL, &bounds, &across, 0, &hit), E_FAIL);
  DWORD status = 0;
  EXPECT_EQ(view->GetViewStatus(&status), S_OK);
  EXPECT_EQ(status, 3u);

  SIZEL size = {};
  DVEXTENTINFO info = {sizeof(info), DVEXTENT_CONTENT, {0, 0}};
  EXPECT_EQ(view->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &info, &size), S_OK);
  EXPECT_EQ(size.cx, 5080);
  EXPECT_EQ(view->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &info, nullptr), E_POINTER);
  info.dwExtentMode = DVEXTENT_INTEGRAL;
  EXPECT_EQ(view->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &info, &size), E_FAIL);

  SIZEL wanted = {2540, 1270};
  EXPECT_EQ(object_->SetExtent(DVASPECT_ICON, &wanted), DV_E_DVASPECT);
  EXPECT_EQ(object_->SetExtent(DVASPECT_CONTENT, nullptr), E_POINTER);
  EXPECT_EQ(object_->SetExtent(DVASPECT_CONTENT, &wanted), S_OK);
  EXPECT_EQ(object_->GetExtent(DVASPECT_ICON, &size), E_FAIL);
  EXPECT_EQ(object_->GetExtent(DVASPECT_CONTENT, &size), S_OK);
  EXPECT_EQ(size.cy, 1270);
  EXPECT_EQ(view->GetExtent(DVASPECT_ICON, -1, nullptr, &size), S_OK) << "the view's extent ignores the aspect";
  EXPECT_EQ(size.cx, 2540);
  view->Release();
}

TEST_F(SiteProtocol, RegistryAnswersStatusAndIdentity) {
  DWORD status = 0;
  EXPECT_EQ(object_->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
  EXPECT_EQ(status, 132497u);
  status = 7;
  object_->GetMiscStatus(DVASPECT_ICON, &status);
  EXPECT_EQ(status, 0u);
  CLSID classId = {};
  EXPECT_EQ(object_->GetUserClassID(&classId), S_OK);
  EXPECT_TRUE(::IsEqualCLSID(classId, CLSID_OrvexInstallerCtl));
  EXPECT_EQ(object_->GetUserClassID(nullptr), E_POINTER);
  LPOLESTR userType = nullptr;
  ASSERT_EQ(object_->GetUserType(USERCLASSTYPE_FULL, &userType), S_OK);
  EXPECT_STREQ(userType, L"OrvexInstallerCtl Class");
  ::CoTaskMemFree(userType);
  EXPECT_EQ(object_->EnumVerbs(nullptr), E_POINTER);

  // The site, the advise connections, the control as a control without events,
  // and what the control does not expose.
  IOleClientSite* site = reinterpret_cast<IOleClientSite*>(1);
  EXPECT_EQ(object_->GetClientSite(&site), S_OK);
  EXPECT_EQ(site, nullptr);
  EXPECT_EQ(object_->Unadvise(1), E_FAIL);
  IOleControl* control = As<IOleControl>(IID_IOleControl);
  CONTROLINFO info = {};
  EXPECT_EQ(control->GetControlInfo(&info), E_NOTIMPL) << "no mnemonics to tell";
  EXPECT_EQ(control->FreezeEvents(TRUE), S_OK);
  EXPECT_EQ(control->FreezeEvents(FALSE), S_OK);
  control->Release();
  for (const IID* absent : {&IID_IPersistStorage, &IID_IQuickActivate, &IID_ISpecifyPropertyPages, &IID_IDataObject,
                            &IID_IConnectionPointContainer, &IID_IProvideClassInfo, &IID_IProvideClassInfo2}) {
    IUnknown* face = nullptr;
    EXPECT_EQ(object_->QueryInterface(*absent, reinterpret_cast<void**>(&face)), E_NOINTERFACE);
  }
  // Every interface of the control reaches the same object.
  IUnknown* identity = As<IUnknown>(IID_IUnknown);
  for (const IID* present : {&IID_IViewObject2, &IID_IOleWindow, &IID_IOleInPlaceActiveObject, &IID_IOleControl,
                             &IID_IPersist, &IID_IObjectSafety, &IID_IObjectWithSite}) {
    IUnknown* face = As<IUnknown>(*present);
    ASSERT_NE(face, nullptr);
    IUnknown* back = nullptr;
    face->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back));
    EXPECT_EQ(back, identity);
    back->Release();
    face->Release();
  }
  identity->Release();
}

// The site a script engine gives the objects it creates: services only. A
// browser's offers its document (the container's dispatch service).
class ScriptSite final : public IServiceProvider {
 public:
  explicit ScriptSite(bool browser) : browser_(browser) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    const bool known = ::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IServiceProvider);
    *out = known ? this : nullptr;
    return known ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE QueryService(REFGUID service, REFIID iid, void** out) override {
    const GUID containerDispatch = {0xB722BE00, 0x4E68, 0x101B, {0xA2, 0xBC, 0x00, 0xAA, 0x00, 0x40, 0x47, 0x70}};
    *out = nullptr;
    if (!browser_ || !::IsEqualGUID(service, containerDispatch)) return E_NOINTERFACE;
    return QueryInterface(iid, out);
  }

 private:
  bool browser_;
};

// Only the build's listed pages (the test build: the maker's sites and local
// files) may set Info, as the container's moniker tells the page: through the
// client site, or for an object a page's script made, through the site given
// with IObjectWithSite. A refused page gets E_ACCESSDENIED and no check at all;
// Info keeps the value, and a saved Info loads without a check.
TEST_F(SiteProtocol, OnlyListedPagesRunTheCheck) {
  struct Case {
    const wchar_t* url;  // null: a site without a moniker
    bool allowed;
  };
  const Case cases[] = {
      {L"https://www.brindlewood.com/viewer.html", true}, {L"https://evil.example/viewer.html", false},
      {L"https://me@www.brindlewood.com/", false},       {nullptr, false},
  };
  IOrvexInstallerCtl* dual = As<IOrvexInstallerCtl>(IID_IOrvexInstallerCtl);
  IObjectWithSite* withSite = As<IObjectWithSite>(IID_IObjectWithSite);
  auto runs = [](const std::string& product) {
    DoubleRecord record;
    return ReadDoubleRecord(product, record) ? record.runs : 0u;
  };
  unsigned n = 0;
  for (const Case& one : cases) {
    for (const bool scriptMade : {false, true}) {
      const std::string product = "PS_Page" + std::to_string(++n);
      SCOPED_TRACE(product + (scriptMade ? " made by script" : " embedded"));
      ForgetProduct(product);
      SiteOptions options;
      options.pageUrl = one.url;
      TestSite& site = Site(options);
      if (scriptMade) {
        object_->SetClientSite(nullptr);
        ASSERT_EQ(withSite->SetSite(static_cast<IOleClientSite*>(&site)), S_OK);
        IOleClientSite* given = nullptr;
        EXPECT_EQ(withSite->GetSite(IID_IOleClientSite, reinterpret_cast<void**>(&given)), S_OK);
        EXPECT_EQ(given, static_cast<IOleClientSite*>(&site));
        if (given != nullptr) given->Release();
      }
      const std::wstring info(product.begin(), product.end());
      BSTR value = ::SysAllocString((info + L"|").c_str());
      EXPECT_EQ(dual->put_Info(value), one.allowed ? S_OK : E_ACCESSDENIED);
      EXPECT_EQ(runs(product), one.allowed ? 1u : 0u);
      BSTR back = nullptr;
      EXPECT_EQ(dual->get_Info(&back), S_OK);
      EXPECT_STREQ(back, value);
      ::SysFreeString(back);
      ::SysFreeString(value);
      withSite->SetSite(nullptr);
      ForgetProduct(product);
    }
  }
  // A script's site that offers services but no client site: a local script
  // host's, which offers none that leads to a page, leaves the control
  // unlocked; a browser's, offering its document, locks it (no URL is told).
  for (const bool browser : {false, true}) {
    const std::string product = browser ? "PS_PageBrowser" : "PS_PageScriptHost";
    SCOPED_TRACE(product);
    ForgetProduct(product);
    DropSite();
    ScriptSite scriptSite(browser);
    ASSERT_EQ(withSite->SetSite(&scriptSite), S_OK);
    const std::wstring info(product.begin(), product.end());
    BSTR value = ::SysAllocString((info + L"|").c_str());
    EXPECT_EQ(dual->put_Info(value), browser ? E_ACCESSDENIED : S_OK);
    EXPECT_EQ(runs(product), browser ? 0u : 1u);
    ::SysFreeString(value);
    withSite->SetSite(nullptr);
    ForgetProduct(product);
  }
  // A page the list refuses loads a saved Info, from a bag or a stream, and runs no check.
  const std::string product = "PS_PageLoad";
  ForgetProduct(product);
  SiteOptions refused;
  refused.pageUrl = L"https://evil.example/";
  Site(refused);
  IPersistStreamInit* stream = As<IPersistStreamInit>(IID_IPersistStreamInit);
  BSTR value = ::SysAllocString(L"PS_PageLoad|");
  ASSERT_EQ(dual->put_Info(value), E_ACCESSDENIED);
  IStream* saved = nullptr;
  ASSERT_EQ(::CreateStreamOnHGlobal(nullptr, TRUE, &saved), S_OK);
  ASSERT_EQ(stream->Save(saved, TRUE), S_OK);
  const LARGE_INTEGER start = {};
  saved->Seek(start, STREAM_SEEK_SET, nullptr);
  EXPECT_EQ(stream->Load(saved), S_OK);
  saved->Release();
  stream->Release();
  EXPECT_EQ(runs(product), 0u);
  ::SysFreeString(value);
  withSite->Release();
  dual->Release();
  ForgetProduct(product);
}

}  // namespace
}  // namespace orvex::test
