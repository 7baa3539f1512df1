// The installer's road end to end, from the real check to the package run.
#include <string>

#include "object_names.h"
#include "reliability_support.h"
#include "road_support.h"
#include "test_registry.h"
#include "ui_robot.h"
#include "win_handles.h"

namespace orvex::test {
namespace {

std::string Item(HWND dialog, int id) { return WindowText(::GetDlgItem(dialog, id)); }

using Road = RoadTest;

// The package runs from the downloads folder, the dialog hidden, the installer
// waiting until it ends; it may replace its own file once it has started, as
// self-updating setups do.
TEST_F(Road, FirstInstallationDownloadsWithProgressAndRunsThePackage) {
  UseProduct("RoadFirst");
  PublishSample();
  SetFault(PackageServerPath("1-0-0-5"), R"({"drip": {"chunk": 16384, "delay_ms": 40}})");
  ASSERT_TRUE(WriteDword("Software\\OrvexTests\\SampleSetup\\" + lower_, "ReplaceSelf", 1));
  // The sample setup holds until this event is set (at the latest when the test ends).
  const UniqueHandle go(::CreateEventA(nullptr, TRUE, FALSE, ("orvextest_setup_go_" + lower_).c_str()));
  InstallerEnd installer(product_);
  // The download base names port 8080: every connection goes to port 80 all the same.
  CheckHost host(product_ + "||http://127.0.0.1:8080/" + lower_ + "/download/");
  const AtScopeEnd letGo([&] { ::SetEvent(go.Get()); });

  const HWND dialog = WaitForBox("Orvex Smart Installer: Downloading RoadFirst...");
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(WaitUntil([&] { return Item(dialog, 203).find("Downloaded]") != std::string::npos; }, kRoadTimeoutMs));

  ASSERT_TRUE(WaitUntil([&] { return SetupRuns(lower_) > 0; }, kRoadTimeoutMs)) << "the package never ran";
  EXPECT_FALSE(::IsWindowVisible(dialog));
  EXPECT_FALSE(installer.Wait(0));
  ::SetEvent(go.Get());
  ASSERT_TRUE(installer.Wait());
  ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
  EXPECT_EQ(SetupRuns(lower_), 1u);
  EXPECT_TRUE(HasNextUpdateTime(product_));
  const std::string package = PackagePath(PackageName("1-0-0-5"));
  EXPECT_EQ(ReadFileBytes(package), "replaced") << "the setup could not replace its own file";
  EXPECT_TRUE(ReadFileBytes(package + ".old") == SamplePackageBytes()) << "the package as served";
  ::DeleteFileA((package + ".old").c_str());
}

// An update check: the check returns at once, showing nothing on its page, and
// the installer works alone. It asks before it downloads (a declined update is
// asked again next time); a kept package of the record's size is offered, then
// judged like a downloaded one. Up to date or unanswered, it shows nothing.
using Update = RoadTest;

TEST_F(Update, AsksOffersAKeptPackageOrShowsNothing) {
  UseProduct("RoadUpdate");
  const std::string sample = SamplePackageBytes();
  const std::string unstamped = ReadFileBytes(TestFilePath("sample_setup_unstamped.exe"));
  const PackedVersion latest = PackedVersion::Make(1, 0, 0, 5), older = PackedVersion::Make(1, 0, 0, 0);
  const struct {
    const char* what;
    PackedVersion installed;
    const char* infoFault;
    std::string kept;            // in the downloads folder before the check; empty: none
    const char *confirm, *keep;  // the answers to "Confirm Download" and "File Already Downloaded"; null: not asked
    bool grows, downloads, runs, nextCheck;
  } cases[] = {
      {"up to date", latest, "{}", "", nullptr, nullptr, false, false, false, true},
      {"unanswered", older, R"({"status": 404})", "", nullptr, nullptr, false, false, false, false},
      {"declined", older, "{}", "", "No", nullptr, false, false, false, false},
      {"kept: run in place", older, "{}", sample, "Yes", "Yes", false, false, true, true},
      {"not kept: downloaded again", older, "{}", sample, "Yes", "No", false, true, true, true},
      {"another size: downloaded again unasked", older, "{}", "MZ\x01\x01 too short", "Yes", nullptr, false, true, true,
       true},
      {"kept, signed, no four bytes", older, "{}", unstamped, "Yes", "Yes", false, false, false, false},
      {"kept, signed, grown while the user was asked", older, "{}", sample, "Yes", "Yes", true, false, false, false},
  };
  const std::string path = PackagePath(PackageName("1-0-0-5"));
  const std::string folder = DownloadsFolder();
  ::CreateDirectoryA(folder.substr(0, folder.rfind('\\')).c_str(), nullptr);
  ::CreateDirectoryA(folder.c_str(), nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    UseProduct("RoadUpdate");
    PublishPackage(PackageName("1-0-0-5"), sample);
    const std::string offered = c.keep != nullptr ? c.kept : sample;
    PublishRecord("7|1.0.0.5|0.0.0.0|" + std::to_string(offered.size()) + "|first|x");
    SetFault(InfoPath(), c.infoFault);
    if (!c.kept.empty()) {
      ASSERT_TRUE(WriteFileBytes(path, c.kept));
    }
    ASSERT_TRUE(SetInstalledVersion(product_, c.installed));
    const InstallerEnd installer(product_);
    {
      CheckHost host(product_);
      ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
      EXPECT_TRUE(host.Events().empty());
    }
    if (c.confirm != nullptr) {
      ASSERT_TRUE(Answer("Confirm Download", c.confirm, "(Version 1-0-0-5)"));
    }
    if (c.keep != nullptr) {
      ASSERT_NE(WaitForBox("File Already Downloaded"), nullptr);
      if (c.grows) {
        ASSERT_TRUE(WriteFileBytes(path, c.kept + std::string(16, '\0')));
      }
      ASSERT_TRUE(Answer("File Already Downloaded", c.keep, "Latest version of RoadUpdate is already downloaded"));
    }
    if (c.keep != nullptr && !c.runs) {
      EXPECT_TRUE(Answer("RoadUpdate", "OK", "could not be verified"));
    }
    ASSERT_TRUE(installer.Wait());
    const UniqueHandle mapping(::OpenFileMappingA(FILE_MAP_READ, FALSE, (kInfoPrefix + product_).c_str()));
    EXPECT_FALSE(mapping) << "the mapping must be closed before installing_ is set";
    EXPECT_TRUE(FindTopLevelWindows(0, "#32770", "").empty());
    EXPECT_EQ(SetupRuns(lower_), c.runs ? 1u : 0u);
    EXPECT_EQ(HasNextUpdateTime(product_), c.nextCheck);
    EXPECT_EQ(LoggedRequests("/" + lower_ + "/download/").size(), c.downloads ? 1u : 0u);
    EXPECT_TRUE(ReadFileBytes(path) == (c.runs ? sample : "")) << "a refused package is deleted";
  }
}

// First installations that install nothing: a failed download, a package the
// installer refuses (packages come only signed by the publisher the build
// pins), or one the user cancels. A box owned by the dialog says why (a cancel
// says nothing); nothing runs, the next check stays due, the dialog is gone
// before the release.
using FailedDownload = RoadTest;

TEST_F(FailedDownload, EachFailureIsReportedAndRunsNothing) {
  UseProduct("RoadFailed");
  const std::string sample = SamplePackageBytes();
  std::string notPackage = sample;
  notPackage[2] = '\x90';
  std::string tampered = sample;
  ASSERT_GT(tampered.size(), 0x2000u);
  tampered[0x1800] = static_cast<char>(tampered[0x1800] ^ 0x20);  // in the code, covered by the signature
  const char* const kNetwork = "Error Accessing Internet";
  const char* const kRefused = "The package of 'RoadFailed' could not be verified and was not installed.";
  const std::string unsignedPackage = ReadFileBytes(TestFilePath("sample_setup_unsigned.exe"));
  const std::string otherPublisher = ReadFileBytes(TestFilePath("sample_setup_other.exe"));
  const struct {
    const char* what;
    std::string package;  // served, the record naming its size
    std::string infoFault;
    const char* packageFault;
    std::string downloadBase;   // in Info; empty: the default
    const char *title, *shown;  // the box's; no title: the user cancels once 19K came
    int fileLeft;               // -1: no package file; 0: not looked at; N: 1 to N bytes stay
  } cases[] = {
      {"record refused", sample, R"({"status": 404})", "{}", "", kNetwork, "Unknown Error", -1},
      {"package refused", sample, "{}", R"({"status": 404})", "", kNetwork, "", -1},
      // Nothing listens on the mirror 127.0.0.2.
      {"no server", sample, "{}", "{}", "http://127.0.0.2/" + lower_ + "/download/", kNetwork, "Error code: 120", -1},
      {"no signature", notPackage, "{}", "{}", "", kNetwork, "", 5000},
      {"size 0", "", "{}", "{}", "", kNetwork, "", 0},
      {"shorter than the signature", "MZ\x01", "{}", "{}", "", kNetwork, "", 3},
      {"unsigned", unsignedPackage, "{}", "{}", "", "RoadFailed", kRefused, -1},
      {"signed by another publisher", otherPublisher, "{}", "{}", "", "RoadFailed", kRefused, -1},
      {"changed after signing", tampered, "{}", "{}", "", "RoadFailed", kRefused, -1},
      {"cancelled while the server hangs", sample, "{}", R"({"hang_after": 20000})", "", nullptr, nullptr, 0},
  };
  const std::string dialogTitle = "Orvex Smart Installer: Downloading RoadFailed...";
  const std::string packagePath = PackagePath(PackageName("1-0-0-5"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    UseProduct("RoadFailed");
    PublishOffer(c.package);
    SetFault(InfoPath(), c.infoFault);
    SetFault(PackageServerPath("1-0-0-5"), c.packageFault);
    InstallerEnd installer(product_);
    CheckHost host(product_ + (c.downloadBase.empty() ? "" : "||" + c.downloadBase));
    const HWND dialog = WaitForBox(dialogTitle.c_str());
    ASSERT_NE(dialog, nullptr);
    if (c.title == nullptr) {
      ASSERT_TRUE(WaitUntil([&] { return Item(dialog, 203).rfind("19K of ", 0) == 0; }, kRoadTimeoutMs));
      ASSERT_TRUE(PressButton(dialog, "Cancel"));
      EXPECT_TRUE(installer.Wait(20000)) << "the live transfer must be aborted";
    } else {
      const HWND box = WaitForBox(c.title);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(::GetWindow(box, GW_OWNER), dialog);
      // The notice until the record came, then the record's description.
      EXPECT_EQ(Item(dialog, 208), c.infoFault == "{}" ? "x" : "Getting information about 'RoadFailed'...");
      EXPECT_FALSE(host.Done());
      EXPECT_TRUE(Answer(c.title, "OK", c.shown));
    }
    EXPECT_TRUE(installer.Wait());
    EXPECT_TRUE(FindTopLevelWindows(0, "#32770", "").empty()) << "a box or the dialog outlived the release";
    EXPECT_TRUE(host.WaitDone(kRoadTimeoutMs));
    EXPECT_EQ(SetupRuns(lower_), 0u) << "a failed download must not run";
    EXPECT_FALSE(HasNextUpdateTime(product_));
    const std::string left = ReadFileBytes(packagePath);
    if (c.fileLeft < 0) {
      EXPECT_EQ(::GetFileAttributesA(packagePath.c_str()), INVALID_FILE_ATTRIBUTES);
    } else if (c.fileLeft > 0) {
      EXPECT_TRUE(!left.empty() && left.size() <= static_cast<size_t>(c.fileLeft)) << left.size();
    }
  }
}

}  // namespace
}  // namespace orvex::test
