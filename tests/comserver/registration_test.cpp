// The built control module registered and unregistered by the platform's own
// regsvr32.exe, and its exports called as hosts call them.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstring>
#include <string>
#include <vector>

#include "control_module.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

const char kClassKey[] = "CLSID\\{5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12}";
const GUID kLibId = {0x5B3C2A72, 0x8E4D, 0x4F60, {0xA1, 0xB2, 0x6C, 0x7D, 0x8E, 0x9F, 0x0A, 0x12}};
const CLSID kClassId = {0x5B3C2A71, 0x8E4D, 0x4F60, {0xA1, 0xB2, 0x6C, 0x7D, 0x8E, 0x9F, 0x0A, 0x12}};
const IID kInterfaceId = {0x5B3C2A73, 0x8E4D, 0x4F60, {0xA1, 0xB2, 0x6C, 0x7D, 0x8E, 0x9F, 0x0A, 0x12}};
const wchar_t* const kProgIds[] = {L"OrvexInstaller.OrvexInstallerCtl.1", L"OrvexInstaller.OrvexInstallerCtl"};

std::string ShortPath(const std::string& path) {
  char shortPath[MAX_PATH] = "";
  ::GetShortPathNameA(path.c_str(), shortPath, MAX_PATH);
  return shortPath;
}

// The default value (value == nullptr) or a named value of a key under HKCR, or "<missing>".
std::string ClassesValue(const std::string& key, const char* value = nullptr) {
  std::vector<unsigned char> data;
  if (!ReadRegistryValue(HKEY_CLASSES_ROOT, key, value, &data)) return "<missing>";
  return std::string(reinterpret_cast<const char*>(data.data()), ::strnlen(reinterpret_cast<const char*>(data.data()), data.size()));
}

bool ClassesKeyExists(const std::string& key) {
  HKEY opened = nullptr;
  if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  ::RegCloseKey(opened);
  return true;
}

// An exported function of a loaded module, as the type it has.
template <typename Function>
Function Export(HMODULE module, const char* name) {
  const FARPROC found = ::GetProcAddress(module, name);
  Function function = nullptr;
  if (found != nullptr) std::memcpy(&function, &found, sizeof(function));
  return function;
}
using Simple = HRESULT(STDAPICALLTYPE*)();

class Registration : public ::testing::Test {
 protected:
  void SetUp() override { ::CoInitialize(nullptr); }
  void TearDown() override {
    RegisterControlModule();  // as the tree's fixture left it
    ::CoUninitialize();
  }

  // What a host finds registered: the class by its ProgIDs and its server,
  // and the type library by its id.
  static void ExpectRegistered(bool registered) {
    for (const wchar_t* progId : kProgIds) {
      CLSID found = {};
      EXPECT_EQ(SUCCEEDED(::CLSIDFromProgID(progId, &found)) && ::IsEqualCLSID(found, kClassId), registered);
    }
    LPOLESTR progId = nullptr;
    EXPECT_EQ(SUCCEEDED(::ProgIDFromCLSID(kClassId, &progId)) && std::wstring(progId) == kProgIds[0], registered);
    ::CoTaskMemFree(progId);
    IClassFactory* factory = nullptr;
    EXPECT_EQ(::CoGetClassObject(kClassId, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                 reinterpret_cast<void**>(&factory)) == S_OK, registered);
    if (factory != nullptr) factory->Release();
    ITypeLib* library = nullptr;
    ITypeInfo* info = nullptr;
    EXPECT_EQ(::LoadRegTypeLib(kLibId, 1, 0, 0x0409, &library) == S_OK, registered);
    if (library != nullptr) {
      EXPECT_EQ(library->GetTypeInfoOfGuid(kInterfaceId, &info), S_OK) << "the control's interface is described";
      if (info != nullptr) info->Release();
      library->Release();
    }
    EXPECT_EQ(ClassesKeyExists(kClassKey), registered);
  }
};

TEST_F(Registration, Regsvr32RegistersFromTheShortPathAndUnregistersAllButOthersKeys) {
  ASSERT_EQ(RegisterControlModule(), 0u);
  ExpectRegistered(true);
  const std::string path = ShortPath(ControlModulePath());
  EXPECT_EQ(ClassesValue(std::string(kClassKey) + "\\InprocServer32"), path);
  EXPECT_EQ(ClassesValue(std::string(kClassKey) + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(ClassesValue(std::string(kClassKey) + "\\ToolboxBitmap32"), path + ", 101");

  ASSERT_EQ(UnregisterControlModule(), 0u);
  ExpectRegistered(false);
  EXPECT_TRUE(ClassesKeyExists("CLSID")) << "CLSID itself stays";

  // Another party's subkey keeps the class key; ours go.
  ASSERT_EQ(RegisterControlModule(), 0u);
  const std::string theirs = std::string(kClassKey) + "\\Implemented Categories";
  ASSERT_TRUE(WriteRegistryValue(HKEY_CLASSES_ROOT, theirs, "Note", REG_SZ, "x", 2));
  ASSERT_EQ(UnregisterControlModule(), 0u);
  EXPECT_TRUE(ClassesKeyExists(theirs));
  EXPECT_FALSE(ClassesKeyExists(std::string(kClassKey) + "\\InprocServer32"));
  EXPECT_FALSE(ClassesKeyExists("OrvexInstaller.OrvexInstallerCtl"));
  ::RegDeleteTreeA(HKEY_CLASSES_ROOT, kClassKey);
  EXPECT_EQ(UnregisterControlModule(), 0u) << "with nothing registered, unregistration still succeeds";
}

TEST_F(Registration, ExportsAnswerAsHostsExpect) {
  HMODULE module = ::LoadLibraryA(ControlModulePath().c_str());
  ASSERT_NE(module, nullptr);
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  const auto canUnload = Export<Simple>(module, "DllCanUnloadNow");
  const auto getClassObject = Export<GetClassObject>(module, "DllGetClassObject");
  ASSERT_TRUE(canUnload != nullptr && getClassObject != nullptr);
  EXPECT_EQ(::GetProcAddress(module, "DllMyRegisterServer"), ::GetProcAddress(module, "DllRegisterServer"));
  EXPECT_EQ(canUnload(), S_OK);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(getClassObject(kClassId, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(canUnload(), S_FALSE);
  factory->Release();
  EXPECT_EQ(canUnload(), S_OK);
  ::FreeLibrary(module);
}

TEST_F(Registration, ModuleWithoutItsTypeLibraryWritesTheKeysAndFails) {
  const std::string copy = TestFilePath("OrvexInstallerNoTypeLib.dll");
  HMODULE module = ::LoadLibraryA(copy.c_str());
  ASSERT_NE(module, nullptr);
  const HRESULT result = Export<Simple>(module, "DllRegisterServer")();
  EXPECT_TRUE(FAILED(result)) << std::hex << result;
  EXPECT_EQ(ClassesValue(std::string(kClassKey) + "\\InprocServer32"), ShortPath(copy)) << "the keys are written";
  EXPECT_EQ(Export<Simple>(module, "DllUnregisterServer")(), S_OK);
  EXPECT_FALSE(ClassesKeyExists(std::string(kClassKey) + "\\InprocServer32"));
  ::FreeLibrary(module);
}

// The toolbox image a container shows for the control.
TEST(ModuleResources, ToolboxImageIs16By16) {
  HMODULE module = ::LoadLibraryExA(ControlModulePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(101), MAKEINTRESOURCEA(2));
  ASSERT_NE(found, nullptr);
  ASSERT_GE(::SizeofResource(module, found), sizeof(BITMAPINFOHEADER));
  BITMAPINFOHEADER header;
  std::memcpy(&header, ::LockResource(::LoadResource(module, found)), sizeof(header));
  EXPECT_TRUE(header.biWidth == 16 && header.biHeight == 16) << header.biWidth << "x" << header.biHeight;
  ::FreeLibrary(module);
}

}  // namespace
}  // namespace orvex::test
