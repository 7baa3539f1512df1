// The installer's road end to end, from the real check to the package run.
#include <memory>
#include <string>
#include <vector>

#include "object_names.h"
#include "reliability_support.h"
#include "road_support.h"
#include "test_registry.h"
#include "ui_robot.h"
#include "win_handles.h"

namespace orvex::test {
namespace {

std::string Item(HWND dialog, int id) { return WindowText(::GetDlgItem(dialog, id)); }

// The installer holds the rendezvous under its exact name, blanks and all, and
// closes the mapping before it releases the control.
TEST(InstallerWithCheck, UpdateCheckReleasesTheRendezvousAfterClosingTheMapping) {
  const std::string name = "Real Mixed  ";
  ForgetProduct(name);
  ASSERT_TRUE(SetInstalledVersion(name, PackedVersion::Make(1, 2, 0, 0)));
  InstallerEnd installer(name);
  CheckHost host(name);
  ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
  ASSERT_TRUE(installer.Wait()) << "installing_ + the exact name was never released";
  const UniqueHandle mapping(::OpenFileMappingA(FILE_MAP_READ, FALSE, (kInfoPrefix + name).c_str()));
  EXPECT_FALSE(mapping) << "the mapping must be closed before installing_ is set";
  ForgetProduct(name);
}

using Road = RoadTest;

TEST_F(Road, FirstInstallationDownloadsWithProgressAndRunsThePackage) {
  UseProduct("RoadFirst");
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
  SetFault(PackageServerPath("1-0-0-5"), R"({"drip": {"chunk": 16384, "delay_ms": 40}})");
  // The sample setup holds until this event is set (at the latest when the test ends).
  const UniqueHandle go(::CreateEventA(nullptr, TRUE, FALSE, ("orvextest_setup_go_" + lower_).c_str()));
  InstallerEnd installer(product_);
  // The download base names port 8080: every connection goes to port 80 all the same.
  CheckHost host(product_ + "||http://127.0.0.1:8080/" + lower_ + "/download/");
  const AtScopeEnd letGo([&] { ::SetEvent(go.Get()); });

  const HWND dialog = WaitForBox("Orvex Smart Installer: Downloading RoadFirst...");
  ASSERT_NE(dialog, nullptr);
  std::string progress;
  EXPECT_TRUE(WaitUntil([&] { return (progress = Item(dialog, 203)).find("Downloaded]") != std::string::npos; },
                        kRoadTimeoutMs));
  EXPECT_EQ(Item(dialog, 208), "The sample viewer, for tests");
  EXPECT_TRUE(FindTopLevelWindows(0, "#32770", "Confirm Download").empty()) << "a first installation asks nothing";

  // The package runs from the downloads folder, the dialog hidden, the installer waiting.
  ASSERT_TRUE(WaitUntil([&] { return SetupRan(lower_); }, kRoadTimeoutMs)) << "the package never ran";
  EXPECT_FALSE(::IsWindowVisible(dialog));
  EXPECT_EQ(ReadSetupRecord(lower_).path, PackagePath(PackageName("1-0-0-5")));
  EXPECT_FALSE(installer.Wait(0));
  ::SetEvent(go.Get());
  ASSERT_TRUE(installer.Wait());
  ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
  EXPECT_EQ(ReadSetupRecord(lower_).runs, 1u);
  EXPECT_TRUE(HasNextUpdateTime(product_));
  EXPECT_TRUE(ReadFileBytes(PackagePath(PackageName("1-0-0-5"))) == SamplePackageBytes()) << "the package as served";
}

// Cancel aborts a download the server hangs: nothing said, nothing run, the next check due.
TEST_F(Road, CancelEndsAHangingDownloadQuietly) {
  UseProduct("RoadCancel");
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
  SetFault(PackageServerPath("1-0-0-5"), R"({"hang_after": 20000})");
  InstallerEnd installer(product_);
  CheckHost host(product_);
  const HWND dialog = WaitForBox("Orvex Smart Installer: Downloading RoadCancel...");
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return Item(dialog, 203).rfind("19K of ", 0) == 0; }, kRoadTimeoutMs))
      << Item(dialog, 203);
  ASSERT_TRUE(PressButton(dialog, "Cancel"));
  ASSERT_TRUE(installer.Wait(20000)) << "the live transfer must be aborted";
  EXPECT_TRUE(FindTopLevelWindows(0, "#32770", "Error Accessing Internet").empty()) << "a cancel says nothing";
  ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
  EXPECT_FALSE(SetupRan(lower_));
  EXPECT_FALSE(HasNextUpdateTime(product_));
}

// An update check: the installer works alone after the check returned.
class Update : public RoadTest {
 protected:
  void Start(PackedVersion installed) {
    ASSERT_TRUE(SetInstalledVersion(product_, installed));
    DeleteMachineKey(DownloadsKeyPath(product_));  // due now, whatever the last run recorded
    end_.reset();  // the last run's event, so that it can go
    end_ = std::make_unique<InstallerEnd>(product_);
    CheckHost host(product_);
    ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
    EXPECT_TRUE(host.Events().empty());
  }
  std::unique_ptr<InstallerEnd> end_;
};

// Up to date (32768.0.0.0 is older: the high half compares signed) or unanswered: nothing shown.
TEST_F(Update, ShowsNothingWhenUpToDateOrUnanswered) {
  UseProduct("RoadQuiet");
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5", 0);
  const struct {
    const char* record;  // null: the sample's
    const char* fault;
    PackedVersion installed;
    bool nextCheck;
  } cases[] = {
      {nullptr, "{}", PackedVersion::Make(1, 0, 0, 5), true},
      {nullptr, R"({"status": 404})", PackedVersion::Make(1, 0, 0, 0), false},
      {"0|32768.0.0.0|0.0.0.0|1000|x|y", "{}", PackedVersion::Make(1, 0, 0, 0), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.record != nullptr ? c.record : "the sample's record") + " " + c.fault);
    if (c.record != nullptr) PublishRecord(c.record);
    SetFault(InfoPath(), c.fault);
    Start(c.installed);
    ASSERT_TRUE(end_->Wait());
    EXPECT_TRUE(FindTopLevelWindows(0, "#32770", "").empty());
    EXPECT_EQ(HasNextUpdateTime(product_), c.nextCheck);
  }
  EXPECT_TRUE(LoggedRequests("/" + lower_ + "/download/").empty());
  EXPECT_FALSE(SetupRan(lower_));
}

// (Yes: the kept-package cases below.)
TEST_F(Update, DeclinedUpdateIsAskedAgain) {
  UseProduct("RoadConfirm");
  PublishSample(PackedVersion::Make(2, 0, 1, 15), "2-0-1-15");
  const std::string question =
      "The currently installed version of 'RoadConfirm' is old. A newer version (Version 2-0-1-15) is "
      "available. Do want to download and install it now?";
  Start(PackedVersion::Make(2, 0, 1, 0));
  ASSERT_TRUE(Answer("Confirm Download", "No", question));
  ASSERT_TRUE(end_->Wait());
  EXPECT_FALSE(HasNextUpdateTime(product_)) << "a declined update is asked again next time";
  EXPECT_TRUE(LoggedRequests("/" + lower_ + "/download/").empty());
}

// A kept package of the record's size is offered, then judged like a downloaded one.
TEST_F(Update, AKeptPackageIsOfferedAndJudgedLikeADownloadedOne) {
  UseProduct("RoadKept");
  const std::string sample = SamplePackageBytes();
  const struct {
    const char* what;
    std::string kept;
    const char* keep;  // the answer to "File Already Downloaded"; null: not asked
    bool grows, runs;
  } cases[] = {
      {"kept: run in place", sample, "Yes", false, true},
      {"not kept: downloaded again", sample, "No", false, true},
      {"another size: downloaded again unasked", "MZ\x01\x01 too short", nullptr, false, true},
      {"an unsigned program", ReadFileBytes(TestFilePath("sample_setup_unsigned.exe")), "Yes", false, false},
      {"signed, no four bytes", ReadFileBytes(TestFilePath("sample_setup_unstamped.exe")), "Yes", false, false},
      {"signed, grown while the user was asked", sample, "Yes", true, false},
  };
  const std::string path = PackagePath(PackageName("1-0-0-5"));
  const std::string folder = DownloadsFolder();
  ::CreateDirectoryA(folder.substr(0, folder.rfind('\\')).c_str(), nullptr);
  ::CreateDirectoryA(folder.c_str(), nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PublishPackage(PackageName("1-0-0-5"), sample);
    PublishRecord("7|1.0.0.5|0.0.0.0|" + std::to_string((c.keep != nullptr ? c.kept : sample).size()) + "|first|x");
    ASSERT_TRUE(WriteFileBytes(path, c.kept));
    const DWORD runs = ReadSetupRecord(lower_).runs;
    MarkLog();
    Start(PackedVersion::Make(1, 0, 0, 0));
    ASSERT_TRUE(Answer("Confirm Download", "Yes", "(Version 1-0-0-5)"));
    if (c.keep != nullptr) {
      ASSERT_NE(WaitForBox("File Already Downloaded"), nullptr);
      if (c.grows) {
        ASSERT_TRUE(WriteFileBytes(path, c.kept + std::string(16, '\0')));
      }
      ASSERT_TRUE(Answer("File Already Downloaded", c.keep,
                         "Latest version of RoadKept is already downloaded (but not installed). Do want to skip "
                         "re-downloading of this file?"));
    }
    if (!c.runs) {
      EXPECT_TRUE(Answer("RoadKept", "OK", "The package of 'RoadKept' could not be verified and was not installed."));
    }
    ASSERT_TRUE(end_->Wait());
    EXPECT_EQ(ReadSetupRecord(lower_).runs, runs + (c.runs ? 1 : 0));
    EXPECT_EQ(HasNextUpdateTime(product_), c.runs);
    const bool downloads = c.keep == nullptr || std::string(c.keep) == "No";
    EXPECT_EQ(LoggedRequests("/" + lower_ + "/download/").size(), downloads ? 1u : 0u);
    EXPECT_TRUE(ReadFileBytes(path) == (c.runs ? sample : "")) << "a refused package is deleted";
  }
}

// First installations that fail: the error box, owned by the dialog, says so;
// nothing runs, the next check stays due, the dialog is gone before the release.
using FailedDownload = RoadTest;

TEST_F(FailedDownload, EachFailureIsReportedAndRunsNothing) {
  UseProduct("RoadFailed");
  const std::string sample = SamplePackageBytes();
  std::string notPackage = sample;
  notPackage[2] = '\x90';
  const struct {
    const char* what;
    std::string package;  // served, the record naming its size
    const char *infoFault, *packageFault;
    std::string downloadBase;  // in Info; empty: the default
    const char* shown;         // in the error box
    int fileLeft;              // -1: no package file; 0: not looked at; N: 1 to N bytes stay
    const char* description;   // in the dialog: the notice until the record came, then its description
  } cases[] = {
      {"record refused", sample, R"({"status": 404})", "{}", "", "Unknown Error", -1,
       "Getting information about 'RoadFailed'..."},
      {"package refused", sample, "{}", R"({"status": 404})", "", "", -1, "x"},
      // Nothing listens on the mirror 127.0.0.2.
      {"no server", sample, "{}", "{}", "http://127.0.0.2/" + lower_ + "/download/", "Error code: 120", -1, "x"},
      {"no signature", notPackage, "{}", "{}", "", "", 5000, "x"},
      {"size 0", "", "{}", "{}", "", "", 0, "x"},
      {"shorter than the signature", "MZ\x01", "{}", "{}", "", "", 3, "x"},
  };
  const std::string dialogTitle = "Orvex Smart Installer: Downloading RoadFailed...";
  const std::string packagePath = PackagePath(PackageName("1-0-0-5"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ForgetProduct(product_);
    ::DeleteFileA(packagePath.c_str());
    PublishPackage(PackageName("1-0-0-5"), c.package);
    PublishRecord("7|1.0.0.5|0.0.0.0|" + std::to_string(c.package.size()) + "|first|x");
    SetFault(InfoPath(), c.infoFault);
    SetFault(PackageServerPath("1-0-0-5"), c.packageFault);
    InstallerEnd installer(product_);
    CheckHost host(product_ + (c.downloadBase.empty() ? "" : "||" + c.downloadBase));
    const HWND box = WaitForBox("Error Accessing Internet");
    ASSERT_NE(box, nullptr);
    const HWND dialog = ::GetWindow(box, GW_OWNER);
    EXPECT_EQ(WindowText(dialog), dialogTitle);
    EXPECT_EQ(Item(dialog, 208), c.description);
    EXPECT_FALSE(host.Done());
    EXPECT_TRUE(Answer("Error Accessing Internet", "OK", c.shown));
    EXPECT_TRUE(installer.Wait());
    EXPECT_TRUE(FindTopLevelWindows(0, "#32770", dialogTitle).empty()) << "the dialog outlived the release";
    EXPECT_TRUE(host.WaitDone(kRoadTimeoutMs));
    EXPECT_FALSE(SetupRan(lower_)) << "a failed download must not run";
    EXPECT_FALSE(HasNextUpdateTime(product_));
    const std::string left = ReadFileBytes(packagePath);
    if (c.fileLeft < 0) {
      EXPECT_FALSE(FileExists(packagePath));
    } else if (c.fileLeft > 0) {
      EXPECT_TRUE(!left.empty() && left.size() <= static_cast<size_t>(c.fileLeft)) << left.size();
    }
  }
}

}  // namespace
}  // namespace orvex::test
