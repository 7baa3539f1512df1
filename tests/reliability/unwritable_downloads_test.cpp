// A downloads folder that cannot be written: a file stands where the folder
// goes, or a folder where the package file goes. The installer reports the
// failure in its error box, runs nothing, records no next check and ends
// normally; the host gets its window back.
#include <string>
#include <vector>

#include "check_host.h"
#include "reliability_support.h"
#include "road_support.h"
#include "test_registry.h"
#include "ui_robot.h"

namespace orvex::test {
namespace {

constexpr char kInPlace[] = "not a folder";
constexpr DWORD kSuiteBudgetMs = 120000;

bool IsFolder(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

class UnwritableDownloads : public RoadTest {
 protected:
  static void SetUpTestSuite() { StartSuiteBudget(kSuiteBudgetMs); }
  void SetUp() override { RestoreFolder(); }
  // Also between cases: no installer left with a box open, nothing in the way.
  void TearDown() override {
    if (installer_) KillProcess(installer_.Get());
    RestoreFolder();
    ::RemoveDirectoryA(PackagePath(Package()).c_str());
    RoadTest::TearDown();
  }

  std::string Package() const { return PackageName("1-0-0-5"); }
  static std::string AsidePath() { return DownloadsFolder() + ".reliability-aside"; }

  // A file where the downloads folder goes; the folder itself is kept aside.
  static void BlockFolder() {
    const std::string folder = DownloadsFolder();
    ::CreateDirectoryA(folder.substr(0, folder.find_last_of('\\')).c_str(), nullptr);
    ASSERT_TRUE(!IsFolder(folder) || ::MoveFileA(folder.c_str(), AsidePath().c_str()));
    ASSERT_TRUE(WriteFileBytes(folder, kInPlace));
  }

  // A folder where the package file goes.
  void BlockPackage() const {
    ::CreateDirectoryA(DownloadsFolder().c_str(), nullptr);
    ASSERT_TRUE(::CreateDirectoryA(PackagePath(Package()).c_str(), nullptr) || IsFolder(PackagePath(Package())));
  }

  // The downloads folder as it was, also after a run that stopped half-way.
  static void RestoreFolder() {
    const std::string folder = DownloadsFolder();
    if (!IsFolder(folder) && ReadFileBytes(folder) == kInPlace) ::DeleteFileA(folder.c_str());
    if (IsFolder(AsidePath()) && !IsFolder(folder)) ::MoveFileA(AsidePath().c_str(), folder.c_str());
  }

  // Presses a button of the installer's box; fails, with the reason, when no box came.
  void Answer(const char* title, const char* button) {
    const HWND box = WaitForBoxWhileRunning(title, installer_.Get(), Step());
    ASSERT_NE(box, nullptr) << "no box \"" << title << "\"; the installer " << StateOf(installer_.Get());
    ASSERT_TRUE(PressButton(box, button));
  }

  UniqueHandle installer_;
};

TEST_F(UnwritableDownloads, TheFailureIsReportedAndNothingRuns) {
  const struct {
    const char* what;
    bool blockPackage;  // a folder where the package goes, else a file where the folder goes
    bool update;
  } cases[] = {
      {"a file where the folder goes, at a first installation", false, false},
      {"a file where the folder goes, at an update", false, true},
      {"a folder where the package goes, at a first installation", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    UseProduct("Blocked");
    PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
    ASSERT_TRUE(!c.update || SetInstalledVersion(product_, PackedVersion::Make(1, 0, 0, 0)));
    ASSERT_NO_FATAL_FAILURE(c.blockPackage ? BlockPackage() : BlockFolder());
    CheckHost host(product_);
    const AtScopeEnd stop([this] {
      if (installer_) KillProcess(installer_.Get());
    });
    installer_ = WaitForOwnInstaller(Step());
    ASSERT_TRUE(installer_) << "no installer started";
    if (c.update) {
      // An update lets the host go at once, and asks before it downloads.
      ASSERT_TRUE(host.WaitDone(Step()));
      ASSERT_NO_FATAL_FAILURE(Answer("Confirm Download", "Yes"));
    }
    ASSERT_NO_FATAL_FAILURE(Answer(kErrorBoxTitle, "OK")) << "the failure was not reported";
    // Then the installer ends of itself, normally.
    ASSERT_EQ(::WaitForSingleObject(installer_.Get(), Step()), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(installer_.Get()), 0u) << "the installer did not end normally";
    EXPECT_FALSE(SetupRan(lower_));
    EXPECT_FALSE(HasNextUpdateTime(product_)) << "the next check must stay due";
    ASSERT_TRUE(host.WaitDone(Step()));
    EXPECT_EQ(host.Events(), c.update ? std::vector<std::string>() : kFirstInstallation);
    EXPECT_TRUE(c.blockPackage ? IsFolder(PackagePath(Package())) : ReadFileBytes(DownloadsFolder()) == kInPlace)
        << "what stood in the download's way was changed";
    EXPECT_TRUE(WaitRendezvousGone(product_, Step()));
  }
}

}  // namespace
}  // namespace orvex::test
