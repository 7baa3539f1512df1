// The registered control driven by the platform's script host, as a page's
// script would: JScript creates it by its ProgID and sets Info through the
// dual interface and the type library. The script host's site for the object
// leads to no page, so the control is not locked to one.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>

#include "control_module.h"
#include "installer_double_client.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

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
