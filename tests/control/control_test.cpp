// The control made in this process: its saved stream, its Info property, its
// safety options, and which pages may drive it. Loading a stream puts Info
// through the dispatch interface, and so runs the install check, unless the
// page may not drive the control.
#include <gtest/gtest.h>

#include <windows.h>
#include <objsafe.h>
#include <ocidl.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "check_test_support.h"
#include "class_table.h"
#include "client_site.h"
#include "com_ptr.h"
#include "orvex_installer_ctl.h"
#include "orvex_installer_h.h"
#include "server_module.h"

namespace orvex::test {
namespace {

using Bytes = std::vector<unsigned char>;

template <typename Fixed>
Bytes Raw(Fixed value) {
  const auto* data = reinterpret_cast<const unsigned char*>(&value);
  return Bytes(data, data + sizeof(value));
}

// A text value as a stream holds it: the count, then one byte per character.
Bytes Counted(const std::string& text, DWORD count) {
  Bytes bytes(sizeof(count) + text.size());
  std::memcpy(bytes.data(), &count, sizeof(count));
  std::memcpy(bytes.data() + sizeof(count), text.data(), text.size());
  return bytes;
}
Bytes Counted(const std::string& text) { return Counted(text, static_cast<DWORD>(text.size())); }

// A stream: the format version, an extent of 1111 x 2222, the VARTYPE of Info, its value.
Bytes StreamBytes(VARTYPE type, const Bytes& value, DWORD version = 0x300) {
  Bytes bytes = Raw(version);
  for (const Bytes& part : {Raw<LONG>(1111), Raw<LONG>(2222), Raw(type), value}) {
    bytes.insert(bytes.end(), part.begin(), part.end());
  }
  return bytes;
}

HRESULT Load(IUnknown* control, const Bytes& bytes) {
  ComPtr<IPersistStreamInit> persist;
  ComPtr<IStream> stream;
  HRESULT result = control->QueryInterface(IID_IPersistStreamInit, persist.OutVoid());
  if (SUCCEEDED(result)) result = ::CreateStreamOnHGlobal(nullptr, TRUE, stream.Out());
  if (FAILED(result)) return result;
  if (!bytes.empty()) stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
  stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
  return persist->Load(stream.get());
}

// What the control saves now, or nothing when it cannot save.
Bytes Saved(IUnknown* control) {
  ComPtr<IPersistStreamInit> persist;
  ComPtr<IStream> stream;
  Bytes bytes;
  STATSTG stat = {};
  if (SUCCEEDED(control->QueryInterface(IID_IPersistStreamInit, persist.OutVoid())) &&
      SUCCEEDED(::CreateStreamOnHGlobal(nullptr, TRUE, stream.Out())) && SUCCEEDED(persist->Save(stream.get(), TRUE)) &&
      SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME))) {
    bytes.resize(static_cast<std::size_t>(stat.cbSize.QuadPart));
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
  }
  return bytes;
}

class ControlTest : public CheckTest {
 protected:
  void SetUp() override { StartModule(ControlClassTable(), ::GetModuleHandleA(nullptr)); }
  void TearDown() override {
    StopModule();
    CheckTest::TearDown();
  }
  template <typename Interface = IOrvexInstallerCtl>
  static Interface* NewControl(REFIID iid = IID_IOrvexInstallerCtl) {
    Interface* control = nullptr;
    EXPECT_EQ(CreateOrvexInstallerCtl(nullptr, iid, reinterpret_cast<void**>(&control)), S_OK);
    return control;
  }
  static std::wstring Info(IOrvexInstallerCtl* control) {
    BSTR value = nullptr;
    control->get_Info(&value);
    std::wstring text(value != nullptr ? value : L"", ::SysStringLen(value));
    ::SysFreeString(value);
    return text;
  }
  static HRESULT Put(IOrvexInstallerCtl* control, const std::wstring& info) {
    BSTR value = ::SysAllocStringLen(info.data(), static_cast<UINT>(info.size()));
    const HRESULT result = control->put_Info(value);
    ::SysFreeString(value);
    return result;
  }
};

using Persistence = ControlTest;

// Any text set as Info comes back whole; what a control saves loads into
// another, each character with its low byte (pages' parameters, loaded through
// a property bag, are the page host's suites'). A refused stream fails the load
// and changes neither the extent nor Info; a value of another kind that Info
// takes reaches it as text, and runs the check.
TEST_F(Persistence, StreamsLoadWholeOrChangeNothing) {
  for (const char* name : {"PS_Long", "PS_Refused", "-7301", "1234", "9000000001"}) Product(name);
  IOrvexInstallerCtl* saver = NewControl();
  // After the product name a second field too long for the block, so that the
  // check refuses the text; then characters from all over the range, none
  // with a zero low byte (which a stream would turn into a NUL).
  std::wstring info = L"PS_Long|" + std::wstring(60, L'C');
  for (std::size_t i = 0; info.size() < 300000; ++i) {
    const auto c = static_cast<wchar_t>(0x20 + (i * 40503) % 0xFFD0);
    if ((c & 0xFF) != 0) info += c;
  }
  EXPECT_EQ(Put(saver, info), S_OK);
  EXPECT_TRUE(Info(saver) == info) << "Info did not come back whole";
  const Bytes saved = Saved(saver);
  saver->Release();
  IOrvexInstallerCtl* control = NewControl();
  ASSERT_EQ(Load(control, saved), S_OK);
  for (wchar_t& c : info) c &= 0xFF;
  EXPECT_TRUE(Info(control) == info);
  EXPECT_TRUE(Saved(control) == saved);
  EXPECT_EQ(ReadDoubleRecord("PS_Long").runs, 0u) << "the check refuses fields longer than the block";

  const Bytes whole = StreamBytes(VT_BSTR, Counted("PS_Refused"));
  Bytes ownClass = Raw(CLSID_OrvexInstallerCtl);
  ownClass.resize(sizeof(CLSID) + 18);
  std::vector<std::pair<std::string, Bytes>> refused = {
      {"a newer format", StreamBytes(VT_BSTR, Counted("PS_Refused"), 0x301)},
      {"no such VARTYPE", StreamBytes(0x7FFF, Counted("PS_Refused"))},
      {"a null object", StreamBytes(VT_UNKNOWN, Bytes(20, 0))},
      {"a null dispatch object", StreamBytes(VT_DISPATCH, Bytes(20, 0))},
      {"an object of the control's class", StreamBytes(VT_UNKNOWN, ownClass)},
      {"a number kind without a number", StreamBytes(VT_I8, Counted("PS_Refused"))},
      {"an error code, which Info does not take", StreamBytes(VT_ERROR, Raw<LONG>(E_FAIL))},
      {"a count past the stream", StreamBytes(VT_BSTR, Counted("PS_Refused", 0x7FFFFFFF))},
      {"a count past any string", StreamBytes(VT_BSTR, Counted("PS_Refused", 0xFFFFFFFF))},
  };
  for (std::size_t size = 0; size < whole.size(); ++size) {
    refused.push_back({"cut to " + std::to_string(size) + " bytes", Bytes(whole.data(), whole.data() + size)});
  }
  for (const auto& [what, bytes] : refused) {
    EXPECT_EQ(Load(control, bytes), E_FAIL) << what;
    EXPECT_TRUE(Saved(control) == saved) << what << ": the extent or Info changed";
  }
  EXPECT_EQ(ReadDoubleRecord("PS_Refused").runs, 0u);

  for (const auto& [bytes, text] : {std::make_pair(StreamBytes(VT_I4, Raw<LONG>(-7301)), "-7301"),
                                    std::make_pair(StreamBytes(VT_R8, Raw<double>(1234.0)), "1234"),
                                    std::make_pair(StreamBytes(VT_I8, Counted("9000000001")), "9000000001")}) {
    EXPECT_EQ(Load(control, bytes), S_OK) << text;
    EXPECT_EQ(Info(control), std::wstring(text, text + std::strlen(text)));
    EXPECT_EQ(ReadDoubleRecord(text).runs, 1u) << text;
  }
  control->Release();
}

// Both options, for untrusted callers (1) and untrusted data (2), are one set
// for the whole object, whichever of its interfaces they are set through.
TEST_F(Persistence, SafetyOptionsAreOneSetForTheObject) {
  IObjectSafety* safety = NewControl<IObjectSafety>(IID_IObjectSafety);
  DWORD supported = 7;
  DWORD enabled = 7;
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 4, 4), E_FAIL) << "an option other than the two";
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 1), S_OK);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPersistPropertyBag, 2, 2), S_OK);
  safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 0);
  safety->GetInterfaceSafetyOptions(IID_IOrvexInstallerCtl, &supported, &enabled);
  EXPECT_EQ(enabled, 2u) << "only the masked option changes";
  safety->Release();
}

using SiteProtocol = ControlTest;

// The site a browser's script engine gives the objects it makes: services
// only, among them its document (the container's dispatch service).
class ScriptSite final : public IServiceProvider {
 public:
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
    return ::IsEqualGUID(service, containerDispatch) ? QueryInterface(iid, out) : E_NOINTERFACE;
  }
};

// Only the build's listed pages (the test build's: the maker's sites and local
// files) may set Info, as the container's moniker tells the page, through the
// client site or, for an object a page's script made, through the site given
// with IObjectWithSite. A refused page gets E_ACCESSDENIED and no check; Info
// keeps the value, and a saved Info loads without a check. The client sites
// are the page host's.
TEST_F(SiteProtocol, OnlyListedPagesRunTheCheck) {
  page_host::HostLog log;  // no file: the sites' lines are dropped
  const HWND window = ::CreateWindowExW(0, L"STATIC", L"page", WS_OVERLAPPEDWINDOW, 0, 0, 500, 400, nullptr, nullptr,
                                        nullptr, nullptr);
  page_host::InPlaceFrame* frame = page_host::InPlaceFrame::Create(window, log);
  IOrvexInstallerCtl* control = NewControl();
  IOleObject* object = nullptr;
  ASSERT_EQ(control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object)), S_OK);
  IObjectWithSite* withSite = nullptr;
  ASSERT_EQ(control->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite)), S_OK);
  const struct {
    const wchar_t* url;  // "": a site without a moniker
    bool allowed;
  } cases[] = {{L"https://www.brindlewood.com/viewer.html", true}, {L"https://evil.example/viewer.html", false},
               {L"", false}};
  unsigned n = 0;
  for (const auto& one : cases) {
    for (const bool scriptMade : {false, true}) {
      const std::string product = "PS_Page" + std::to_string(++n);
      Product(product);
      page_host::SiteOptions options;
      options.pageUrl = one.url;
      auto* site = page_host::ClientSite::Create(options, log, 1, window, frame, RECT{10, 20, 110, 70});
      ASSERT_EQ(scriptMade ? withSite->SetSite(static_cast<IOleClientSite*>(site)) : object->SetClientSite(site), S_OK);
      const std::wstring info(product.begin(), product.end());
      EXPECT_EQ(Put(control, info), one.allowed ? S_OK : E_ACCESSDENIED) << product;
      EXPECT_EQ(Info(control), info) << product;
      EXPECT_EQ(ReadDoubleRecord(product).runs, one.allowed ? 1u : 0u) << product;
      if (!one.allowed) {
        EXPECT_EQ(Load(control, Saved(control)), S_OK) << product;
        EXPECT_EQ(ReadDoubleRecord(product).runs, 0u) << product << ": a refused page loads without a check";
      }
      object->SetClientSite(nullptr);
      withSite->SetSite(nullptr);
      site->Release();
    }
  }
  // A browser's script site, with services but no client site, locks it too,
  // though no URL is told (a local script host's, which leads to no page, is
  // the Scripting suite's).
  Product("PS_PageBrowser");
  ScriptSite scriptSite;
  ASSERT_EQ(withSite->SetSite(&scriptSite), S_OK);
  EXPECT_EQ(Put(control, L"PS_PageBrowser"), E_ACCESSDENIED);
  EXPECT_EQ(ReadDoubleRecord("PS_PageBrowser").runs, 0u);
  withSite->SetSite(nullptr);
  for (IUnknown* each : std::initializer_list<IUnknown*>{withSite, object, control, frame}) each->Release();
  ::DestroyWindow(window);
}

}  // namespace
}  // namespace orvex::test
