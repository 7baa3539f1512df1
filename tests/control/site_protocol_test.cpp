// Which pages may drive the control: only the build's listed pages (the test
// build's: the maker's sites and local files), as the container's moniker
// tells the page, through the client site or, for an object a page's script
// made, through the site given with IObjectWithSite. A refused page gets
// E_ACCESSDENIED and no check at all; Info keeps the value, and a saved Info
// loads without a check. The sites are the page host's own.
#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>

#include <string>

#include "class_table.h"
#include "client_site.h"
#include "installer_double_client.h"
#include "orvex_installer_ctl.h"
#include "orvex_installer_h.h"
#include "server_module.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

// The site a script engine gives the objects it makes: services only. A
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

class SiteProtocol : public ::testing::Test {
 protected:
  void SetUp() override {
    StartModule(ControlClassTable(), ::GetModuleHandleA(nullptr));
    window_ = ::CreateWindowExW(0, L"STATIC", L"page", WS_OVERLAPPEDWINDOW, 0, 0, 500, 400, nullptr, nullptr,
                                nullptr, nullptr);
    frame_ = page_host::InPlaceFrame::Create(window_, log_);
    ASSERT_EQ(CreateOrvexInstallerCtl(nullptr, IID_IOrvexInstallerCtl, reinterpret_cast<void**>(&control_)), S_OK);
    control_->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object_));
    control_->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite_));
  }
  void TearDown() override {
    for (IUnknown* each : std::initializer_list<IUnknown*>{withSite_, object_, control_, frame_}) {
      if (each != nullptr) each->Release();
    }
    ::DestroyWindow(window_);
    StopModule();
  }
  // The page host's site for a page of this URL ("": a site without a moniker).
  page_host::ClientSite* PageSite(const wchar_t* url) {
    page_host::SiteOptions options;
    options.pageUrl = url;
    return page_host::ClientSite::Create(options, log_, 1, window_, frame_, RECT{10, 20, 110, 70});
  }
  // Sets Info to "<product>|"; the put's result, and how often the check ran for it.
  std::pair<HRESULT, DWORD> SetInfo(const std::string& product) {
    ForgetProduct(product);
    const std::wstring info = std::wstring(product.begin(), product.end()) + L"|";
    BSTR value = ::SysAllocString(info.c_str());
    const HRESULT result = control_->put_Info(value);
    BSTR back = nullptr;
    control_->get_Info(&back);
    EXPECT_STREQ(back, value) << "Info keeps the value";
    ::SysFreeString(back);
    ::SysFreeString(value);
    DoubleRecord record;
    const DWORD runs = ReadDoubleRecord(product, record) ? record.runs : 0;
    ForgetProduct(product);
    return {result, runs};
  }

  page_host::HostLog log_;  // no file: the site's lines are dropped
  HWND window_ = nullptr;
  page_host::InPlaceFrame* frame_ = nullptr;
  IOrvexInstallerCtl* control_ = nullptr;
  IOleObject* object_ = nullptr;
  IObjectWithSite* withSite_ = nullptr;
};

TEST_F(SiteProtocol, OnlyListedPagesRunTheCheck) {
  const struct {
    const wchar_t* url;
    bool allowed;
  } cases[] = {
      {L"https://www.brindlewood.com/viewer.html", true},
      {L"https://evil.example/viewer.html", false},
      {L"", false},
  };
  unsigned n = 0;
  for (const auto& one : cases) {
    for (const bool scriptMade : {false, true}) {
      const std::string product = "PS_Page" + std::to_string(++n);
      SCOPED_TRACE(product + (scriptMade ? " made by script" : " embedded"));
      page_host::ClientSite* site = PageSite(one.url);
      ASSERT_EQ(scriptMade ? withSite_->SetSite(static_cast<IOleClientSite*>(site)) : object_->SetClientSite(site),
                S_OK);
      const auto [result, runs] = SetInfo(product);
      EXPECT_EQ(result, one.allowed ? S_OK : E_ACCESSDENIED);
      EXPECT_EQ(runs, one.allowed ? 1u : 0u);
      object_->SetClientSite(nullptr);
      withSite_->SetSite(nullptr);
      site->Release();
    }
  }
  // A script's site with services but no client site: a local script host's,
  // which leads to no page, leaves the control unlocked; a browser's, which
  // offers its document, locks it (no URL is told).
  for (const bool browser : {false, true}) {
    ScriptSite scriptSite(browser);
    ASSERT_EQ(withSite_->SetSite(&scriptSite), S_OK);
    EXPECT_EQ(SetInfo(browser ? "PS_PageBrowser" : "PS_PageScriptHost"),
              std::make_pair(browser ? E_ACCESSDENIED : S_OK, browser ? 0ul : 1ul));
    withSite_->SetSite(nullptr);
  }
}

TEST_F(SiteProtocol, ARefusedPageLoadsASavedInfoWithoutACheck) {
  page_host::ClientSite* site = PageSite(L"https://evil.example/");
  ASSERT_EQ(object_->SetClientSite(site), S_OK);
  EXPECT_EQ(SetInfo("PS_PageLoad").first, E_ACCESSDENIED);
  IPersistStreamInit* persist = nullptr;
  IStream* saved = nullptr;
  ASSERT_EQ(control_->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist)), S_OK);
  ASSERT_EQ(::CreateStreamOnHGlobal(nullptr, TRUE, &saved), S_OK);
  ASSERT_EQ(persist->Save(saved, TRUE), S_OK);
  saved->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
  EXPECT_EQ(persist->Load(saved), S_OK);
  DoubleRecord record;
  EXPECT_FALSE(ReadDoubleRecord("PS_PageLoad", record));
  saved->Release();
  persist->Release();
  object_->SetClientSite(nullptr);
  site->Release();
  ForgetProduct("PS_PageLoad");
}

}  // namespace
}  // namespace orvex::test
