// The registered control driven by the platform's script host, as a page's
// script would: JScript creates it by its ProgID and sets Info through the
// dual interface and the type library. The script host's site for the object
// leads to no page, so the control is not locked to one. (Wine's VBScript
// creates no object that has IObjectWithSite under cscript, whose site offers
// no services.)
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>

#include "control_module.h"
#include "installer_double_client.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

class Scripting : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(RegisterControlModule(), 0u); }
  void TearDown() override { UnregisterControlModule(); }
  // Runs the script with cscript; the script reports through its exit code.
  static DWORD RunScript(const char* extension, const std::string& script) {
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    const std::string path = std::string(temp) + "orvex_script" + extension;
    std::ofstream(path) << script;
    const DWORD code = RunProgram("cscript.exe //nologo \"" + path + "\"");
    ::DeleteFileA(path.c_str());
    return code;
  }
};

TEST_F(Scripting, JScriptSetsAndReadsInfoAndRunsTheCheck) {
  const std::string name = "CS_JScript";
  const std::string info = name + "|{0F0E0D0C-0B0A-4000-8000-0000000000AA}|";
  ForgetProduct(name);
  const DWORD code = RunScript(".js",
                               "try {\n"
                               "  var control = new ActiveXObject('OrvexInstaller.OrvexInstallerCtl');\n"
                               "  if (control.Info) WScript.Quit(2);\n"
                               "  control.Info = '" + info + "';\n"
                               "  if (control.Info != '" + info + "') WScript.Quit(3);\n"
                               "} catch (e) { WScript.Quit(4); }\n");
  EXPECT_EQ(code, 0u) << "2: Info not empty at first, 3: Info not read back, 4: an error";
  DoubleRecord record;
  ASSERT_TRUE(ReadDoubleRecord(name, record)) << "setting Info did not run the install check";
  EXPECT_EQ(record.runs, 1u);
  EXPECT_STREQ(record.block.viewerClsid, "{0F0E0D0C-0B0A-4000-8000-0000000000AA}");
  ForgetProduct(name);
}

}  // namespace
}  // namespace orvex::test
