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
#include "registry_values.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

const char kClassKey[] = "CLSID\\{5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12}";
const GUID kLibId = {0x5B3C2A72, 0x8E4D, 0x4F60, {0xA1, 0xB2, 0x6C, 0x7D, 0x8E, 0x9F, 0x0A, 0x12}};
const CLSID kClassId = {0x5B3C2A71, 0x8E4D, 0x4F60, {0xA1, 0xB2, 0x6C, 0x7D, 0x8E, 0x9F, 0x0A, 0x12}};

std::string ModulePath() { return ControlModulePath(); }

std::string ShortPath(const std::string& path) {
  char shortPath[MAX_PATH] = "";
  ::GetShortPathNameA(path.c_str(), shortPath, MAX_PATH);
  return shortPath;
}

DWORD Regsvr32(const std::string& arguments) { return RunProgram("regsvr32.exe " + arguments); }

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

class Registration : public ::testing::Test {
 protected:
  void TearDown() override { Regsvr32("/s /u \"" + ModulePath() + "\""); }
};

TEST_F(Registration, Regsvr32WritesTheScriptsKeysAndTheTypeLibrary) {
  ASSERT_EQ(Regsvr32("/s \"" + ModulePath() + "\""), 0u);
  const std::string path = ShortPath(ModulePath());
  const std::string c = kClassKey;
  const struct {
    std::string key;
    const char* value;
    std::string expected;
  } entries[] = {
      {"OrvexInstaller.OrvexInstallerCtl.1", nullptr, "OrvexInstallerCtl Class"},
      {"OrvexInstaller.OrvexInstallerCtl.1\\CLSID", nullptr, "{5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12}"},
      {"OrvexInstaller.OrvexInstallerCtl", nullptr, "OrvexInstallerCtl Class"},
      {"OrvexInstaller.OrvexInstallerCtl\\CLSID", nullptr, "{5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12}"},
      {"OrvexInstaller.OrvexInstallerCtl\\CurVer", nullptr, "OrvexInstaller.OrvexInstallerCtl.1"},
      {c, nullptr, "OrvexInstallerCtl Class"},
      {c + "\\ProgID", nullptr, "OrvexInstaller.OrvexInstallerCtl.1"},
      {c + "\\VersionIndependentProgID", nullptr, "OrvexInstaller.OrvexInstallerCtl"},
      {c + "\\InprocServer32", nullptr, path},
      {c + "\\InprocServer32", "ThreadingModel", "Apartment"},
      {c + "\\ToolboxBitmap32", nullptr, path + ", 101"},
      {c + "\\MiscStatus", nullptr, "0"},
      {c + "\\MiscStatus\\1", nullptr, "132497"},
      {c + "\\TypeLib", nullptr, "{5B3C2A72-8E4D-4F60-A1B2-6C7D8E9F0A12}"},
      {c + "\\Version", nullptr, "1.0"},
  };
  for (const auto& entry : entries) {
    EXPECT_EQ(ClassesValue(entry.key, entry.value), entry.expected) << entry.key;
  }
  EXPECT_TRUE(ClassesKeyExists(c + "\\Programmable"));
  EXPECT_TRUE(ClassesKeyExists(c + "\\Control"));

  ITypeLib* library = nullptr;
  ASSERT_EQ(::LoadRegTypeLib(kLibId, 1, 0, 0x0409, &library), S_OK) << "the type library loads by its id";
  library->Release();

  ASSERT_EQ(Regsvr32("/s /u \"" + ModulePath() + "\""), 0u);
  for (const auto& entry : entries) EXPECT_FALSE(ClassesKeyExists(entry.key)) << entry.key;
  EXPECT_TRUE(ClassesKeyExists("CLSID")) << "CLSID itself stays";
  EXPECT_NE(::LoadRegTypeLib(kLibId, 1, 0, 0x0409, &library), S_OK);
}

TEST_F(Registration, AnotherPartysSubkeySurvivesUnregistration) {
  ASSERT_EQ(Regsvr32("/s \"" + ModulePath() + "\""), 0u);
  const std::string theirs = std::string(kClassKey) + "\\Implemented Categories";
  ASSERT_TRUE(WriteRegistryValue(HKEY_CLASSES_ROOT, theirs, "Note", REG_SZ, "x", 2));
  ASSERT_EQ(Regsvr32("/s /u \"" + ModulePath() + "\""), 0u);
  EXPECT_TRUE(ClassesKeyExists(theirs));
  EXPECT_FALSE(ClassesKeyExists(std::string(kClassKey) + "\\InprocServer32"));
  EXPECT_FALSE(ClassesKeyExists("OrvexInstaller.OrvexInstallerCtl"));
  ::RegDeleteTreeA(HKEY_CLASSES_ROOT, kClassKey);

  // With nothing registered, unregistration still succeeds.
  EXPECT_EQ(Regsvr32("/s /u \"" + ModulePath() + "\""), 0u);
}

TEST_F(Registration, ExportsAnswerAsHostsExpect) {
  HMODULE module = ::LoadLibraryA(ModulePath().c_str());
  ASSERT_NE(module, nullptr);
  using Simple = HRESULT(STDAPICALLTYPE*)();
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  const auto canUnload = Export<Simple>(module, "DllCanUnloadNow");
  const auto getClassObject = Export<GetClassObject>(module, "DllGetClassObject");
  ASSERT_NE(canUnload, nullptr);
  ASSERT_NE(getClassObject, nullptr);
  EXPECT_EQ(::GetProcAddress(module, "DllMyRegisterServer"), ::GetProcAddress(module, "DllRegisterServer"));
  EXPECT_NE(::GetProcAddress(module, "DllUnregisterServer"), nullptr);
  EXPECT_EQ(::GetProcAddress(module, "DllMain"), nullptr);

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
  using Simple = HRESULT(STDAPICALLTYPE*)();
  const auto registerServer = Export<Simple>(module, "DllRegisterServer");
  const auto unregisterServer = Export<Simple>(module, "DllUnregisterServer");
  ::CoInitialize(nullptr);
  const HRESULT result = registerServer();
  EXPECT_TRUE(FAILED(result)) << std::hex << result;
  EXPECT_EQ(ClassesValue(std::string(kClassKey) + "\\InprocServer32"), ShortPath(copy)) << "the keys are written";
  EXPECT_EQ(unregisterServer(), S_OK);
  EXPECT_FALSE(ClassesKeyExists(std::string(kClassKey) + "\\InprocServer32"));
  ::CoUninitialize();
  ::FreeLibrary(module);
}

// The registry script as the module must carry it, byte for byte: CRLF line
// ends, tabs, four spaces before '1', no terminating zero.
const char kScript[] =
    "HKCR\r\n{\r\n"
    "\tOrvexInstaller.OrvexInstallerCtl.1 = s 'OrvexInstallerCtl Class'\r\n\t{\r\n"
    "\t\tCLSID = s '{5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12}'\r\n\t}\r\n"
    "\tOrvexInstaller.OrvexInstallerCtl = s 'OrvexInstallerCtl Class'\r\n\t{\r\n"
    "\t\tCLSID = s '{5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12}'\r\n"
    "\t\tCurVer = s 'OrvexInstaller.OrvexInstallerCtl.1'\r\n\t}\r\n"
    "\tNoRemove CLSID\r\n\t{\r\n"
    "\t\tForceRemove {5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12} = s 'OrvexInstallerCtl Class'\r\n\t\t{\r\n"
    "\t\t\tProgID = s 'OrvexInstaller.OrvexInstallerCtl.1'\r\n"
    "\t\t\tVersionIndependentProgID = s 'OrvexInstaller.OrvexInstallerCtl'\r\n"
    "\t\t\tForceRemove 'Programmable'\r\n"
    "\t\t\tInprocServer32 = s '%MODULE%'\r\n\t\t\t{\r\n"
    "\t\t\t\tval ThreadingModel = s 'Apartment'\r\n\t\t\t}\r\n"
    "\t\t\tForceRemove 'Control'\r\n"
    "\t\t\tForceRemove 'ToolboxBitmap32' = s '%MODULE%, 101'\r\n"
    "\t\t\t'MiscStatus' = s '0'\r\n\t\t\t{\r\n"
    "\t\t\t    '1' = s '132497'\r\n\t\t\t}\r\n"
    "\t\t\t'TypeLib' = s '{5B3C2A72-8E4D-4F60-A1B2-6C7D8E9F0A12}'\r\n"
    "\t\t\t'Version' = s '1.0'\r\n"
    "\t\t}\r\n\t}\r\n}\r\n";

std::string Resource(HMODULE module, LPCSTR type, int id) {
  HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(id), type);
  if (found == nullptr) return {};
  const void* data = ::LockResource(::LoadResource(module, found));
  return std::string(static_cast<const char*>(data), ::SizeofResource(module, found));
}

TEST(ModuleResources, ScriptTypeLibraryAndToolboxImage) {
  HMODULE module = ::LoadLibraryExA(ModulePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  EXPECT_TRUE(Resource(module, "REGISTRY", 102) == std::string(kScript, sizeof(kScript) - 1))
      << "the registry script differs from its text";
  EXPECT_FALSE(Resource(module, "TYPELIB", 1).empty());
  const std::string bitmap = Resource(module, MAKEINTRESOURCEA(2), 101);
  ASSERT_GE(bitmap.size(), sizeof(BITMAPINFOHEADER));
  BITMAPINFOHEADER header;
  std::memcpy(&header, bitmap.data(), sizeof(header));
  EXPECT_EQ(header.biWidth, 16);
  EXPECT_EQ(header.biHeight, 16);
  EXPECT_EQ(header.biBitCount, 4);
  ::FreeLibrary(module);

  ITypeLib* library = nullptr;
  const std::string path = ModulePath();
  const std::wstring wide(path.begin(), path.end());
  ASSERT_EQ(::LoadTypeLibEx(wide.c_str(), REGKIND_NONE, &library), S_OK);
  TLIBATTR* attributes = nullptr;
  ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
  EXPECT_TRUE(::IsEqualGUID(attributes->guid, kLibId));
  EXPECT_EQ(attributes->wMajorVerNum, 1);
  EXPECT_EQ(attributes->wMinorVerNum, 0);
  EXPECT_EQ(attributes->lcid, 0x0409u);
  library->ReleaseTLibAttr(attributes);
  ITypeInfo* info = nullptr;
  const IID interfaceId = {0x5B3C2A73, 0x8E4D, 0x4F60, {0xA1, 0xB2, 0x6C, 0x7D, 0x8E, 0x9F, 0x0A, 0x12}};
  ASSERT_EQ(library->GetTypeInfoOfGuid(interfaceId, &info), S_OK);
  BSTR name = nullptr;
  BSTR help = nullptr;
  EXPECT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr), S_OK);
  EXPECT_TRUE(name != nullptr && std::wstring(name) == L"IOrvexInstallerCtl");
  EXPECT_TRUE(help != nullptr && std::wstring(help) == L"IOrvexInstallerCtl Interface");
  ::SysFreeString(name);
  ::SysFreeString(help);
  info->Release();
  library->Release();
}

}  // namespace
}  // namespace orvex::test
