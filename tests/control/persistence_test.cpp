// The control's saved forms: the stream and the property bag. Loading either
// sets Info through the dispatch interface, and so runs the install check.
#include <gtest/gtest.h>

#include <windows.h>
#include <objsafe.h>
#include <ocidl.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "class_table.h"
#include "control_module.h"
#include "installer_double_client.h"
#include "orvex_installer_ctl.h"
#include "orvex_installer_h.h"
#include "server_module.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

// A property bag of the names it was given, recording what is written to it.
class Bag final : public IPropertyBag {
 public:
  ~Bag() {
    for (auto& entry : values) ::VariantClear(&entry.second);
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (!::IsEqualIID(iid, IID_IUnknown) && !::IsEqualIID(iid, IID_IPropertyBag)) return E_NOINTERFACE;
    *out = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    auto found = values.find(name);
    if (found == values.end()) return E_INVALIDARG;
    const VARTYPE wanted = value->vt;
    return ::VariantChangeType(value, &found->second, 0, wanted == VT_EMPTY ? found->second.vt : wanted);
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
    VARIANT& slot = values[name];
    ::VariantInit(&slot);
    return ::VariantCopy(&slot, value);
  }
  void Set(const wchar_t* name, const wchar_t* text) {
    VARIANT& slot = values[name];
    ::VariantInit(&slot);
    slot.vt = VT_BSTR;
    slot.bstrVal = ::SysAllocString(text);
  }
  std::map<std::wstring, VARIANT> values;
};

class Persistence : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegisterControlModule(), 0u) << "the type library must be registered";
    StartModule(ControlClassTable(), ::GetModuleHandleA(nullptr));
    for (const char* name : {"PS_Stream", "PS_Bag"}) ForgetProduct(name);
  }
  void TearDown() override {
    StopModule();
    UnregisterControlModule();
    for (const char* name : {"PS_Stream", "PS_Bag"}) ForgetProduct(name);
  }
  template <typename Interface>
  static Interface* NewControl(REFIID iid) {
    Interface* control = nullptr;
    EXPECT_EQ(CreateOrvexInstallerCtl(nullptr, iid, reinterpret_cast<void**>(&control)), S_OK);
    return control;
  }
  static DWORD CheckRuns(const char* name) {
    DoubleRecord record;
    return ReadDoubleRecord(name, record) ? record.runs : 0;
  }
  static std::wstring Info(IUnknown* control) {
    IOrvexInstallerCtl* dual = nullptr;
    control->QueryInterface(IID_IOrvexInstallerCtl, reinterpret_cast<void**>(&dual));
    BSTR value = nullptr;
    dual->get_Info(&value);
    dual->Release();
    std::wstring text = value != nullptr ? value : L"";
    ::SysFreeString(value);
    return text;
  }
};

TEST_F(Persistence, StreamHoldsTheFormatAndLoadingItRunsTheCheck) {
  IOrvexInstallerCtl* first = NewControl<IOrvexInstallerCtl>(IID_IOrvexInstallerCtl);
  BSTR info = ::SysAllocString(L"PS_Stream");
  ASSERT_EQ(first->put_Info(info), S_OK);
  ::SysFreeString(info);
  EXPECT_EQ(CheckRuns("PS_Stream"), 1u);

  IPersistStreamInit* persist = nullptr;
  ASSERT_EQ(first->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist)), S_OK);
  IStream* stream = nullptr;
  ASSERT_EQ(::CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
  ASSERT_EQ(persist->Save(stream, TRUE), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  persist->Release();
  first->Release();

  HGLOBAL memory = nullptr;
  ::GetHGlobalFromStream(stream, &memory);
  const auto* bytes = static_cast<const unsigned char*>(::GlobalLock(memory));
  const unsigned char expected[] = {0x00, 0x03, 0x00, 0x00, 0xD8, 0x13, 0, 0, 0xD8, 0x13, 0, 0, 8, 0,
                                    9, 0, 0, 0, 'P', 'S', '_', 'S', 't', 'r', 'e', 'a', 'm'};
  EXPECT_EQ(std::memcmp(bytes, expected, sizeof(expected)), 0) << "version, _cx, _cy, VT_BSTR, count, bytes";
  ::GlobalUnlock(memory);

  IPersistStreamInit* second = NewControl<IPersistStreamInit>(IID_IPersistStreamInit);
  const LARGE_INTEGER start = {};
  stream->Seek(start, STREAM_SEEK_SET, nullptr);
  ASSERT_EQ(second->Load(stream), S_OK);
  EXPECT_EQ(CheckRuns("PS_Stream"), 2u) << "loading a saved control runs the check";
  EXPECT_EQ(Info(second), L"PS_Stream");
  second->Release();
  stream->Release();
}

TEST_F(Persistence, StreamsOfANewerFormatOrCutShortFail) {
  IPersistStreamInit* control = NewControl<IPersistStreamInit>(IID_IPersistStreamInit);
  const unsigned char newer[] = {0x01, 0x03, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0, 0};
  const unsigned char cut[] = {0x00, 0x03, 0x00, 0x00, 0xD8, 0x13, 0, 0, 0xD8, 0x13, 0, 0, 8, 0, 9, 0, 0, 0, 'P', 'S'};
  for (const auto& bytes : {std::vector<unsigned char>(newer, newer + sizeof(newer)),
                            std::vector<unsigned char>(cut, cut + sizeof(cut))}) {
    IStream* stream = nullptr;
    ASSERT_EQ(::CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
    const LARGE_INTEGER start = {};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(control->Load(stream), E_FAIL);
    stream->Release();
  }
  EXPECT_EQ(Info(control), L"") << "nothing was put";
  control->Release();
}

TEST_F(Persistence, PropertyBagParameterRunsTheCheckAndSavesTheMap) {
  IPersistPropertyBag* control = NewControl<IPersistPropertyBag>(IID_IPersistPropertyBag);
  Bag empty;
  EXPECT_EQ(control->Load(&empty, nullptr), S_OK) << "missing names are skipped";
  EXPECT_EQ(CheckRuns("PS_Bag"), 0u);

  Bag page;
  page.Set(L"Info", L"PS_Bag");
  page.Set(L"_cx", L"100");
  ASSERT_EQ(control->Load(&page, nullptr), S_OK);
  EXPECT_EQ(CheckRuns("PS_Bag"), 1u);

  Bag saved;
  ASSERT_EQ(control->Save(&saved, TRUE, TRUE), S_OK);
  EXPECT_EQ(saved.values[L"_cx"].vt, VT_UI4);
  EXPECT_EQ(saved.values[L"_cx"].ulVal, 100u);
  EXPECT_EQ(saved.values[L"_cy"].ulVal, 5080u);
  ASSERT_EQ(saved.values[L"Info"].vt, VT_BSTR);
  EXPECT_EQ(std::wstring(saved.values[L"Info"].bstrVal), L"PS_Bag");

  IPersist* persist = nullptr;
  ASSERT_EQ(control->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist)), S_OK);
  CLSID classId = {};
  EXPECT_EQ(persist->GetClassID(&classId), S_OK);
  EXPECT_TRUE(::IsEqualCLSID(classId, CLSID_OrvexInstallerCtl));
  persist->Release();
  control->Release();
}

TEST_F(Persistence, ControlInterfaceAnswersAsAnEventlessControl) {
  IOleControl* control = NewControl<IOleControl>(IID_IOleControl);
  ASSERT_NE(control, nullptr);
  CONTROLINFO info = {};
  EXPECT_EQ(control->GetControlInfo(&info), E_NOTIMPL);
  EXPECT_EQ(control->OnMnemonic(nullptr), E_NOTIMPL);
  EXPECT_EQ(control->OnAmbientPropertyChange(DISPID_UNKNOWN), S_OK);
  EXPECT_EQ(control->FreezeEvents(TRUE), S_OK);
  EXPECT_EQ(control->FreezeEvents(FALSE), S_OK);
  control->Release();
}

TEST_F(Persistence, SafetyOptionsAreOneSetForTheObject) {
  IObjectSafety* safety = NewControl<IObjectSafety>(IID_IObjectSafety);
  ASSERT_NE(safety, nullptr);
  DWORD supported = 7;
  DWORD enabled = 7;
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled), E_POINTER);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IOleCache, &supported, &enabled), E_NOINTERFACE);
  EXPECT_EQ(supported, 0u);
  EXPECT_EQ(enabled, 0u);

  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_CALLER,
                                              INTERFACESAFE_FOR_UNTRUSTED_CALLER),
            S_OK);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPersistPropertyBag, INTERFACESAFE_FOR_UNTRUSTED_DATA,
                                              INTERFACESAFE_FOR_UNTRUSTED_DATA),
            S_OK);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 4, 4), E_FAIL) << "an option other than the two";
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IOleCache, 1, 1), E_NOINTERFACE);
  safety->GetInterfaceSafetyOptions(IID_IOrvexInstallerCtl, &supported, &enabled);
  EXPECT_EQ(enabled, 3u) << "both options, set through two interfaces, are the object's";
  safety->SetInterfaceSafetyOptions(IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_CALLER, 0);
  safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
  EXPECT_EQ(enabled, 2u) << "only the masked option changes";
  safety->Release();
}

}  // namespace
}  // namespace orvex::test
