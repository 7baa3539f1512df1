// The built control module registered and unregistered by the platform's own
// regsvr32.exe, and driven by its script host as a page's script would:
// JScript creates it by its ProgID and sets Info through the dual interface
// and the type library. The script host's site for the object leads to no
// page, so the control is not locked to one.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "control_module.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

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

// Unregistered, every key of ours that the tree's fixture registered is gone
// (the script host below finds them), but for a class key another party's subkey keeps.
TEST(Registration, UnregistrationLeavesTheRegistryAsBefore) {
  for (const std::string& key : kOurKeys) ASSERT_TRUE(ClassesKeyExists(key)) << key;
  const std::string theirs = kClassKey + "\\Implemented Categories";
  ASSERT_TRUE(WriteRegistryValue(HKEY_CLASSES_ROOT, theirs, "Note", REG_SZ, "x", 2));
  ASSERT_EQ(UnregisterControlModule(), 0u);
  EXPECT_TRUE(ClassesKeyExists(theirs));
  EXPECT_FALSE(ClassesKeyExists(kClassKey + "\\InprocServer32"));
  ::RegDeleteTreeA(HKEY_CLASSES_ROOT, kClassKey.c_str());
  for (const std::string& key : kOurKeys) EXPECT_FALSE(ClassesKeyExists(key)) << key;
  EXPECT_TRUE(ClassesKeyExists("CLSID") && ClassesKeyExists("TypeLib") && ClassesKeyExists("Interface"));
  EXPECT_EQ(UnregisterControlModule(), 0u) << "with nothing registered, unregistration still succeeds";
  EXPECT_EQ(RegisterControlModule(), 0u);  // as the tree's fixture left it
}

TEST(Scripting, JScriptSetsAndReadsInfoAndRunsTheCheck) {
  const std::string info = "CS_JScript|{0F0E0D0C-0B0A-4000-8000-0000000000AA}|";
  ForgetProduct("CS_JScript");
  char temp[MAX_PATH];
  ::GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "orvex_script.js";
  ASSERT_TRUE(WriteFileBytes(path, "try {\n"
                                    "  var control = new ActiveXObject('OrvexInstaller.OrvexInstallerCtl');\n"
                                    "  if (control.Info) WScript.Quit(2);\n"
                                    "  control.Info = '" + info + "';\n"
                                    "  if (control.Info != '" + info + "') WScript.Quit(3);\n"
                                    "} catch (e) { WScript.Quit(4); }\n"));
  EXPECT_EQ(RunProgram("cscript.exe //nologo \"" + path + "\""), 0u)
      << "2: Info not empty at first, 3: Info not read back, 4: an error";
  ::DeleteFileA(path.c_str());
  const DoubleRecord record = ReadDoubleRecord("CS_JScript");
  EXPECT_EQ(record.runs, 1u) << "setting Info runs the install check once";
  EXPECT_STREQ(record.block.viewerClsid, "{0F0E0D0C-0B0A-4000-8000-0000000000AA}");
  ForgetProduct("CS_JScript");
}

}  // namespace
}  // namespace orvex::test
