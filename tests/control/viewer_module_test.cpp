// The viewer's registered module: its version resource, the installed version
// and product name the check takes from it, and the old-version box for Quillon.
#include "check_test_support.h"
#include "module_version.h"
#include "ui_robot.h"

namespace orvex::test {
namespace {

const std::string kBase = ORVEX_INFO_BASE_URL;

// The InternalName is taken from the US English string table alone, and only
// when it fits; a module without version information leaves both outputs alone.
TEST(ModuleVersion, FileVersionAndUsEnglishInternalName) {
  const struct {
    const char* dll;
    PackedVersion version;
    const char* name;
  } cases[] = {
      {"viewer_quillon_10_23_0_5.dll", PackedVersion::Make(10, 23, 0, 5), "Quillon"},
      {"viewer_unnamed.dll", PackedVersion::Make(2, 5, 0, 7), "before"},
      {"viewer_german_name.dll", PackedVersion::Make(3, 0, 0, 1), "before"},
      {"viewer_long_name.dll", PackedVersion::Make(1, 2, 3, 4), "before"},
      {"install_check_tests.exe", PackedVersion::Make(7, 7, 7, 7), "before"},  // no version resource
      {"no_such_module.dll", PackedVersion::Make(7, 7, 7, 7), "before"},
  };
  for (const auto& c : cases) {
    PackedVersion version = PackedVersion::Make(7, 7, 7, 7);
    char name[50] = "before";
    const DWORD size = ReadModuleVersion(TestFilePath(c.dll).c_str(), &version, name);
    EXPECT_EQ(size > 0, !(c.version == PackedVersion::Make(7, 7, 7, 7))) << c.dll;
    EXPECT_EQ(version, c.version) << c.dll;
    EXPECT_STREQ(name, c.name) << c.dll;
  }
}

class ViewerModule : public CheckTest {
 protected:
  // Registers the module under a fresh class identifier; returns the Info text.
  std::string InfoFor(const std::string& name, unsigned clsidNumber, const char* dll) {
    const std::string clsid = Clsid(clsidNumber);
    EXPECT_TRUE(RegisterViewerModule(clsid, TestFilePath(dll)));
    return name + "|" + clsid;
  }
};

// A name that cannot be a file name is not taken; a class without a
// registration leaves the version to the maker's key.
TEST_F(ViewerModule, TheModuleGivesTheVersionAndOnlyAnAcceptableName) {
  const std::string name = Product("VM_Path");
  RunCheck(InfoFor(name, 0xC001, "viewer_path_name.dll"));
  EXPECT_EQ(std::string(ReadDoubleRecord(name).block.productName), name);
  EXPECT_EQ(ReadDoubleRecord(name).block.installedVersion, PackedVersion::Make(1, 2, 3, 4));

  const std::string unregistered = Product("VM_Unregistered");
  ASSERT_TRUE(SetInstalledVersion(unregistered, PackedVersion::Make(4, 4, 0, 0)));
  RunCheck(unregistered + "|" + Clsid(0xC002));
  EXPECT_EQ(ReadDoubleRecord(unregistered).block.installedVersion, PackedVersion::Make(4, 4, 0, 0));
}

// Its tests share the keys of "Quillon" and "QuillonPlugin" (CMakeLists.txt locks them).
class QuillonModule : public ViewerModule {
 protected:
  void SetUp() override {
    Product("Quillon");
    Product("QuillonPlugin");
  }
};

TEST_F(QuillonModule, OldVersionShowsTheBoxAndCountsAsNotInstalled) {
  const std::string name = Product("QM_Old");
  const std::string info = InfoFor(name, 0xD001, "viewer_quillon_10_23_0_5.dll");
  CheckHost host(info);
  const HWND box =
      WaitForTopLevelWindow(::GetCurrentProcessId(), "#32770", "Latest version of Quillon is required", 20000);
  ASSERT_NE(box, nullptr) << "no old-version message box";
  EXPECT_EQ(::GetWindow(box, GW_OWNER), host.Window()) << "owned by the host's active window";
  // A check of the same product nested in the box's loop returns at once.
  EXPECT_TRUE(RunNestedCheck(host.Window(), info)) << "the nested check waited";
  EXPECT_EQ(ReadDoubleRecord(name).runs, 0u) << "the installer starts only after the box is closed";
  ASSERT_TRUE(PressButton(box, "OK"));
  ASSERT_TRUE(host.WaitDone(kCheckTimeoutMs));

  // The box disabled its owner while it was up; then, nothing installed, a
  // first installation of "Quillon" under the Info name.
  std::vector<std::string> expected = {"disabled", "nested", "enabled"};
  expected.insert(expected.end(), kFirstInstallationEvents.begin(), kFirstInstallationEvents.end());
  EXPECT_EQ(host.Events(), expected);
  const DoubleRecord record = ReadDoubleRecord(name);
  EXPECT_STREQ(record.block.productName, "Quillon");
  EXPECT_TRUE(record.block.installedVersion.IsZero());
  EXPECT_EQ(std::string(record.block.downloadBaseUrl), kBase + "quillon/download/");
  EXPECT_EQ(record.argument, name);
}

TEST_F(QuillonModule, CurrentVersionsShowNoBoxAndFollowTheThrottle) {
  for (const char* dll : {"viewer_quillon_10_23_0_6.dll", "viewer_quillon_10_24_0_0.dll"}) {
    const std::string name = Product(std::string("QM_") + dll);
    const std::string info = InfoFor(name, 0xD003, dll);
    ASSERT_TRUE(SetNextUpdateTime("Quillon", NowAsFileTime() + kFileTimeTicksPerDay));
    EXPECT_TRUE(RunCheck(info).empty()) << "a box would have kept the check from returning";
    EXPECT_EQ(ReadDoubleRecord(name).runs, 0u) << dll;

    Product("Quillon");  // no NextUpdateTime: due
    EXPECT_TRUE(RunCheck(info).empty());
    EXPECT_STREQ(ReadDoubleRecord(name).block.productName, "Quillon") << dll;
  }
}

// The module named "Quillon Viewer" is the plug-in, installed anew under its
// own name (the rendezvous keeps the Info name, as for "Quillon" above).
TEST_F(QuillonModule, QuillonViewerBecomesQuillonPlugin) {
  const std::string name = Product("QM_Viewer");
  RunCheck(InfoFor(name, 0xD004, "viewer_quillon_viewer.dll"));
  const DoubleRecord record = ReadDoubleRecord(name);
  EXPECT_STREQ(record.block.productName, "QuillonPlugin");
  EXPECT_TRUE(record.block.installedVersion.IsZero());
  EXPECT_EQ(std::string(record.block.downloadBaseUrl), kBase + "quillonplugin/download/");
}

}  // namespace
}  // namespace orvex::test
