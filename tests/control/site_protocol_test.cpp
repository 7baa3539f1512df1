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
#include "orvex_installer_ctl.h"
#include "orvex_installer_h.h"
#include "server_module.h"
#include "test_site.h"

namespace orvex::test {
namespace {

constexpr RECT kPosition = {10, 20, 110, 70};
constexpr RECT kWideClip = {0, 0, 400, 300};

class SiteProtocol : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegisterControlModule(), 0u);
    StartModule(ControlClassTable(), ::GetModuleHandleA(nullptr));
    host_ = ::CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 500, 400, nullptr,
                              nullptr, nullptr, nullptr);
    ASSERT_NE(host_, nullptr);
    ASSERT_EQ(CreateOrvexInstallerCtl(nullptr, IID_IOleObject, reinterpret_cast<void**>(&object_)), S_OK);
  }
  void TearDown() override {
    if (object_ != nullptr) {
      object_->Close(OLECLOSE_NOSAVE);
      object_->SetClientSite(nullptr);
      EXPECT_EQ(object_->Release(), 0u);
    }
    if (site_ != nullptr) {
      site_->ReleaseActiveObject();
      EXPECT_EQ(site_->references(), 0) << "the control kept a reference to its site";
      delete site_;
    }
    ::DestroyWindow(host_);
    StopModule();
    UnregisterControlModule();
  }

  TestSite& Site(const SiteOptions& options, const RECT& clip = kWideClip) {
    site_ = new TestSite(host_, options, kPosition, clip);
    EXPECT_EQ(object_->SetClientSite(site_), S_OK);
    return *site_;
  }
  // Closes the control and takes its site away, as a container swapping sites.
  void DropSite() {
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
  HRESULT WindowOf(HWND* window) {
    IOleInPlaceObject* inPlace = As<IOleInPlaceObject>(IID_IOleInPlaceObject);
    const HRESULT result = inPlace->GetWindow(window);
    inPlace->Release();
    return result;
  }
  static void Pump() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
  }

  HWND host_ = nullptr;
  IOleObject* object_ = nullptr;
  TestSite* site_ = nullptr;
};

TEST_F(SiteProtocol, WindowlessSiteGetsAWindowlessControl) {
  TestSite& site = Site({});
  EXPECT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), S_OK);
  EXPECT_TRUE(site.Saw("can-windowless-activate"));
  EXPECT_TRUE(site.Saw("on-in-place-activate-ex 1"));  // ACTIVATE_WINDOWLESS
  EXPECT_TRUE(site.Saw("invalidate-rect")) << "the redraw after in-place activation goes through the site";
  EXPECT_TRUE(site.Saw("show-object"));
  EXPECT_FALSE(site.Saw("on-ui-activate")) << "in-place activation with ambient properties does not UI-activate";
  HWND window = reinterpret_cast<HWND>(1);
  EXPECT_EQ(WindowOf(&window), E_FAIL);
  EXPECT_EQ(::GetWindow(host_, GW_CHILD), nullptr) << "a windowless control makes no window";

  // Drawing without bounds uses the position when windowless.
  IViewObject* view = As<IViewObject>(IID_IViewObject);
  HDC context = ::GetDC(host_);
  EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, context, nullptr, nullptr, nullptr, 0), S_OK);
  EXPECT_EQ(view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, context, nullptr, nullptr, nullptr, 0),
            DV_E_DVASPECT);
  ::ReleaseDC(host_, context);
  view->Release();

  // Messages come through the in-place object.
  IOleInPlaceObjectWindowless* windowless = As<IOleInPlaceObjectWindowless>(IID_IOleInPlaceObjectWindowless);
  LRESULT result = 1;
  EXPECT_EQ(windowless->OnWindowMessage(0x2000 + WM_COMMAND, 0, 0, &result), S_OK) << "reflected notification";
  EXPECT_EQ(windowless->OnWindowMessage(WM_USER + 5, 0, 0, &result), S_FALSE);
  EXPECT_EQ(windowless->OnWindowMessage(WM_SETFOCUS, 0, 0, &result), S_FALSE) << "focus passes on to default handling";
  EXPECT_TRUE(site.Saw("on-ui-activate")) << "taking the focus UI-activates";
  EXPECT_TRUE(site.Saw("set-focus 1")) << "a windowless control takes the focus through its site";
  EXPECT_TRUE(site.Saw("on-focus 1"));
  EXPECT_TRUE(site.Saw("set-active-object"));
  EXPECT_EQ(windowless->InPlaceDeactivate(), S_OK);
  EXPECT_TRUE(site.Saw("set-active-object null"));
  EXPECT_TRUE(site.Saw("on-ui-deactivate 0"));
  EXPECT_TRUE(site.Saw("on-in-place-deactivate"));
  windowless->Release();
}

TEST_F(SiteProtocol, ExtendedSiteGetsAChildWindow) {
  SiteOptions options;
  options.kind = SiteKind::kExtended;
  TestSite& site = Site(options);
  EXPECT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), S_OK);
  EXPECT_FALSE(site.Saw("can-windowless-activate"));
  EXPECT_TRUE(site.Saw("on-in-place-activate-ex 0"));
  HWND window = nullptr;
  ASSERT_EQ(WindowOf(&window), S_OK);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(::GetParent(window), host_);
  EXPECT_EQ(static_cast<DWORD>(::GetWindowLongW(window, GWL_STYLE)) & 0xFFFF0000u, 0x56000000u);
  EXPECT_EQ(::GetWindowLongW(window, GWL_EXSTYLE) & ~WS_EX_NOPARENTNOTIFY, 0);
  wchar_t className[64] = {};
  ::GetClassNameW(window, className, 64);
  EXPECT_EQ(std::wstring(className).rfind(L"OrvexCtl:", 0), 0u);
  EXPECT_EQ(std::wstring(className).size(), 17u);
  RECT placed;
  ::GetWindowRect(window, &placed);
  ::MapWindowPoints(nullptr, host_, reinterpret_cast<POINT*>(&placed), 2);
  EXPECT_EQ(placed.left, kPosition.left);
  EXPECT_EQ(placed.top, kPosition.top);
  EXPECT_EQ(placed.right - placed.left, kPosition.right - kPosition.left);

  // The window is bound to the control: painting is handled, and a
  // reflected notification reaches the control's default handling.
  ::InvalidateRect(window, nullptr, TRUE);
  ::UpdateWindow(window);
  EXPECT_TRUE(::GetUpdateRect(window, nullptr, FALSE) == FALSE);

  // Without a bounds rectangle a windowed control cannot draw.
  IViewObject* view = As<IViewObject>(IID_IViewObject);
  EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0),
            E_INVALIDARG);
  view->Release();

  // A clip that shows part of the control clips the window; a clip around
  // all of it removes the region again.
  IOleInPlaceObject* inPlace = As<IOleInPlaceObject>(IID_IOleInPlaceObject);
  const RECT partClip = {0, 0, 60, 300};
  EXPECT_EQ(inPlace->SetObjectRects(&kPosition, &partClip), S_OK);
  RECT region;
  EXPECT_EQ(::GetWindowRgnBox(window, &region), SIMPLEREGION);
  EXPECT_EQ(region.right, 50);  // 60 - 10, in window coordinates
  EXPECT_EQ(inPlace->SetObjectRects(&kPosition, &kWideClip), S_OK);
  EXPECT_EQ(::GetWindowRgnBox(window, &region), ERROR);
  EXPECT_EQ(inPlace->SetObjectRects(nullptr, &kWideClip), E_POINTER);

  EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);
  EXPECT_FALSE(::IsWindow(window)) << "deactivation destroys the window";
  EXPECT_TRUE(site.Saw("on-in-place-deactivate"));
  EXPECT_EQ(inPlace->GetWindow(&window), E_UNEXPECTED);
  inPlace->Release();
}

TEST_F(SiteProtocol, PlainSiteIsAskedFirst) {
  SiteOptions options;
  options.kind = SiteKind::kPlain;
  options.canInPlaceActivate = S_FALSE;
  TestSite& site = Site(options);
  EXPECT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), E_FAIL) << "a site that says no stops activation";
  EXPECT_FALSE(site.Saw("on-in-place-activate"));
  DropSite();

  options.canInPlaceActivate = S_OK;
  TestSite& willing = Site(options);
  EXPECT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), S_OK);
  EXPECT_TRUE(willing.Saw("can-in-place-activate"));
  EXPECT_TRUE(willing.Saw("on-in-place-activate"));
  EXPECT_FALSE(willing.Saw("on-in-place-activate-ex 0"));
  HWND window = nullptr;
  EXPECT_EQ(WindowOf(&window), S_OK);
  EXPECT_EQ(::GetParent(window), host_);

  // Close hides, deactivates and destroys the window, and lets the site go.
  EXPECT_EQ(object_->Close(OLECLOSE_NOSAVE), S_OK);
  EXPECT_TRUE(willing.Saw("on-show-window 0"));
  EXPECT_FALSE(::IsWindow(window));
  EXPECT_FALSE(willing.Saw("save-object"));
}

TEST_F(SiteProtocol, OnceWindowlessTheControlHasNoWindowToGive) {
  Site({});
  EXPECT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), S_OK);
  DropSite();

  // The next negotiation is refused windowless activation and makes a window.
  SiteOptions options;
  options.canWindowlessActivate = S_FALSE;
  TestSite& refusing = Site(options);
  EXPECT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), S_OK);
  EXPECT_TRUE(refusing.Saw("on-in-place-activate-ex 0"));
  EXPECT_NE(::GetWindow(host_, GW_CHILD), nullptr) << "the control is windowed now";
  HWND window = nullptr;
  EXPECT_EQ(WindowOf(&window), E_FAIL);
}

TEST_F(SiteProtocol, VerbsAndThePropertiesFrame) {
  SiteOptions options;
  options.controlSite = false;
  Site(options);
  EXPECT_EQ(Verb(OLEIVERB_PROPERTIES), OLEOBJ_S_CANNOT_DOVERB_NOW);
  EXPECT_EQ(Verb(OLEIVERB_OPEN), S_OK);
  EXPECT_EQ(Verb(OLEIVERB_DISCARDUNDOSTATE), S_OK);
  EXPECT_EQ(Verb(7), E_NOTIMPL);
  EXPECT_EQ(Verb(-8), E_NOTIMPL);
  DropSite();

  SiteOptions design;
  design.userMode = UserMode::kDesign;
  TestSite& designer = Site(design);
  EXPECT_EQ(Verb(OLEIVERB_PRIMARY), S_OK) << "design mode shows the property frame";
  EXPECT_TRUE(designer.Saw("show-property-frame"));
  EXPECT_FALSE(designer.Saw("show-object"));
  DropSite();

  SiteOptions failing;
  failing.showPropertyFrame = E_FAIL;
  Site(failing);
  EXPECT_EQ(Verb(OLEIVERB_PROPERTIES), OLEOBJ_S_CANNOT_DOVERB_NOW);
  DropSite();

  // Without ambient properties, showing the object UI-activates it.
  SiteOptions bare;
  bare.ambient = false;
  TestSite& plainly = Site(bare);
  EXPECT_EQ(Verb(OLEIVERB_SHOW), S_OK);
  EXPECT_TRUE(plainly.Saw("on-ui-activate"));
  EXPECT_TRUE(plainly.Saw("set-border-space"));
  ASSERT_NE(plainly.activeObject, nullptr);
  EXPECT_EQ(Verb(OLEIVERB_UIACTIVATE), S_OK);
  EXPECT_EQ(Verb(OLEIVERB_HIDE), S_OK);
  EXPECT_TRUE(plainly.Saw("on-ui-deactivate 0"));
  EXPECT_EQ(plainly.activeObject, nullptr);
}

TEST_F(SiteProtocol, AcceleratorsGoToTheControlSite) {
  SiteOptions options;
  options.translateAccelerator = S_OK;
  TestSite& site = Site(options);
  IOleInPlaceActiveObject* active = As<IOleInPlaceActiveObject>(IID_IOleInPlaceActiveObject);
  MSG message = {};
  message.message = WM_KEYDOWN;
  EXPECT_EQ(active->TranslateAccelerator(&message), S_OK);
  EXPECT_TRUE(site.Saw("translate-accelerator 0"));
  active->Release();
  DropSite();

  SiteOptions declining;
  declining.translateAccelerator = E_FAIL;
  Site(declining);
  active = As<IOleInPlaceActiveObject>(IID_IOleInPlaceActiveObject);
  EXPECT_EQ(active->TranslateAccelerator(&message), S_FALSE);
  active->Release();
  DropSite();

  SiteOptions noControlSite;
  noControlSite.controlSite = false;
  Site(noControlSite);
  active = As<IOleInPlaceActiveObject>(IID_IOleInPlaceActiveObject);
  EXPECT_EQ(active->TranslateAccelerator(&message), S_FALSE);
  active->Release();
}

TEST_F(SiteProtocol, HitTestingAndExtents) {
  IViewObjectEx* view = As<IViewObjectEx>(IID_IViewObjectEx);
  const RECT bounds = {0, 0, 100, 50};
  DWORD hit = 99;
  EXPECT_EQ(view->QueryHitPoint(DVASPECT_CONTENT, &bounds, POINT{10, 10}, 0, &hit), S_OK);
  EXPECT_EQ(hit, static_cast<DWORD>(HITRESULT_HIT));
  EXPECT_EQ(view->QueryHitPoint(DVASPECT_CONTENT, &bounds, POINT{100, 10}, 0, &hit), S_OK);
  EXPECT_EQ(hit, static_cast<DWORD>(HITRESULT_OUTSIDE));
  EXPECT_EQ(view->QueryHitPoint(DVASPECT_ICON, &bounds, POINT{10, 10}, 0, &hit), E_FAIL);
  const RECT across = {90, 40, 200, 200};
  const RECT outside = {150, 0, 200, 50};
  EXPECT_EQ(view->QueryHitRect(DVASPECT_CONTENT, &bounds, &across, 0, &hit), S_OK);
  EXPECT_EQ(hit, static_cast<DWORD>(HITRESULT_HIT));
  EXPECT_EQ(view->QueryHitRect(DVASPECT_CONTENT, &bounds, &outside, 0, &hit), S_OK);
  EXPECT_EQ(hit, static_cast<DWORD>(HITRESULT_OUTSIDE));
  EXPECT_EQ(view->QueryHitRect(DVASPECT_THUMBNAIL, &bounds, &across, 0, &hit), E_FAIL);

  DWORD status = 0;
  EXPECT_EQ(view->GetViewStatus(&status), S_OK);
  EXPECT_EQ(status, 3u);

  SIZEL size = {};
  DVEXTENTINFO info = {sizeof(info), DVEXTENT_CONTENT, {0, 0}};
  EXPECT_EQ(view->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &info, &size), S_OK);
  EXPECT_EQ(size.cx, 5080);
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
  EXPECT_EQ(view->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &info, nullptr), E_POINTER);
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
  EXPECT_EQ(object_->SetMoniker(OLEWHICHMK_OBJREL, nullptr), E_NOTIMPL);

  // The site, the advise connections, and what the control does not expose.
  IOleClientSite* site = reinterpret_cast<IOleClientSite*>(1);
  EXPECT_EQ(object_->GetClientSite(&site), S_OK);
  EXPECT_EQ(site, nullptr);
  EXPECT_EQ(object_->Unadvise(1), E_FAIL);
  for (const IID* absent : {&IID_IPersistStorage, &IID_IQuickActivate, &IID_ISpecifyPropertyPages, &IID_IDataObject,
                            &IID_IConnectionPointContainer, &IID_IProvideClassInfo, &IID_IProvideClassInfo2}) {
    IUnknown* face = nullptr;
    EXPECT_EQ(object_->QueryInterface(*absent, reinterpret_cast<void**>(&face)), E_NOINTERFACE);
  }
  // Every interface of the control reaches the same object.
  IUnknown* identity = nullptr;
  object_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
  for (const IID* present : {&IID_IViewObject2, &IID_IOleWindow, &IID_IOleInPlaceActiveObject, &IID_IOleControl,
                             &IID_IPersist, &IID_IObjectSafety}) {
    IUnknown* face = nullptr;
    ASSERT_EQ(object_->QueryInterface(*present, reinterpret_cast<void**>(&face)), S_OK);
    IUnknown* back = nullptr;
    face->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back));
    EXPECT_EQ(back, identity);
    back->Release();
    face->Release();
  }
  identity->Release();
}

TEST_F(SiteProtocol, WindowFocusUIActivatesAndReportsToTheSite) {
  SiteOptions options;
  options.kind = SiteKind::kExtended;
  TestSite& site = Site(options);
  ::ShowWindow(host_, SW_SHOW);
  EXPECT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), S_OK);
  HWND window = nullptr;
  ASSERT_EQ(WindowOf(&window), S_OK);
  ::SetFocus(window);
  Pump();
  EXPECT_TRUE(site.Saw("on-ui-activate"));
  EXPECT_TRUE(site.Saw("on-focus 1"));
  ::SetFocus(host_);
  Pump();
  EXPECT_TRUE(site.Saw("on-focus 0"));
  // A reflected notification gets the default handling of the plain message:
  // for a colour request, a brush (an unknown message would give 0).
  HDC context = ::GetDC(window);
  EXPECT_NE(::SendMessageW(window, 0x2000 + WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(context),
                           reinterpret_cast<LPARAM>(window)),
            0);
  ::ReleaseDC(window, context);
}

}  // namespace
}  // namespace orvex::test
