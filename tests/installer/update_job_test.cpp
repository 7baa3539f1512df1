// The installer's road end to end: the real check starts the real installer,
// which fetches the record from the information server, asks where it must,
// downloads the sample package with progress, checks it, records the next
// check and runs the package.
#include <memory>
#include <string>
#include <vector>

#include "reliability_support.h"
#include "road_support.h"
#include "test_registry.h"
#include "ui_robot.h"
#include "win_handles.h"

namespace orvex::test {
namespace {

// Holds the sample setup once it starts, until let go (at the latest at its end).
struct SetupHold {
  explicit SetupHold(const std::string& lowerProduct)
      : go(::CreateEventA(nullptr, TRUE, FALSE, ("orvextest_setup_go_" + lowerProduct).c_str())) {}
  ~SetupHold() {
    ::SetEvent(go);
    ::CloseHandle(go);
  }
  HANDLE go;
};

template <class Condition>
bool WaitUntil(Condition condition) {
  const ULONGLONG deadline = ::GetTickCount64() + kRoadTimeoutMs;
  while (!condition()) {
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(10);
  }
  return true;
}

ULONGLONG ExitTime(HANDLE process) {
  FILETIME created = {}, exited = {}, kernel = {}, user = {};
  ::GetProcessTimes(process, &created, &exited, &kernel, &user);
  return (static_cast<ULONGLONG>(exited.dwHighDateTime) << 32) | exited.dwLowDateTime;
}

std::string Item(HWND dialog, int id) { return WindowText(::GetDlgItem(dialog, id)); }

using Road = RoadTest;

TEST_F(Road, FirstInstallationDownloadsRunsAndWaitsForThePackage) {
  UseProduct("RoadFirst");
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
  SetFault(PackageServerPath("1-0-0-5"), R"({"drip": {"chunk": 16384, "delay_ms": 40}})");
  SetupHold hold(lower_);
  InstallerEnd installer(product_);
  // The download base names port 8080: every connection goes to port 80 all the same.
  CheckHost host(product_ + "||http://127.0.0.1:8080/" + lower_ + "/download/");

  const HWND dialog = WaitForBox("Orvex Smart Installer: Downloading RoadFirst...");
  ASSERT_NE(dialog, nullptr);
  const DWORD installerPid = WaitForChildProcess("OrvexInstaller.exe", ::GetCurrentProcessId(), kRoadTimeoutMs);
  const UniqueHandle installerProcess(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, installerPid));
  ASSERT_TRUE(installerProcess);
  // The record's description replaces the notice's, then the download shows its progress.
  std::string progress;
  EXPECT_TRUE(WaitUntil([&] { return (progress = Item(dialog, 203)).find("Downloaded]") != std::string::npos; }));
  EXPECT_NE(progress.find("K of "), std::string::npos) << progress;
  EXPECT_EQ(Item(dialog, 208), "The sample viewer, for tests");
  EXPECT_TRUE(FindTopLevelWindows(0, "#32770", "Confirm Download").empty()) << "a first installation asks nothing";

  ASSERT_TRUE(WaitUntil([&] { return SetupRan(lower_); })) << "the package never ran";
  EXPECT_TRUE(HasNextUpdateTime(product_)) << "written before the package starts";
  EXPECT_FALSE(::IsWindowVisible(dialog)) << "the dialog is hidden while the package runs";
  EXPECT_EQ(ReadSetupRecord(lower_).path, PackagePath(PackageName("1-0-0-5")));
  // The installer lasts until the package ends: it ends after the package,
  // which is held until the test lets it go.
  const UniqueHandle setupProcess(::OpenProcess(
      SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
      WaitForChildProcess(PackageName("1-0-0-5").c_str(), installerPid, kRoadTimeoutMs)));
  ASSERT_TRUE(setupProcess) << "the held package is not running";
  EXPECT_FALSE(host.Done());

  ::SetEvent(hold.go);
  ASSERT_TRUE(installer.Wait());
  ASSERT_EQ(::WaitForSingleObject(installerProcess.Get(), kRoadTimeoutMs), WAIT_OBJECT_0);
  ASSERT_EQ(::WaitForSingleObject(setupProcess.Get(), kRoadTimeoutMs), WAIT_OBJECT_0);
  EXPECT_GE(ExitTime(installerProcess.Get()), ExitTime(setupProcess.Get())) << "the installer ended before the package";
  ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
  EXPECT_EQ(host.Events(), (std::vector<std::string>{"minimized", "disabled", "enabled", "restored"}));
  EXPECT_TRUE(ReadFileBytes(PackagePath(PackageName("1-0-0-5"))) == SamplePackageBytes()) << "the package as served";

  // The package installed the product; the next check finds it and is not due.
  CheckHost again(product_);
  ASSERT_TRUE(again.WaitDone(kRoadTimeoutMs));
  EXPECT_TRUE(again.Events().empty());
  EXPECT_EQ(ReadSetupRecord(lower_).runs, 1u);

  const std::vector<std::string> requests = LoggedRequests("/" + lower_ + "/");
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].find("OrvexInstaller"), std::string::npos) << "user agent";
  EXPECT_NE(requests[0].find("*/*"), std::string::npos) << "Accept header";
}

// Cancel ends the job without waiting for a server that hangs, in the record's
// fetch as in the download: nothing said, nothing run, the next check due, and
// the partial package left as it was written.
TEST_F(Road, CancelEndsAHangingFetchOrDownloadQuietly) {
  UseProduct("RoadCancel");
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
  for (const bool inDownload : {false, true}) {
    SCOPED_TRACE(inDownload ? "cancel in the download" : "cancel in the record's fetch");
    SetFault(InfoPath(), inDownload ? "{}" : R"({"hang_after": 0})");
    SetFault(PackageServerPath("1-0-0-5"), inDownload ? R"({"hang_after": 20000})" : "{}");
    InstallerEnd installer(product_);
    CheckHost host(product_);
    const HWND dialog = WaitForBox("Orvex Smart Installer: Downloading RoadCancel...");
    ASSERT_NE(dialog, nullptr);
    if (inDownload) {
      // The 20000 bytes the server sent come in faster than the pace shows
      // counts; the count reached is shown all the same while the read waits.
      ASSERT_TRUE(WaitUntil([&] { return Item(dialog, 203).rfind("19K of ", 0) == 0; })) << Item(dialog, 203);
    } else {
      EXPECT_EQ(Item(dialog, 208), "Getting information about 'RoadCancel'...") << "the notice comes first";
      ASSERT_TRUE(WaitUntil([&] { return !LoggedRequests(InfoPath()).empty(); }));
    }
    ASSERT_TRUE(PressButton(dialog, "Cancel"));
    ASSERT_TRUE(installer.Wait(20000)) << "the live transfer must be aborted";
    EXPECT_TRUE(FindTopLevelWindows(0, "#32770", "Error Accessing Internet").empty()) << "a cancel says nothing";
    ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
    EXPECT_FALSE(SetupRan(lower_));
    EXPECT_FALSE(HasNextUpdateTime(product_));
  }
  const std::string partial = ReadFileBytes(PackagePath(PackageName("1-0-0-5")));
  EXPECT_GE(partial.size(), 5000u);
  EXPECT_LT(partial.size(), SamplePackageBytes().size());
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

// Checks that show nothing: up to date, the next check is recorded (an offered
// 32768.0.0.0 is older: the high half compares signed); without an answer from
// the server it stays due.
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
      {nullptr, R"({"status": 500})", PackedVersion::Make(1, 0, 0, 0), false},
      {nullptr, R"({"announce_full_send": 0})", PackedVersion::Make(1, 0, 0, 0), false},
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

TEST_F(Update, ConfirmDownloadNoDeclinesYesInstalls) {
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

  SetFault(PackageServerPath("2-0-1-15"), R"({"drip": {"chunk": 32768, "delay_ms": 50}})");
  Start(PackedVersion::Make(2, 0, 1, 0));
  ASSERT_TRUE(Answer("Confirm Download", "Yes", question));
  // Only now a dialog: an update's information line, and the record's description.
  const HWND dialog = WaitForBox("Orvex Smart Installer: Downloading RoadConfirm...");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(Item(dialog, 205), "Latest version of RoadConfirm is being downloaded. Please wait...");
  EXPECT_TRUE(WaitUntil([&] { return Item(dialog, 208) == "The sample viewer, for tests"; }));
  ASSERT_TRUE(end_->Wait());
  EXPECT_EQ(ReadSetupRecord(lower_).runs, 1u);
  EXPECT_TRUE(HasNextUpdateTime(product_));
  EXPECT_TRUE(FileExists(PackagePath("roadconfirm_2-0-1-15.exe")));
}

TEST_F(Update, PackageAlreadyInPlace) {
  UseProduct("RoadInPlace");
  PublishSample(PackedVersion::Make(3, 1, 0, 0), "3-1-0-0");
  const std::string package = SamplePackageBytes();
  const std::string path = PackagePath(PackageName("3-1-0-0"));
  ::CreateDirectoryA(DownloadsFolder().c_str(), nullptr);

  auto update = [&](const char* keep) {
    Start(PackedVersion::Make(3, 0, 0, 0));
    ASSERT_TRUE(Answer("Confirm Download", "Yes", "(Version 3-1-0-0)"));
    if (keep != nullptr) {
      ASSERT_TRUE(Answer("File Already Downloaded", keep,
                         "Latest version of RoadInPlace is already downloaded (but not installed). Do want to skip "
                         "re-downloading of this file?"));
    }
    ASSERT_TRUE(end_->Wait());
  };

  // Kept: run in place, without a download.
  ASSERT_TRUE(WriteFileBytes(path, package));
  update("Yes");
  EXPECT_EQ(ReadSetupRecord(lower_).runs, 1u);
  EXPECT_TRUE(LoggedRequests("/" + lower_ + "/download/").empty());
  // Not kept: deleted and downloaded again.
  update("No");
  EXPECT_EQ(ReadSetupRecord(lower_).runs, 2u);
  EXPECT_EQ(LoggedRequests("/" + lower_ + "/download/").size(), 1u);
  // Another size: deleted without a question.
  ASSERT_TRUE(WriteFileBytes(path, "MZ\x01\x01 too short"));
  update(nullptr);
  EXPECT_EQ(ReadSetupRecord(lower_).runs, 3u);
  EXPECT_TRUE(ReadFileBytes(path) == package) << "downloaded again";
}

// First installations that fail: the error box says so, nothing runs, the next
// check stays due. (Packages cut short or overlong: the reliability suite's
// PackageFaults.) A package shorter than its four-byte signature, or of size 0,
// is none, rather than a file to verify.
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
  } cases[] = {
      {"record refused", sample, R"({"status": 404})", "{}", "", "Unknown Error", -1},
      {"package refused", sample, "{}", R"({"status": 404})", "", "", -1},
      // Nothing listens on the mirror 127.0.0.2.
      {"no server", sample, "{}", "{}", "http://127.0.0.2/" + lower_ + "/download/", "Error code: 120", -1},
      {"no signature", notPackage, "{}", "{}", "", "", 5000},
      {"size 0", "", "{}", "{}", "", "", 0},
      {"shorter than the signature", "MZ\x01", "{}", "{}", "", "", 3},
  };
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
    EXPECT_TRUE(Answer("Error Accessing Internet", "OK", c.shown));
    EXPECT_TRUE(installer.Wait());
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
