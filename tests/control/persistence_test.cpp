// The control's saved forms: the stream and the property bag. Loading either
// sets Info through the dispatch interface, and so runs the install check.
#include <gtest/gtest.h>

#include <windows.h>
#include <objsafe.h>
#include <ocidl.h>
#include <psapi.h>

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
// A stubborn one answers with the values it holds, whatever type it is asked
// for, and takes no writes.
class Bag final : public IPropertyBag {
 public:
  explicit Bag(bool stubborn = false) : stubborn_(stubborn) {}
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
    if (stubborn_) {
      ::VariantInit(value);
      return ::VariantCopy(value, &found->second);
    }
    const VARTYPE wanted = value->vt;
    return ::VariantChangeType(value, &found->second, 0, wanted == VT_EMPTY ? found->second.vt : wanted);
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
    if (stubborn_) return E_NOTIMPL;
    VARIANT& slot = values[name];
    ::VariantInit(&slot);
    return ::VariantCopy(&slot, value);
  }
  void Set(const wchar_t* name, const wchar_t* text) {
    VARIANT& slot = Set(name, VT_BSTR);
    slot.bstrVal = ::SysAllocString(text);
  }
  VARIANT& Set(const wchar_t* name, VARTYPE type) {
    VARIANT& slot = values[name];
    ::VariantInit(&slot);
    slot.vt = type;
    return slot;
  }
  std::map<std::wstring, VARIANT> values;

 private:
  bool stubborn_;
};

// A saved stream: version, _cx, _cy, the VARTYPE of Info and its recorded bytes.
std::vector<unsigned char> StreamBytes(VARTYPE type, const std::vector<unsigned char>& value, LONG cx = 5080,
                                       LONG cy = 5080, DWORD version = 0x00000300) {
  std::vector<unsigned char> bytes(14 + value.size());
  std::memcpy(&bytes[0], &version, 4);
  std::memcpy(&bytes[4], &cx, 4);
  std::memcpy(&bytes[8], &cy, 4);
  std::memcpy(&bytes[12], &type, 2);
  if (!value.empty()) std::memcpy(&bytes[14], value.data(), value.size());
  return bytes;
}

// A value in its string form: the count, then one byte per character.
std::vector<unsigned char> Counted(DWORD count, const std::string& text) {
  std::vector<unsigned char> bytes(4 + text.size());
  std::memcpy(&bytes[0], &count, 4);
  if (!text.empty()) std::memcpy(&bytes[4], text.data(), text.size());
  return bytes;
}

std::vector<unsigned char> Counted(const std::string& text) { return Counted(static_cast<DWORD>(text.size()), text); }

template <typename Fixed>
std::vector<unsigned char> Raw(Fixed value) {
  std::vector<unsigned char> bytes(sizeof(value));
  std::memcpy(bytes.data(), &value, sizeof(value));
  return bytes;
}

// A stream over a copy of bytes, positioned at its start.
IStream* StreamOf(const std::vector<unsigned char>& bytes) {
  IStream* stream = nullptr;
  if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return nullptr;
  if (!bytes.empty()) stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
  const LARGE_INTEGER start = {};
  stream->Seek(start, STREAM_SEEK_SET, nullptr);
  return stream;
}

HRESULT LoadBytes(IPersistStreamInit* control, const std::vector<unsigned char>& bytes) {
  IStream* stream = StreamOf(bytes);
  if (stream == nullptr) return E_OUTOFMEMORY;
  const HRESULT result = control->Load(stream);
  stream->Release();
  return result;
}

// What the control saves now: its extent and Info, as the stream holds them.
std::vector<unsigned char> Saved(IUnknown* control) {
  IPersistStreamInit* persist = nullptr;
  IStream* stream = nullptr;
  std::vector<unsigned char> bytes;
  if (SUCCEEDED(control->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist))) &&
      SUCCEEDED(::CreateStreamOnHGlobal(nullptr, TRUE, &stream)) && SUCCEEDED(persist->Save(stream, TRUE))) {
    HGLOBAL memory = nullptr;
    ::GetHGlobalFromStream(stream, &memory);
    ULARGE_INTEGER size = {};
    const LARGE_INTEGER none = {};
    stream->Seek(none, STREAM_SEEK_CUR, &size);
    const auto* data = static_cast<const unsigned char*>(::GlobalLock(memory));
    bytes.assign(data, data + size.QuadPart);
    ::GlobalUnlock(memory);
  }
  if (stream != nullptr) stream->Release();
  if (persist != nullptr) persist->Release();
  return bytes;
}

// What a fresh control saves: the default extent and no Info.
const std::vector<unsigned char> kFresh = StreamBytes(VT_BSTR, Counted(""));

// The highest the process's memory has been, as far as the platform tells.
SIZE_T PeakMemory() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof(counters);
  ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof(counters));
  SIZE_T peak = counters.PeakWorkingSetSize;
  for (SIZE_T other : {counters.PeakPagefileUsage, counters.PrivateUsage}) peak = other > peak ? other : peak;
  return peak;
}

// Product names the tests' Info texts start the check for.
constexpr const char* kProducts[] = {"PS_Stream", "PS_Bag", "PS_Cut", "PS_Odd",       "PS_Huge", "PS_Long",
                                     "-7301",     "200",    "1234",   "9000000001", "7302"};

class Persistence : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegisterControlModule(), 0u) << "the type library must be registered";
    StartModule(ControlClassTable(), ::GetModuleHandleA(nullptr));
    for (const char* name : kProducts) ForgetProduct(name);
  }
  void TearDown() override {
    StopModule();
    UnregisterControlModule();
    for (const char* name : kProducts) ForgetProduct(name);
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

TEST_F(Persistence, StreamsOfANewerFormatOrCutShortFailAndChangeNothing) {
  IPersistStreamInit* control = NewControl<IPersistStreamInit>(IID_IPersistStreamInit);
  ASSERT_EQ(LoadBytes(control, StreamBytes(VT_BSTR, Counted("PS_Cut"), 1111, 2222, 0x00000301)), E_FAIL);
  // Cut after the version, inside and after _cx and _cy, inside the VARTYPE,
  // inside the count and inside the characters.
  const std::vector<unsigned char> whole = StreamBytes(VT_BSTR, Counted("PS_Cut"), 1111, 2222);
  for (std::size_t size = 0; size < whole.size(); ++size) {
    EXPECT_EQ(LoadBytes(control, std::vector<unsigned char>(whole.data(), whole.data() + size)), E_FAIL)
        << "cut to " << size << " bytes";
    EXPECT_TRUE(Saved(control) == kFresh) << "cut to " << size << " bytes: the extent or Info changed";
  }
  EXPECT_TRUE(Info(control).empty()) << "nothing was put";
  EXPECT_EQ(CheckRuns("PS_Cut"), 0u);

  ASSERT_EQ(LoadBytes(control, whole), S_OK) << "the whole stream loads";
  EXPECT_EQ(CheckRuns("PS_Cut"), 1u);
  EXPECT_TRUE(Saved(control) == whole);
  control->Release();
}

TEST_F(Persistence, StreamValuesOfKindsNotForInfoAreRefused) {
  IPersistStreamInit* control = NewControl<IPersistStreamInit>(IID_IPersistStreamInit);
  const std::vector<unsigned char> nullObject(16 + 4, 0);  // a null class id, then more bytes
  const std::vector<unsigned char> text = Counted("PS_Odd");
  std::vector<unsigned char> controlObject = Raw(CLSID_OrvexInstallerCtl);  // the control's own class
  controlObject.resize(sizeof(CLSID) + 18);
  const struct {
    VARTYPE type;
    std::vector<unsigned char> value;
  } refused[] = {
      {0x7FFF, text},                  // no such type
      {VT_UNKNOWN, nullObject},        // objects are never loaded
      {VT_DISPATCH, nullObject},
      {VT_UNKNOWN, controlObject},
      {VT_I8, text},                   // a number kind, but no number
      {VT_ERROR, Raw<LONG>(E_FAIL)},   // read, but the property takes no error code
  };
  for (const auto& odd : refused) {
    EXPECT_EQ(LoadBytes(control, StreamBytes(odd.type, odd.value, 1111, 2222)), E_FAIL) << "VARTYPE " << odd.type;
    EXPECT_TRUE(Saved(control) == kFresh) << "VARTYPE " << odd.type << ": the extent or Info changed";
  }
  EXPECT_EQ(CheckRuns("PS_Odd"), 0u);
  control->Release();
}

TEST_F(Persistence, CountsBeyondTheStreamFailWithoutTheirMemory) {
  IPersistStreamInit* control = NewControl<IPersistStreamInit>(IID_IPersistStreamInit);
  constexpr SIZE_T kAllowedGrowth = 64u << 20;
  for (const DWORD count : {0xFFFFFFFFu, 0x7FFFFFFFu, 0x3FFFFFFFu, 0x10000000u, 0x00100000u}) {
    const SIZE_T before = PeakMemory();
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_EQ(LoadBytes(control, StreamBytes(VT_BSTR, Counted(count, "PS_Huge"))), E_FAIL) << std::hex << count;
    const ULONGLONG elapsed = ::GetTickCount64() - start;
    const SIZE_T after = PeakMemory();
    const SIZE_T growth = after > before ? after - before : 0;
    EXPECT_LT(growth, kAllowedGrowth) << std::hex << count << ": the peak grew by " << std::dec << (growth >> 20)
                                      << " MiB";
    EXPECT_LT(elapsed, 3000u) << std::hex << count;
    EXPECT_TRUE(Saved(control) == kFresh) << std::hex << count;
  }
  EXPECT_EQ(CheckRuns("PS_Huge"), 0u);
  control->Release();
}

TEST_F(Persistence, StreamValuesOfOtherKindsReachInfoAsText) {
  const struct {
    VARTYPE type;
    std::vector<unsigned char> value;
    const wchar_t* info;
  } kinds[] = {
      {VT_I4, Raw<LONG>(-7301), L"-7301"},
      {VT_UI1, Raw<BYTE>(200), L"200"},
      {VT_R8, Raw<double>(1234.0), L"1234"},
      {VT_I8, Counted("9000000001"), L"9000000001"},  // kept as text, read back as its type
  };
  for (const auto& kind : kinds) {
    IPersistStreamInit* control = NewControl<IPersistStreamInit>(IID_IPersistStreamInit);
    EXPECT_EQ(LoadBytes(control, StreamBytes(kind.type, kind.value)), S_OK) << "VARTYPE " << kind.type;
    EXPECT_EQ(Info(control), kind.info);
    char product[32] = {};
    ::WideCharToMultiByte(CP_ACP, 0, kind.info, -1, product, sizeof(product), nullptr, nullptr);
    EXPECT_EQ(CheckRuns(product), 1u) << "the put runs the check: " << product;
    control->Release();
  }
}

TEST_F(Persistence, FreshInfoIsNullAndEveryReadIsACopyOfItsOwn) {
  IOrvexInstallerCtl* control = NewControl<IOrvexInstallerCtl>(IID_IOrvexInstallerCtl);
  BSTR value = reinterpret_cast<BSTR>(1);
  ASSERT_EQ(control->get_Info(&value), S_OK);
  EXPECT_EQ(value, nullptr) << "Info was never set";
  EXPECT_EQ(control->get_Info(nullptr), E_POINTER);
  BSTR info = ::SysAllocString(L"PS_Copies");
  ASSERT_EQ(control->put_Info(info), S_OK);
  BSTR first = nullptr;
  BSTR second = nullptr;
  ASSERT_EQ(control->get_Info(&first), S_OK);
  ASSERT_EQ(control->get_Info(&second), S_OK);
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first, L"PS_Copies");
  EXPECT_NE(first, info) << "the caller's string was kept";
  EXPECT_NE(first, second) << "each read is the caller's to free";
  ::SysFreeString(info);
  ::SysFreeString(first);
  ::SysFreeString(second);
  control->Release();
  ForgetProduct("PS_Copies");
}

TEST_F(Persistence, InfoOfAnyLengthComesBackWhole) {
  // After the product name and a second field too long for the block (so the
  // check refuses the text and no installer starts), characters from all over
  // the range, none with a zero low byte (which a stream would turn into a
  // NUL, where a put ends the text).
  auto text = [](std::size_t length) {
    std::wstring info = L"PS_Long|" + std::wstring(60, L'C');
    for (std::size_t i = 0; info.size() < length; ++i) {
      const auto c = static_cast<wchar_t>(0x20 + (i * 40503) % 0xFFD0);
      if ((c & 0xFF) != 0) info += c;
    }
    info.resize(length);
    return info;
  };
  IOrvexInstallerCtl* control = NewControl<IOrvexInstallerCtl>(IID_IOrvexInstallerCtl);
  for (const std::wstring& info : {std::wstring(1, L'\x4E2D'), text(3000), text(300000)}) {
    BSTR value = ::SysAllocStringLen(info.data(), static_cast<UINT>(info.size()));
    ASSERT_EQ(control->put_Info(value), S_OK);
    ::SysFreeString(value);
    BSTR back = nullptr;
    ASSERT_EQ(control->get_Info(&back), S_OK);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(::SysStringLen(back), info.size());
    EXPECT_TRUE(::SysStringLen(back) == info.size() && std::memcmp(back, info.data(), info.size() * 2) == 0)
        << "Info of " << info.size() << " characters did not come back whole";
    ::SysFreeString(back);
  }
  EXPECT_EQ(CheckRuns("PS_Long"), 0u) << "the check refuses fields longer than the block";

  // Through a stream the long text keeps its length and each character's low byte.
  std::vector<unsigned char> saved = Saved(control);
  ASSERT_EQ(saved.size(), 18u + 300000u);
  const std::wstring info = text(300000);
  bool lowBytes = true;
  for (std::size_t i = 0; i < info.size(); ++i) lowBytes = lowBytes && saved[18 + i] == (info[i] & 0xFF);
  EXPECT_TRUE(lowBytes);
  IPersistStreamInit* loaded = NewControl<IPersistStreamInit>(IID_IPersistStreamInit);
  ASSERT_EQ(LoadBytes(loaded, saved), S_OK);
  const std::wstring back = Info(loaded);
  bool widened = back.size() == info.size();
  for (std::size_t i = 0; widened && i < info.size(); ++i) widened = back[i] == (info[i] & 0xFF);
  EXPECT_TRUE(widened) << "each byte comes back as one character";
  loaded->Release();
  control->Release();
}

TEST_F(Persistence, PropertyBagsAnsweringWithOtherTypes) {
  IPersistPropertyBag* control = NewControl<IPersistPropertyBag>(IID_IPersistPropertyBag);
  Bag numbers(true);
  numbers.Set(L"_cx", VT_BSTR).bstrVal = ::SysAllocString(L"wide");  // no number: skipped
  numbers.Set(L"_cy", VT_R8).dblVal = 300.4;                         // a number: taken, rounded
  numbers.Set(L"Info", VT_I4).lVal = 7302;
  ASSERT_EQ(control->Load(&numbers, nullptr), S_OK);
  EXPECT_TRUE(Saved(control) == StreamBytes(VT_BSTR, Counted("7302"), 5080, 300));
  EXPECT_EQ(CheckRuns("7302"), 1u);

  IPersistPropertyBag* other = NewControl<IPersistPropertyBag>(IID_IPersistPropertyBag);
  for (const VARTYPE type : {VT_UNKNOWN, VT_DISPATCH, VT_ERROR}) {
    Bag odd(true);
    VARIANT& info = odd.Set(L"Info", type);
    if (type == VT_ERROR) {
      info.scode = E_FAIL;
    } else {
      info.punkVal = nullptr;  // a null object
    }
    EXPECT_EQ(other->Load(&odd, nullptr), E_FAIL) << "VARTYPE " << type;
    EXPECT_TRUE(Saved(other) == kFresh) << "VARTYPE " << type;
  }
  other->Release();
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
