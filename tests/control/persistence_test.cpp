// The control's saved forms, the stream and the property bag, its Info
// property and its safety options. Loading either form puts Info through the
// dispatch interface, and so runs the install check.
#include <gtest/gtest.h>

#include <windows.h>
#include <objsafe.h>
#include <ocidl.h>

#include <cstring>
#include <string>
#include <vector>

#include "class_table.h"
#include "installer_double_client.h"
#include "orvex_installer_ctl.h"
#include "orvex_installer_h.h"
#include "param_property_bag.h"
#include "server_module.h"
#include "test_registry.h"

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
  IPersistStreamInit* persist = nullptr;
  IStream* stream = nullptr;
  HRESULT result = control->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist));
  if (SUCCEEDED(result)) result = ::CreateStreamOnHGlobal(nullptr, TRUE, &stream);
  if (SUCCEEDED(result)) {
    if (!bytes.empty()) stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    result = persist->Load(stream);
    stream->Release();
  }
  if (persist != nullptr) persist->Release();
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
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
  }
  if (stream != nullptr) stream->Release();
  if (persist != nullptr) persist->Release();
  return bytes;
}

// Product names the tests' Info texts start the check for.
constexpr const char* kProducts[] = {"PS_Saved", "PS_Refused", "PS_Bag", "PS_Long", "-7301", "1234", "9000000001"};

class Persistence : public ::testing::Test {
 protected:
  void SetUp() override {
    StartModule(ControlClassTable(), ::GetModuleHandleA(nullptr));
    for (const char* name : kProducts) ForgetProduct(name);
  }
  void TearDown() override {
    StopModule();
    for (const char* name : kProducts) ForgetProduct(name);
  }
  template <typename Interface = IOrvexInstallerCtl>
  static Interface* NewControl(REFIID iid = IID_IOrvexInstallerCtl) {
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
  static void Put(IOrvexInstallerCtl* control, const std::wstring& info) {
    BSTR value = ::SysAllocStringLen(info.data(), static_cast<UINT>(info.size()));
    EXPECT_EQ(control->put_Info(value), S_OK);
    ::SysFreeString(value);
  }
};

// What a control saves loads into another whole, and runs the check. A
// refused stream fails the load and changes neither the extent nor Info; a
// value of another kind that Info takes reaches it as text.
TEST_F(Persistence, StreamsLoadWholeOrChangeNothing) {
  IOrvexInstallerCtl* saver = NewControl();
  Put(saver, L"PS_Saved");
  const Bytes saved = Saved(saver);
  saver->Release();
  IOrvexInstallerCtl* control = NewControl();
  ASSERT_EQ(Load(control, saved), S_OK);
  EXPECT_EQ(Info(control), L"PS_Saved");
  EXPECT_EQ(CheckRuns("PS_Saved"), 2u) << "the put and the load each run the check";
  EXPECT_TRUE(Saved(control) == saved);

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
  EXPECT_EQ(CheckRuns("PS_Refused"), 0u);

  for (const auto& [bytes, text] : {std::make_pair(StreamBytes(VT_I4, Raw<LONG>(-7301)), "-7301"),
                                    std::make_pair(StreamBytes(VT_R8, Raw<double>(1234.0)), "1234"),
                                    std::make_pair(StreamBytes(VT_I8, Counted("9000000001")), "9000000001")}) {
    EXPECT_EQ(Load(control, bytes), S_OK) << text;
    EXPECT_EQ(Info(control), std::wstring(text, text + std::strlen(text)));
    EXPECT_EQ(CheckRuns(text), 1u) << text;
  }
  control->Release();
}

TEST_F(Persistence, InfoIsNullWhenFreshAndComesBackWholeAtAnyLength) {
  IOrvexInstallerCtl* control = NewControl();
  BSTR value = reinterpret_cast<BSTR>(1);
  ASSERT_EQ(control->get_Info(&value), S_OK);
  EXPECT_EQ(value, nullptr) << "Info was never set";
  EXPECT_EQ(control->get_Info(nullptr), E_POINTER);

  // After the product name and a second field too long for the block (so the
  // check refuses the text and no installer starts), characters from all over
  // the range, none with a zero low byte (which a stream would turn into a
  // NUL, where a put ends the text).
  std::wstring info = L"PS_Long|" + std::wstring(60, L'C');
  for (std::size_t i = 0; info.size() < 300000; ++i) {
    const auto c = static_cast<wchar_t>(0x20 + (i * 40503) % 0xFFD0);
    if ((c & 0xFF) != 0) info += c;
  }
  Put(control, info);
  BSTR first = nullptr;
  BSTR second = nullptr;
  ASSERT_EQ(control->get_Info(&first), S_OK);
  ASSERT_EQ(control->get_Info(&second), S_OK);
  EXPECT_NE(first, second) << "each read is a copy of its own, for the caller to free";
  EXPECT_TRUE(std::wstring(first, ::SysStringLen(first)) == info) << "Info did not come back whole";
  ::SysFreeString(first);
  ::SysFreeString(second);
  EXPECT_EQ(CheckRuns("PS_Long"), 0u) << "the check refuses fields longer than the block";

  // Through a stream each character keeps its low byte.
  IOrvexInstallerCtl* loaded = NewControl();
  ASSERT_EQ(Load(loaded, Saved(control)), S_OK);
  for (wchar_t& c : info) c &= 0xFF;
  EXPECT_TRUE(Info(loaded) == info);
  loaded->Release();
  control->Release();
}

// A page's parameters are text: an extent that is no number is skipped. What
// the control saves to a bag loads into another control as it was.
TEST_F(Persistence, PropertyBagsRunTheCheckAndSaveWhatTheyLoad) {
  using page_host::ParamPropertyBag;
  ParamPropertyBag* page = ParamPropertyBag::Create({{L"Info", L"PS_Bag"}, {L"_cx", L"100"}, {L"_cy", L"wide"}}, {});
  ParamPropertyBag* saved = ParamPropertyBag::Create({}, {});
  IPersistPropertyBag* control = NewControl<IPersistPropertyBag>(IID_IPersistPropertyBag);
  IPersistPropertyBag* copy = NewControl<IPersistPropertyBag>(IID_IPersistPropertyBag);
  ASSERT_EQ(control->Load(page, nullptr), S_OK);
  ASSERT_EQ(control->Save(saved, TRUE, TRUE), S_OK);
  ASSERT_EQ(copy->Load(saved, nullptr), S_OK);
  EXPECT_EQ(CheckRuns("PS_Bag"), 2u);
  EXPECT_TRUE(Saved(copy) == Saved(control));
  IOleObject* object = nullptr;
  ASSERT_EQ(copy->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object)), S_OK);
  SIZEL extent = {};
  EXPECT_EQ(object->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
  EXPECT_EQ(extent.cx, 100);
  EXPECT_EQ(extent.cy, 5080) << "the default";
  object->Release();
  for (IUnknown* each : std::initializer_list<IUnknown*>{copy, control, saved, page}) each->Release();
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
