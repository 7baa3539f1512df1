// The installer's road end to end: the real check starts the real installer,
// which fetches the record from the information server, asks where it must,
// downloads the sample package with progress, checks it, records the next
// check and runs the package.
#include <algorithm>
#include <memory>
#include <string>

#include "installer_double_protocol.h"
#include "object_names.h"
#include "road_support.h"
#include "test_registry.h"
#include "ui_robot.h"

namespace orvex::test {
namespace {

// Holds the sample setup once it starts, until let go.
class SetupHold {
 public:
  explicit SetupHold(const std::string& lowerProduct)
      : event_(::CreateEventA(nullptr, TRUE, FALSE, ("orvextest_setup_go_" + lowerProduct).c_str())) {}
  ~SetupHold() {
    ::SetEvent(event_);
    ::CloseHandle(event_);
  }
  void LetGo() const { ::SetEvent(event_); }

 private:
  HANDLE event_;
};

bool WaitUntil(bool (*condition)(const std::string&), const std::string& argument, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (!condition(argument)) {
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(20);
  }
  return true;
}

const std::vector<std::string> kFirstInstallation = {"minimized", "disabled", "enabled", "restored"};

using Road = RoadTest;

TEST_F(Road, FirstInstallationDownloadsRunsAndWaitsForThePackage) {
  UseProduct("RoadFirst");
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
  SetFault("/" + lower_ + "/download/" + PackageName("1-0-0-5"), R"({"drip": {"chunk": 16384, "delay_ms": 40}})");
  SetupHold hold(lower_);
  InstallerEnd installer(product_);
  CheckHost host(product_);

  const HWND dialog = WaitForBox("Orvex Smart Installer: Downloading RoadFirst...");
  ASSERT_NE(dialog, nullptr);
  // The record's description replaces the notice's, then the download shows its progress.
  std::string progress;
  const ULONGLONG deadline = ::GetTickCount64() + kRoadTimeoutMs;
  while (progress.find("Downloaded]") == std::string::npos && ::GetTickCount64() < deadline) {
    progress = WindowText(::GetDlgItem(dialog, 203));
    ::Sleep(10);
  }
  EXPECT_NE(progress.find("K of "), std::string::npos) << progress;
  EXPECT_EQ(WindowText(::GetDlgItem(dialog, 208)), "The sample viewer, for tests");
  EXPECT_TRUE(FindTopLevelWindows(0, "#32770", "Confirm Download").empty()) << "a first installation asks nothing";

  ASSERT_TRUE(WaitUntil(SetupRan, lower_, kRoadTimeoutMs)) << "the package never ran";
  EXPECT_TRUE(HasNextUpdateTime(product_)) << "written before the package starts";
  EXPECT_FALSE(::IsWindowVisible(dialog)) << "the dialog is hidden while the package runs";
  ::Sleep(200);
  EXPECT_FALSE(installer.Ended()) << "the installer lasts until the package ends";
  EXPECT_FALSE(host.Done());
  EXPECT_EQ(ReadSetupRecord(lower_).path, PackagePath(PackageName("1-0-0-5")));

  hold.LetGo();
  ASSERT_TRUE(installer.Wait());
  ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
  EXPECT_EQ(host.Events(), kFirstInstallation);
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

TEST_F(Road, NoticeComesBeforeTheNetworkAndCancelDuringTheRecordFetchEndsQuietly) {
  UseProduct("RoadCancelRecord");
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
  SetFault(InfoPath(), R"({"hang_after": 0})");
  InstallerEnd installer(product_);
  CheckHost host(product_);
  const HWND dialog = WaitForBox("Orvex Smart Installer: Downloading RoadCancelRecord...");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(WindowText(::GetDlgItem(dialog, 208)), "Getting information about 'RoadCancelRecord'...");
  // Wait until the record's request reached the server, then cancel it.
  const ULONGLONG deadline = ::GetTickCount64() + kRoadTimeoutMs;
  while (LoggedRequests(InfoPath()).empty() && ::GetTickCount64() < deadline) ::Sleep(20);
  ASSERT_TRUE(PressButton(dialog, "Cancel"));
  ASSERT_TRUE(installer.Wait(20000)) << "cancel must end the job without waiting for the server";
  EXPECT_TRUE(FindTopLevelWindows(0, "#32770", "Error Accessing Internet").empty()) << "a cancel says nothing";
  ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
  EXPECT_FALSE(HasNextUpdateTime(product_));
  EXPECT_FALSE(SetupRan(lower_));
}

TEST_F(Road, CancelDuringTheDownloadLeavesThePartialFileAndRunsNothing) {
  UseProduct("RoadCancelDownload");
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
  SetFault("/" + lower_ + "/download/" + PackageName("1-0-0-5"), R"({"hang_after": 20000})");
  InstallerEnd installer(product_);
  CheckHost host(product_);
  const HWND dialog = WaitForBox("Orvex Smart Installer: Downloading RoadCancelDownload...");
  ASSERT_NE(dialog, nullptr);
  const ULONGLONG deadline = ::GetTickCount64() + kRoadTimeoutMs;
  while (WindowText(::GetDlgItem(dialog, 203)).empty() && ::GetTickCount64() < deadline) ::Sleep(20);
  ASSERT_TRUE(PressButton(dialog, "Cancel"));
  ASSERT_TRUE(installer.Wait(20000)) << "the live read must be aborted";
  ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
  EXPECT_FALSE(SetupRan(lower_));
  EXPECT_FALSE(HasNextUpdateTime(product_));
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
    // The last run's event must be closed first: an open handle would keep
    // the set event alive for the next run.
    end_.reset();
    end_ = std::make_unique<InstallerEnd>(product_);
    CheckHost host(product_);
    ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
    EXPECT_TRUE(host.Events().empty());
  }
  std::unique_ptr<InstallerEnd> end_;
};

TEST_F(Update, UpToDateShowsNothingAndRecordsTheNextCheck) {
  UseProduct("RoadUpToDate");
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5", 0);
  // Equal, and an offered 32768.0.0.0 that counts as older through the signed high half.
  Start(PackedVersion::Make(1, 0, 0, 5));
  ASSERT_TRUE(end_->Wait());
  EXPECT_TRUE(HasNextUpdateTime(product_));
  EXPECT_TRUE(LoggedRequests("/" + lower_ + "/download/").empty());

  ForgetProduct(product_);
  PublishRecord("0|32768.0.0.0|0.0.0.0|1000|x|y");
  Start(PackedVersion::Make(1, 0, 0, 0));
  ASSERT_TRUE(end_->Wait());
  EXPECT_TRUE(HasNextUpdateTime(product_));
  EXPECT_FALSE(SetupRan(lower_));
}

TEST_F(Update, ConfirmDownloadNoDeclinesYesInstalls) {
  UseProduct("RoadConfirm");
  PublishSample(PackedVersion::Make(2, 0, 1, 15), "2-0-1-15");
  Start(PackedVersion::Make(2, 0, 1, 0));
  HWND box = WaitForBox("Confirm Download");
  ASSERT_NE(box, nullptr);
  const std::vector<std::string> texts = ChildTexts(box);
  EXPECT_NE(std::find(texts.begin(), texts.end(),
                      "The currently installed version of 'RoadConfirm' is old. A newer version (Version 2-0-1-15) is "
                      "available. Do want to download and install it now?"),
            texts.end());
  ASSERT_TRUE(PressButton(box, "No"));
  ASSERT_TRUE(end_->Wait());
  EXPECT_FALSE(HasNextUpdateTime(product_)) << "a declined update is asked again next time";
  EXPECT_TRUE(LoggedRequests("/" + lower_ + "/download/").empty());

  Start(PackedVersion::Make(2, 0, 1, 0));
  box = WaitForBox("Confirm Download");
  ASSERT_NE(box, nullptr);
  ASSERT_TRUE(PressButton(box, "Yes"));
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

  auto update = [&](const char* answer) {
    Start(PackedVersion::Make(3, 0, 0, 0));
    HWND box = WaitForBox("Confirm Download");
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(PressButton(box, "Yes"));
    if (answer != nullptr) {
      box = WaitForBox("File Already Downloaded");
      ASSERT_NE(box, nullptr);
      ASSERT_TRUE(PressButton(box, answer));
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

TEST_F(Update, NoServerAnswerShowsNothing) {
  UseProduct("RoadSilent");
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
  for (const char* fault : {R"({"status": 404})", R"({"status": 500})", R"({"announce_full_send": 0})"}) {
    SetFault(InfoPath(), fault);
    Start(PackedVersion::Make(1, 0, 0, 0));
    ASSERT_TRUE(end_->Wait()) << fault;
    EXPECT_TRUE(FindTopLevelWindows(0, "#32770", "").empty()) << fault;
    EXPECT_FALSE(HasNextUpdateTime(product_)) << fault;
  }
}

// First installations that fail: the error box, no package run.
class FailedDownload : public RoadTest {
 protected:
  // Runs a first installation whose download fails; returns the error box's texts.
  std::vector<std::string> RunExpectingError(const std::string& info) {
    InstallerEnd installer(product_);
    CheckHost host(info);
    const HWND box = WaitForBox("Error Accessing Internet");
    std::vector<std::string> texts;
    EXPECT_NE(box, nullptr);
    if (box != nullptr) {
      texts = ChildTexts(box);
      PressButton(box, "OK");
    }
    EXPECT_TRUE(installer.Wait());
    EXPECT_TRUE(host.WaitDone(kRoadTimeoutMs));
    EXPECT_FALSE(SetupRan(lower_)) << "a failed download must not run";
    EXPECT_FALSE(HasNextUpdateTime(product_));
    return texts;
  }
  static bool Shows(const std::vector<std::string>& texts, const std::string& part) {
    for (const auto& text : texts) {
      if (text.find(part) != std::string::npos) return true;
    }
    return false;
  }
};

TEST_F(FailedDownload, RecordOrPackageRefusedByTheServer) {
  UseProduct("RoadRefused");
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
  SetFault(InfoPath(), R"({"status": 404})");
  EXPECT_TRUE(Shows(RunExpectingError(product_), "Unknown Error"));
  ForgetProduct(product_);

  ::DeleteFileA((ServerRoot() + "\\" + lower_ + "\\info.txt.fault").c_str());
  SetFault("/" + lower_ + "/download/" + PackageName("1-0-0-5"), R"({"status": 404})");
  RunExpectingError(product_);
  EXPECT_FALSE(FileExists(PackagePath(PackageName("1-0-0-5")))) << "no file before the status check";
}

TEST_F(FailedDownload, BadPackages) {
  UseProduct("RoadBad");
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
  const std::string packagePath = "/" + lower_ + "/download/" + PackageName("1-0-0-5");
  const std::string size = std::to_string(SamplePackageBytes().size());
  struct Case {
    const char* fault;
    const char* what;
  } cases[] = {
      {R"({"short_body": 20000})", "a body short of the package size"},
      {R"({"extra_bytes": 6000})", "more than the package size"},
      {R"({"announce_full_send": 12000})", "a connection closed mid-body"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetFault(packagePath, c.fault);
    RunExpectingError(product_);
    ForgetProduct(product_);
  }
  ::DeleteFileA((ServerRoot() + packagePath + ".fault").c_str());

  // A first chunk without the signature: written, then the download stops.
  std::string wrong = SamplePackageBytes();
  wrong[2] = '\x90';
  PublishPackage(PackageName("1-0-0-5"), wrong);
  RunExpectingError(product_);
  EXPECT_LE(ReadFileBytes(PackagePath(PackageName("1-0-0-5"))).size(), 5000u);
  ForgetProduct(product_);

  // A record whose package size is 0 always fails.
  PublishPackage(PackageName("1-0-0-5"), SamplePackageBytes());
  PublishRecord("7|1.0.0.5|0.0.0.0|0|x|y");
  RunExpectingError(product_);
}

TEST_F(FailedDownload, UnreachableHostReportsWinInetsMessage) {
  UseProduct("RoadNoServer");
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
  // Nothing listens on 127.0.0.2.
  const std::vector<std::string> texts = RunExpectingError(product_ + "||http://127.0.0.2/" + lower_ + "/download/");
  EXPECT_TRUE(Shows(texts, "Error code: 120")) << "a WinINet error code";
  EXPECT_TRUE(Shows(texts, "Message: ")) << "with WinINet's message";
}

TEST_F(Road, PortInTheDownloadUrlIsNotUsed) {
  UseProduct("RoadPort");
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
  InstallerEnd installer(product_);
  CheckHost host(product_ + "||http://127.0.0.1:8080/" + lower_ + "/download/");
  ASSERT_TRUE(installer.Wait());
  ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
  EXPECT_EQ(ReadSetupRecord(lower_).runs, 1u) << "every connection goes to port 80";
}

}  // namespace
}  // namespace orvex::test
