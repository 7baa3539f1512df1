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
#include "win_handles.h"

namespace orvex::test {
namespace {

constexpr char kErrorBoxTitle[] = "Error Accessing Internet";
constexpr char kInPlace[] = "not a folder";
// The suite's time budget, and the most any one wait may take of it.
constexpr DWORD kSuiteBudgetMs = 120000;
constexpr DWORD kStepMs = 30000;

bool IsFolder(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

class UnwritableDownloads : public RoadTest {
 protected:
  static void SetUpTestSuite() { budget_ = Deadline(kSuiteBudgetMs); }
  void SetUp() override { RestoreFolder(); }
  static DWORD Step() { return budget_.Left(kStepMs); }
  void TearDown() override {
    StopInstaller();
    RestoreFolder();
    if (!blockingFolder_.empty()) ::RemoveDirectoryA(blockingFolder_.c_str());
    RoadTest::TearDown();
  }

  static std::string AsidePath() { return DownloadsFolder() + ".reliability-aside"; }

  // A file where the downloads folder goes; the folder itself is kept aside.
  void BlockDownloadsFolder() {
    const std::string folder = DownloadsFolder();
    ::CreateDirectoryA(folder.substr(0, folder.find_last_of('\\')).c_str(), nullptr);
    if (IsFolder(folder)) {
      ASSERT_TRUE(::MoveFileA(folder.c_str(), AsidePath().c_str()));
    }
    ASSERT_TRUE(WriteFileBytes(folder, kInPlace));
  }

  // The downloads folder as it was, also after a run that stopped half-way.
  static void RestoreFolder() {
    const std::string folder = DownloadsFolder();
    if (IsFile(folder) && ReadFileBytes(folder) == kInPlace) ::DeleteFileA(folder.c_str());
    if (IsFolder(AsidePath()) && !IsFolder(folder)) ::MoveFileA(AsidePath().c_str(), folder.c_str());
  }

  // After a failure, no installer is left with a box open, and no host
  // waiting for it.
  void StopInstaller() {
    if (installer_ && ::WaitForSingleObject(installer_.Get(), 0) != WAIT_OBJECT_0) KillProcess(installer_.Get());
  }

  // Waits for the installer that this process's host started.
  void CatchInstaller() {
    const DWORD pid = WaitForChildProcess(kInstallerExe, ::GetCurrentProcessId(), Step());
    ASSERT_NE(pid, 0u) << "no installer started";
    installer_.Reset(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid));
    ASSERT_TRUE(installer_.Valid());
  }

  // Answers the error box; then the installer ends of itself, with exit code 0.
  void ExpectReportedAndNormalEnd() {
    const HWND box = WaitForInstallerBox(kErrorBoxTitle);
    ASSERT_NE(box, nullptr) << "the failure was not reported";
    ASSERT_TRUE(PressButton(box, "OK"));
    ASSERT_EQ(::WaitForSingleObject(installer_.Get(), Step()), WAIT_OBJECT_0);
    DWORD exitCode = STILL_ACTIVE;
    ASSERT_TRUE(::GetExitCodeProcess(installer_.Get(), &exitCode));
    EXPECT_EQ(exitCode, 0u) << "the installer did not end normally";
    EXPECT_FALSE(SetupRan(lower_));
    EXPECT_FALSE(HasNextUpdateTime(product_)) << "the next check must stay due";
    EXPECT_TRUE(FindTopLevelWindows(0, "#32770", kErrorBoxTitle).empty()) << "a second report";
  }

  // A first installation against the blocked folder: reported, and the host
  // gets its window back.
  void ExpectFirstInstallationFails() {
    CheckHost host(product_);
    const AtScopeEnd stop([this] { StopInstaller(); });
    ASSERT_NO_FATAL_FAILURE(CatchInstaller());
    ASSERT_NO_FATAL_FAILURE(ExpectReportedAndNormalEnd());
    ASSERT_TRUE(host.WaitDone(Step()));
    EXPECT_EQ(host.Events(), kFirstInstallationEvents);
    EXPECT_TRUE(WaitRendezvousGone(product_, Step()));
  }

  // Waits for a box of the installer; null, with the reason, when none came.
  HWND WaitForInstallerBox(const char* title) {
    const HWND box = WaitForBoxWhileRunning(title, installer_.Get(), Step());
    const DWORD exitCode = ExitCodeOf(installer_.Get());
    EXPECT_NE(box, nullptr) << "no box \"" << title << "\""
                            << (exitCode == STILL_ACTIVE ? std::string()
                                                         : "; the installer ended with exit code " +
                                                               std::to_string(exitCode));
    return box;
  }

  static Deadline budget_;
  UniqueHandle installer_;
  std::string blockingFolder_;
};

Deadline UnwritableDownloads::budget_;

TEST_F(UnwritableDownloads, AFileWhereTheFolderGoesFailsAFirstInstallation) {
  UseProduct("BlockedFolder");
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
  ASSERT_NO_FATAL_FAILURE(BlockDownloadsFolder());
  ASSERT_NO_FATAL_FAILURE(ExpectFirstInstallationFails());
  EXPECT_TRUE(ReadFileBytes(DownloadsFolder()) == kInPlace) << "the file in the folder's place was changed";
}

TEST_F(UnwritableDownloads, AFileWhereTheFolderGoesFailsAnUpdate) {
  UseProduct("BlockedUpdate");
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
  ASSERT_TRUE(SetInstalledVersion(product_, PackedVersion::Make(1, 0, 0, 0)));
  ASSERT_NO_FATAL_FAILURE(BlockDownloadsFolder());
  {
    CheckHost host(product_);
    ASSERT_NO_FATAL_FAILURE(CatchInstaller());
    ASSERT_TRUE(host.WaitDone(Step()));
    EXPECT_TRUE(host.Events().empty()) << "an update leaves the host window alone";
  }
  const HWND confirm = WaitForInstallerBox("Confirm Download");
  ASSERT_NE(confirm, nullptr);
  ASSERT_TRUE(PressButton(confirm, "Yes"));
  ASSERT_NO_FATAL_FAILURE(ExpectReportedAndNormalEnd());
  EXPECT_TRUE(WaitRendezvousGone(product_, Step()));
}

TEST_F(UnwritableDownloads, AFolderWhereThePackageGoesFailsAFirstInstallation) {
  UseProduct("BlockedPackage");
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
  blockingFolder_ = PackagePath(PackageName("1-0-0-5"));
  ::CreateDirectoryA(DownloadsFolder().c_str(), nullptr);
  ASSERT_TRUE(::CreateDirectoryA(blockingFolder_.c_str(), nullptr) || IsFolder(blockingFolder_));
  ASSERT_NO_FATAL_FAILURE(ExpectFirstInstallationFails());
  EXPECT_TRUE(IsFolder(blockingFolder_));
}

}  // namespace
}  // namespace orvex::test
