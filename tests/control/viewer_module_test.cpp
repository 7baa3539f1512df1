// The installed version and product name from the viewer's registered module,
// and the old-version message box for Quillon.
#include "check_test_support.h"
#include "ui_robot.h"

namespace orvex::test {
namespace {

const std::string kBase = ORVEX_INFO_BASE_URL;

class ViewerModule : public CheckTest {
 protected:
  // Registers the module under a fresh class identifier; returns the Info text.
  std::string InfoFor(const std::string& name, unsigned clsidNumber, const char* dll) {
    const std::string clsid = Clsid(clsidNumber);
    EXPECT_TRUE(RegisterViewerModule(clsid, TestFilePath(dll)));
    return name + "|" + clsid;
  }
};

// Tests that end in the product "Quillon" or "QuillonPlugin" share its keys:
// they run one at a time (see the resource lock in CMakeLists.txt).
class QuillonModule : public ViewerModule {
 protected:
  void SetUp() override {
    Product("Quillon");
    Product("QuillonPlugin");
  }
};

TEST_F(ViewerModule, ModuleWithoutUsEnglishNameKeepsTheNameAndGivesTheVersion) {
  for (const char* dll : {"viewer_unnamed.dll", "viewer_german_name.dll", "viewer_long_name.dll",
                          "viewer_path_name.dll"}) {
    const std::string name = Product(std::string("VM_") + dll);
    RunCheck(InfoFor(name, 0xC001, dll));
    const DoubleRecord record = Record(name);
    ASSERT_TRUE(record.hasBlock) << dll;
    EXPECT_EQ(std::string(record.block.productName), name) << dll;
    EXPECT_FALSE(record.block.installedVersion.IsZero()) << dll;
  }
  EXPECT_EQ(Record("VM_viewer_unnamed.dll").block.installedVersion, PackedVersion::Make(2, 5, 0, 7));
}

TEST_F(ViewerModule, MissingRegistrationLeavesTheVersionToTheMakersKey) {
  const std::string name = Product("VM_Unregistered");
  ASSERT_TRUE(SetInstalledVersion(name, PackedVersion::Make(4, 4, 0, 0)));
  RunCheck(name + "|" + TestClsid(0xC002));
  EXPECT_EQ(Record(name).block.installedVersion, PackedVersion::Make(4, 4, 0, 0));
}

TEST_F(QuillonModule, OldVersionShowsTheBoxAndCountsAsNotInstalled) {
  const std::string name = Product("QM_Old");
  const std::string info = InfoFor(name, 0xD001, "viewer_quillon_10_23_0_5.dll");
  CheckHost host(info);
  const HWND box =
      WaitForTopLevelWindow(::GetCurrentProcessId(), "#32770", "Latest version of Quillon is required", 20000);
  ASSERT_NE(box, nullptr) << "no old-version message box";
  const std::vector<std::string> texts = ChildTexts(box);
  EXPECT_NE(std::find(texts.begin(), texts.end(),
                      "Latest version of Quillon is required to view this document. "
                      "Latest version will now be downloaded."),
            texts.end());
  EXPECT_EQ(::GetWindow(box, GW_OWNER), host.Window()) << "owned by the host's active window";
  // A check of the same product nested in the box's loop returns at once.
  EXPECT_TRUE(RunNestedCheck(host.Window(), info)) << "the nested check waited";
  EXPECT_FALSE(DoubleRan(name)) << "the installer starts only after the box is closed";
  ASSERT_TRUE(PressButton(box, "OK"));
  ASSERT_TRUE(host.WaitDone(kCheckTimeoutMs));

  // The box disabled its owner while it was up; then, nothing installed, a
  // first installation of "Quillon" under the Info name.
  std::vector<std::string> expected = {"disabled", "nested", "enabled"};
  expected.insert(expected.end(), FirstInstallationEvents().begin(), FirstInstallationEvents().end());
  EXPECT_EQ(host.Events(), expected);
  const DoubleRecord record = Record(name);
  EXPECT_STREQ(record.block.productName, "Quillon");
  EXPECT_TRUE(record.block.installedVersion.IsZero());
  EXPECT_EQ(std::string(record.block.downloadBaseUrl), kBase + "quillon/download/");
  EXPECT_EQ(record.argument, name);
}

TEST_F(QuillonModule, OldVersionWithAVersionValueFollowsTheThrottle) {
  const std::string name = Product("QM_OldKnown");
  ASSERT_TRUE(SetInstalledVersion("Quillon", PackedVersion::Make(10, 23, 0, 6)));
  ASSERT_TRUE(SetNextUpdateTime("Quillon", NowAsFileTime() + kFileTimeTicksPerDay));
  CheckHost host(InfoFor(name, 0xD002, "viewer_quillon_10_23_0_5.dll"));
  const HWND box =
      WaitForTopLevelWindow(::GetCurrentProcessId(), "#32770", "Latest version of Quillon is required", 20000);
  ASSERT_NE(box, nullptr);
  ASSERT_TRUE(PressButton(box, "OK"));
  ASSERT_TRUE(host.WaitDone(kCheckTimeoutMs));
  EXPECT_FALSE(DoubleRan(name)) << "the Version value makes it known and the check not due";
}

TEST_F(QuillonModule, CurrentVersionsShowNoBoxAndFollowTheThrottle) {
  for (const char* dll : {"viewer_quillon_10_23_0_6.dll", "viewer_quillon_10_24_0_0.dll"}) {
    const std::string name = Product(std::string("QM_") + dll);
    const std::string info = InfoFor(name, 0xD003, dll);
    ASSERT_TRUE(SetNextUpdateTime("Quillon", NowAsFileTime() + kFileTimeTicksPerDay));
    EXPECT_TRUE(RunCheck(info).empty()) << "a box would have kept the check from returning";
    EXPECT_FALSE(DoubleRan(name)) << dll;

    Product("Quillon");  // no NextUpdateTime: due
    EXPECT_TRUE(RunCheck(info).empty());
    const DoubleRecord record = Record(name);
    EXPECT_STREQ(record.block.productName, "Quillon");
    EXPECT_FALSE(record.block.installedVersion < PackedVersion::Make(10, 23, 0, 6)) << dll;
  }
}

TEST_F(QuillonModule, QuillonViewerBecomesQuillonPluginExceptForTheRendezvous) {
  const std::string name = Product("QM_Viewer");
  EXPECT_EQ(RunCheck(InfoFor(name, 0xD004, "viewer_quillon_viewer.dll")), FirstInstallationEvents());
  const DoubleRecord record = Record(name);
  EXPECT_STREQ(record.block.productName, "QuillonPlugin");
  EXPECT_TRUE(record.block.installedVersion.IsZero());
  EXPECT_EQ(std::string(record.block.downloadBaseUrl), kBase + "quillonplugin/download/");
  EXPECT_EQ(record.argument, name);
  // The maker's key is looked up (and so created) under the new name.
  HKEY key = nullptr;
  ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, MakerKeyPath("QuillonPlugin").c_str(), 0, KEY_READ, &key),
            ERROR_SUCCESS);
  ::RegCloseKey(key);
}

}  // namespace
}  // namespace orvex::test
