// The control's saved forms, the stream and the property bag, and its Info
// property. Loading either form puts Info through the dispatch interface, and
// so runs the install check.
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

using Bytes = std::vector<unsigned char>;

// A property bag that answers with the values it holds, whatever type it is
// asked for, and records what is written to it.
class Bag final : public IPropertyBag {
 public:
  ~Bag() {
    for (auto& entry : values) ::VariantClear(&entry.second);
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    const bool known = ::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IPropertyBag);
    *out = known ? this : nullptr;
    return known ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    auto found = values.find(name);
    if (found == values.end()) return E_INVALIDARG;
    ::VariantInit(value);
    return ::VariantCopy(value, &found->second);
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
    return ::VariantCopy(&Set(name, VT_EMPTY), value);
  }
  // An emptied slot of the given type.
  VARIANT& Set(const wchar_t* name, VARTYPE type) {
    VARIANT& slot = values[name];
    ::VariantClear(&slot);
    slot = VARIANT{};
    slot.vt = type;
    return slot;
  }
  std::map<std::wstring, VARIANT> values;
};

template <typename Fixed>
Bytes Raw(Fixed value) {
  const auto* data = reinterpret_cast<const unsigned char*>(&value);
  return Bytes(data, data + sizeof(value));
}

// A value in its string form: the count, then one byte per character.
Bytes Counted(DWORD count, const std::string& text) {
  Bytes bytes(sizeof(count) + text.size());
  std::memcpy(bytes.data(), &count, sizeof(count));
  if (!text.empty()) std::memcpy(&bytes[sizeof(count)], text.data(), text.size());
  return bytes;
}
Bytes Counted(const std::string& text) { return Counted(static_cast<DWORD>(text.size()), text); }

// A saved stream: version, _cx, _cy, the VARTYPE of Info, then its value.
Bytes StreamBytes(VARTYPE type, const Bytes& value, LONG cx = 5080, LONG cy = 5080, DWORD version = 0x300) {
  Bytes bytes = Raw(version);
  for (const Bytes& part : {Raw(cx), Raw(cy), Raw(type), value}) bytes.insert(bytes.end(), part.begin(), part.end());
  return bytes;
}

HRESULT LoadBytes(IPersistStreamInit* control, const Bytes& bytes) {
  IStream* stream = nullptr;
  if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return E_OUTOFMEMORY;
  if (!bytes.empty()) stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
  const LARGE_INTEGER start = {};
  stream->Seek(start, STREAM_SEEK_SET, nullptr);
  const HRESULT result = control->Load(stream);
  stream->Release();
  return result;
}

// What the control saves now, or nothing when it cannot save.
Bytes Saved(IUnknown* control) {
  IPersistStreamInit* persist = nullptr;
  IStream* stream = nullptr;
  Bytes bytes;
  STATSTG stat = {};
  if (SUCCEEDED(control->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist))) &&
      SUCCEEDED(::CreateStreamOnHGlobal(nullptr, TRUE, &stream)) && SUCCEEDED(persist->Save(stream, TRUE)) &&
      SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME))) {
    bytes.resize(static_cast<std::size_t>(stat.cbSize.QuadPart));
    const LARGE_INTEGER start = {};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
  }
  if (stream != nullptr) stream->Release();
  if (persist != nullptr) persist->Release();
  return bytes;
}

// Product names the tests' Info texts start the check for.
constexpr const char* kProducts[] = {"PS_Bag", "PS_Refused", "PS_Long", "-7301", "200", "1234", "9000000001", "7302"};

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
    std::wstring text(value != nullptr ? value : L"", ::SysStringLen(value));
    ::SysFreeString(value);
    return text;
  }
};

// A refused stream fails the load and changes neither the extent nor Info; a
// value of another kind that Info takes reaches it as text. A whole stream
// loads, runs the check, and is saved again as it was.
TEST_F(Persistence, StreamsLoadWholeOrChangeNothing) {
  struct Case {
    std::string name;
    Bytes bytes;
    const char* info;  // null: refused
  };
  // Version, _cx 1111, _cy 2222, VT_BSTR, the count, the characters.
  const Bytes whole = {0x00, 0x03, 0x00, 0x00, 0x57, 0x04, 0, 0, 0xAE, 0x08, 0, 0, 8, 0,
                       10,   0,    0,    0,    'P',  'S',  '_', 'R', 'e', 'f', 'u', 's', 'e', 'd'};
  const Bytes text = Counted("PS_Refused");
  Bytes ownClass = Raw(CLSID_OrvexInstallerCtl);
  ownClass.resize(sizeof(CLSID) + 18);
  std::vector<Case> cases = {
      {"a newer format", StreamBytes(VT_BSTR, text, 1111, 2222, 0x301), nullptr},
      {"no such VARTYPE", StreamBytes(0x7FFF, text, 1111, 2222), nullptr},
      {"a null object", StreamBytes(VT_UNKNOWN, Bytes(20, 0), 1111, 2222), nullptr},
      {"a null dispatch object", StreamBytes(VT_DISPATCH, Bytes(20, 0), 1111, 2222), nullptr},
      {"an object of the control's class", StreamBytes(VT_UNKNOWN, ownClass, 1111, 2222), nullptr},
      {"a number kind without a number", StreamBytes(VT_I8, text, 1111, 2222), nullptr},
      {"an error code, which Info does not take", StreamBytes(VT_ERROR, Raw<LONG>(E_FAIL), 1111, 2222), nullptr},
      {"VT_I4", StreamBytes(VT_I4, Raw<LONG>(-7301)), "-7301"},
      {"VT_UI1", StreamBytes(VT_UI1, Raw<BYTE>(200)), "200"},
      {"VT_R8", StreamBytes(VT_R8, Raw<double>(1234.0)), "1234"},
      {"VT_I8, kept as text", StreamBytes(VT_I8, Counted("9000000001")), "9000000001"},
  };
  for (std::size_t size = 0; size < whole.size(); ++size) {
    cases.push_back({"cut to " + std::to_string(size) + " bytes", Bytes(whole.data(), whole.data() + size), nullptr});
  }
  // Counts beyond the stream, up to and past the longest string there can be.
  for (const DWORD count : {0xFFFFFFFFu, 0x7FFFFFFFu, 0x3FFFFFFFu, 0x10000000u, 0x00100000u}) {
    cases.push_back({"count " + std::to_string(count), StreamBytes(VT_BSTR, Counted(count, "PS_Refused")), nullptr});
  }

  IPersistStreamInit* control = NewControl<IPersistStreamInit>(IID_IPersistStreamInit);
  for (const Case& one : cases) {
    SCOPED_TRACE(one.name);
    const Bytes before = Saved(control);
    const HRESULT result = LoadBytes(control, one.bytes);
    if (one.info == nullptr) {
      EXPECT_EQ(result, E_FAIL);
      EXPECT_TRUE(Saved(control) == before) << "the extent or Info changed";
    } else {
      EXPECT_EQ(result, S_OK);
      EXPECT_EQ(Info(control), std::wstring(one.info, one.info + std::strlen(one.info)));
      EXPECT_EQ(CheckRuns(one.info), 1u) << "the put runs the check";
    }
  }
  EXPECT_EQ(CheckRuns("PS_Refused"), 0u);
  ASSERT_EQ(LoadBytes(control, whole), S_OK);
  EXPECT_EQ(CheckRuns("PS_Refused"), 1u);
  EXPECT_EQ(Info(control), L"PS_Refused");
  EXPECT_TRUE(Saved(control) == whole);
  EXPECT_EQ(control->IsDirty(), S_FALSE);
  control->Release();
}

TEST_F(Persistence, InfoIsNullWhenFreshAndComesBackWholeAtAnyLength) {
  IOrvexInstallerCtl* control = NewControl<IOrvexInstallerCtl>(IID_IOrvexInstallerCtl);
  BSTR value = reinterpret_cast<BSTR>(1);
  ASSERT_EQ(control->get_Info(&value), S_OK);
  EXPECT_EQ(value, nullptr) << "Info was never set";
  EXPECT_EQ(control->get_Info(nullptr), E_POINTER);

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
  for (const std::wstring& info : {std::wstring(1, L'\x4E2D'), text(3000), text(300000)}) {
    SCOPED_TRACE(std::to_string(info.size()) + " characters");
    BSTR put = ::SysAllocStringLen(info.data(), static_cast<UINT>(info.size()));
    ASSERT_EQ(control->put_Info(put), S_OK);
    BSTR first = nullptr;
    BSTR second = nullptr;
    ASSERT_EQ(control->get_Info(&first), S_OK);
    ASSERT_EQ(control->get_Info(&second), S_OK);
    EXPECT_TRUE(first != put && first != second) << "each read is a copy of its own, for the caller to free";
    EXPECT_TRUE(std::wstring(first, ::SysStringLen(first)) == info) << "Info did not come back whole";
    for (BSTR each : {put, first, second}) ::SysFreeString(each);
  }
  EXPECT_EQ(CheckRuns("PS_Long"), 0u) << "the check refuses fields longer than the block";

  // Through a stream each character keeps its low byte, and comes back as one character.
  const Bytes saved = Saved(control);
  std::wstring lowBytes = text(300000);
  for (wchar_t& c : lowBytes) c &= 0xFF;
  EXPECT_TRUE(std::wstring(saved.begin() + 18, saved.end()) == lowBytes);
  IPersistStreamInit* loaded = NewControl<IPersistStreamInit>(IID_IPersistStreamInit);
  ASSERT_EQ(LoadBytes(loaded, saved), S_OK);
  EXPECT_TRUE(Info(loaded) == lowBytes);
  loaded->Release();
  control->Release();
}

// Bags answer with text, as a page's parameters do, or with other types: an
// extent that is no number is skipped, and Info takes no object or error code.
TEST_F(Persistence, PropertyBagsRunTheCheckAndSaveTheMap) {
  IPersistPropertyBag* control = NewControl<IPersistPropertyBag>(IID_IPersistPropertyBag);
  Bag page;
  page.Set(L"Info", VT_BSTR).bstrVal = ::SysAllocString(L"PS_Bag");
  page.Set(L"_cx", VT_BSTR).bstrVal = ::SysAllocString(L"100");
  ASSERT_EQ(control->Load(&page, nullptr), S_OK);
  EXPECT_EQ(CheckRuns("PS_Bag"), 1u);
  Bag saved;
  ASSERT_EQ(control->Save(&saved, TRUE, TRUE), S_OK);
  EXPECT_EQ(saved.values[L"_cx"].vt, VT_UI4);
  EXPECT_EQ(saved.values[L"_cx"].ulVal, 100u);
  EXPECT_EQ(saved.values[L"_cy"].ulVal, 5080u);
  ASSERT_EQ(saved.values[L"Info"].vt, VT_BSTR);
  EXPECT_STREQ(saved.values[L"Info"].bstrVal, L"PS_Bag");
  CLSID classId = {};
  EXPECT_EQ(control->GetClassID(&classId), S_OK);
  EXPECT_TRUE(::IsEqualCLSID(classId, CLSID_OrvexInstallerCtl));

  Bag numbers;
  numbers.Set(L"_cx", VT_BSTR).bstrVal = ::SysAllocString(L"wide");  // no number: skipped
  numbers.Set(L"_cy", VT_R8).dblVal = 300.4;                         // a number: taken, rounded
  numbers.Set(L"Info", VT_I4).lVal = 7302;
  ASSERT_EQ(control->Load(&numbers, nullptr), S_OK);
  EXPECT_TRUE(Saved(control) == StreamBytes(VT_BSTR, Counted("7302"), 100, 300));
  EXPECT_EQ(CheckRuns("7302"), 1u);
  for (const VARTYPE type : {VT_UNKNOWN, VT_DISPATCH, VT_ERROR}) {
    SCOPED_TRACE("VARTYPE " + std::to_string(type));
    Bag odd;
    VARIANT& info = odd.Set(L"Info", type);  // a null object, or an error code
    if (type == VT_ERROR) info.scode = E_FAIL;
    EXPECT_EQ(control->Load(&odd, nullptr), E_FAIL);
    EXPECT_TRUE(Saved(control) == StreamBytes(VT_BSTR, Counted("7302"), 100, 300));
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
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled), E_POINTER);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IOleCache, &supported, &enabled), E_NOINTERFACE);
  EXPECT_EQ(supported + enabled, 0u);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IOleCache, 1, 1), E_NOINTERFACE);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 4, 4), E_FAIL) << "an option other than the two";
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 1), S_OK);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPersistPropertyBag, 2, 2), S_OK);
  safety->GetInterfaceSafetyOptions(IID_IOrvexInstallerCtl, &supported, &enabled);
  EXPECT_EQ(enabled, 3u);
  safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 0);
  safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
  EXPECT_EQ(enabled, 2u) << "only the masked option changes";
  safety->Release();
}

}  // namespace
}  // namespace orvex::test
