// The built control module registered and unregistered by the platform's own
// regsvr32.exe, and driven by its script host as a page's script would:
// JScript creates it by its ProgID and sets Info through the dual interface
// and the type library. The script host's site for the object leads to no
// page, so the control is not locked to one.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <fstream>
#include <string>

#include "control_module.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

const GUID kLibId = {0x5B3C2A72, 0x8E4D, 0x4F60, {0xA1, 0xB2, 0x6C, 0x7D, 0x8E, 0x9F, 0x0A, 0x12}};
const IID kInterfaceId = {0x5B3C2A73, 0x8E4D, 0x4F60, {0xA1, 0xB2, 0x6C, 0x7D, 0x8E, 0x9F, 0x0A, 0x12}};
const std::string kClassKey = "CLSID\\{5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12}";
// Every key the module writes, by its top.
const std::string kOurKeys[] = {kClassKey, "OrvexInstaller.OrvexInstallerCtl", "OrvexInstaller.OrvexInstallerCtl.1",
                                "TypeLib\\{5B3C2A72-8E4D-4F60-A1B2-6C7D8E9F0A12}",
                                "Interface\\{5B3C2A73-8E4D-4F60-A1B2-6C7D8E9F0A12}"};

bool ClassesKeyExists(const std::string& key) {
  HKEY opened = nullptr;
  if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  ::RegCloseKey(opened);
  return true;
}

class Registration : public ::testing::Test {
 protected:
  void SetUp() override { ::CoInitialize(nullptr); }
  void TearDown() override {
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, kClassKey.c_str());
    RegisterControlModule();  // as the tree's fixture left it
    ::CoUninitialize();
  }
};

// Registered, a host finds the control's type library (its ProgID and class
// the script and page host suites use); unregistered, every key of ours is
// gone, and only another party's subkey keeps the class key.
TEST_F(Registration, RegisterThenUnregisterLeavesTheRegistryAsBefore) {
  UnregisterControlModule();
  for (const std::string& key : kOurKeys) ASSERT_FALSE(ClassesKeyExists(key)) << key;
  ASSERT_EQ(RegisterControlModule(), 0u);
  ITypeLib* library = nullptr;
  ITypeInfo* info = nullptr;
  ASSERT_EQ(::LoadRegTypeLib(kLibId, 1, 0, 0x0409, &library), S_OK);
  EXPECT_EQ(library->GetTypeInfoOfGuid(kInterfaceId, &info), S_OK) << "the control's interface is described";
  if (info != nullptr) info->Release();
  library->Release();

  const std::string theirs = kClassKey + "\\Implemented Categories";
  ASSERT_TRUE(WriteRegistryValue(HKEY_CLASSES_ROOT, theirs, "Note", REG_SZ, "x", 2));
  ASSERT_EQ(UnregisterControlModule(), 0u);
  EXPECT_TRUE(ClassesKeyExists(theirs));
  EXPECT_FALSE(ClassesKeyExists(kClassKey + "\\InprocServer32"));
  ::RegDeleteTreeA(HKEY_CLASSES_ROOT, kClassKey.c_str());
  for (const std::string& key : kOurKeys) EXPECT_FALSE(ClassesKeyExists(key)) << key;
  EXPECT_TRUE(ClassesKeyExists("CLSID") && ClassesKeyExists("TypeLib") && ClassesKeyExists("Interface"));
  EXPECT_EQ(UnregisterControlModule(), 0u) << "with nothing registered, unregistration still succeeds";
}

TEST(Scripting, JScriptSetsAndReadsInfoAndRunsTheCheck) {
  const std::string info = "CS_JScript|{0F0E0D0C-0B0A-4000-8000-0000000000AA}|";
  ForgetProduct("CS_JScript");
  char temp[MAX_PATH];
  ::GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "orvex_script.js";
  std::ofstream(path) << "try {\n"
                         "  var control = new ActiveXObject('OrvexInstaller.OrvexInstallerCtl');\n"
                         "  if (control.Info) WScript.Quit(2);\n"
                         "  control.Info = '" << info << "';\n"
                         "  if (control.Info != '" << info << "') WScript.Quit(3);\n"
                         "} catch (e) { WScript.Quit(4); }\n";
  EXPECT_EQ(RunProgram("cscript.exe //nologo \"" + path + "\""), 0u)
      << "2: Info not empty at first, 3: Info not read back, 4: an error";
  ::DeleteFileA(path.c_str());
  DoubleRecord record;
  ASSERT_TRUE(ReadDoubleRecord("CS_JScript", record)) << "setting Info did not run the install check";
  EXPECT_EQ(record.runs, 1u);
  EXPECT_STREQ(record.block.viewerClsid, "{0F0E0D0C-0B0A-4000-8000-0000000000AA}");
  ForgetProduct("CS_JScript");
}

}  // namespace
}  // namespace orvex::test
