// No page and no one on the network path gets a program of their choice run:
// packages come only from the information server's host (or a mirror), and
// run only when signed by the publisher the build pins.
#include <string>
#include <vector>

#include "road_support.h"
#include "test_registry.h"
#include "ui_robot.h"

namespace orvex::test {
namespace {

class PackageTrust : public RoadTest {
 protected:
  // A record offering the package at 1.0.0.5, and the package.
  void PublishPackageBytes(const std::string& package) {
    char record[256];
    std::snprintf(record, sizeof(record), "7|1.0.0.5|0.0.0.0|%zu|first|A package to verify", package.size());
    PublishRecord(record);
    PublishPackage(PackageName("1-0-0-5"), package);
  }

  // Waits for the installer's box about a package it could not verify and
  // answers it; false when none came.
  bool AnswerUntrustedBox() {
    const HWND box = WaitForBox(product_.c_str());
    if (box == nullptr) return false;
    const std::string expected = "The package of '" + product_ + "' could not be verified and was not installed.";
    bool found = false;
    for (const std::string& text : ChildTexts(box)) found = found || text == expected;
    EXPECT_TRUE(found) << "the box does not say what happened";
    EXPECT_TRUE(PressButton(box, "OK"));
    return true;
  }

  // A first installation of a package that must be refused.
  void ExpectRefusedFirstInstallation(const std::string& package, const char* what) {
    PublishPackageBytes(package);
    InstallerEnd installer(product_);
    CheckHost host(product_);
    EXPECT_TRUE(AnswerUntrustedBox()) << what;
    EXPECT_TRUE(installer.Wait()) << what;
    EXPECT_TRUE(host.WaitDone(kRoadTimeoutMs)) << what;
    EXPECT_FALSE(SetupRan(lower_)) << what << " ran";
    EXPECT_FALSE(HasNextUpdateTime(product_)) << what << ": the next check must stay due";
    EXPECT_EQ(::GetFileAttributesA(PackagePath(PackageName("1-0-0-5")).c_str()), INVALID_FILE_ATTRIBUTES)
        << what << " was left in the downloads folder";
  }
};

TEST_F(PackageTrust, AForeignDownloadHostIsNeverAsked) {
  UseProduct("TrustForeign");
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
  InstallerEnd installer(product_);
  // "localhost" reaches the same loopback server, under a name that is
  // neither the information server's nor a mirror's.
  CheckHost host(product_ + "||http://localhost/" + lower_ + "/download/");
  ASSERT_TRUE(installer.Wait());
  ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
  EXPECT_EQ(ReadSetupRecord(lower_).runs, 1u);
  const std::vector<std::string> requests = LoggedRequests("/" + lower_ + "/download/");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0].find("\"host\": \"127.0.0.1\""), std::string::npos) << requests[0];
  for (const std::string& line : LoggedRequests("/" + lower_ + "/")) {
    EXPECT_EQ(line.find("localhost"), std::string::npos) << "asked the foreign host: " << line;
  }
}

TEST_F(PackageTrust, PackagesNotSignedByThePublisherAreRefused) {
  UseProduct("TrustRefused");
  ExpectRefusedFirstInstallation(ReadFileBytes(TestFilePath("sample_setup_unsigned.exe")), "an unsigned package");
  ExpectRefusedFirstInstallation(ReadFileBytes(TestFilePath("sample_setup_other.exe")),
                                 "a package signed by another publisher");
  std::string tampered = SamplePackageBytes();
  ASSERT_GT(tampered.size(), 0x2000u);
  tampered[0x1800] = static_cast<char>(tampered[0x1800] ^ 0x20);  // in the code, covered by the signature
  ExpectRefusedFirstInstallation(tampered, "a package changed after signing");

  // The signed package itself installs, and may replace its own file once it
  // has started.
  PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
  const std::string setupKey = "Software\\OrvexTests\\SampleSetup\\" + lower_;
  const DWORD replaceSelf = 1;
  ASSERT_TRUE(WriteRegistryValue(HKEY_CURRENT_USER, setupKey, "ReplaceSelf", REG_DWORD, &replaceSelf, 4));
  InstallerEnd installer(product_);
  CheckHost host(product_);
  ASSERT_TRUE(installer.Wait());
  ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
  EXPECT_EQ(ReadSetupRecord(lower_).runs, 1u);
  EXPECT_TRUE(HasNextUpdateTime(product_));
  std::vector<unsigned char> replaced;
  EXPECT_TRUE(ReadRegistryValue(HKEY_CURRENT_USER, setupKey, "SelfReplaced", &replaced));
  EXPECT_TRUE(replaced.size() == 4 && replaced[0] == 1) << "the setup could not replace its own file";
  const std::string package = PackagePath(PackageName("1-0-0-5"));
  EXPECT_EQ(ReadFileBytes(package), "replaced");
  ::DeleteFileA((package + ".old").c_str());
}

// A package kept from an earlier download is judged as a downloaded one, on
// the handle it then runs from: replaced by an unsigned program, signed but
// without the four bytes, or grown while the user was asked, it is refused.
TEST_F(PackageTrust, AKeptPackageIsJudgedLikeADownloadedOne) {
  UseProduct("TrustKept");
  const struct {
    const char* what;
    std::string kept;
    bool growsWhileAsked;
  } cases[] = {
      {"an unsigned package", ReadFileBytes(TestFilePath("sample_setup_unsigned.exe")), false},
      {"a signed package without the four bytes", ReadFileBytes(TestFilePath("sample_setup_unstamped.exe")), false},
      {"a signed package that grew while the user was asked", SamplePackageBytes(), true},
  };
  const std::string path = PackagePath(PackageName("1-0-0-5"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_GT(c.kept.size(), 4u);
    ForgetProduct(product_);
    PublishPackageBytes(c.kept);
    ::CreateDirectoryA(DownloadsFolder().c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(path, c.kept));
    ASSERT_TRUE(SetInstalledVersion(product_, PackedVersion::Make(1, 0, 0, 0)));
    InstallerEnd installer(product_);
    {
      CheckHost host(product_);
      ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
    }
    HWND box = WaitForBox("Confirm Download");
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(PressButton(box, "Yes"));
    box = WaitForBox("File Already Downloaded");
    ASSERT_NE(box, nullptr);
    if (c.growsWhileAsked) {
      ASSERT_TRUE(WriteFileBytes(path, c.kept + std::string(16, '\0')));
    }
    ASSERT_TRUE(PressButton(box, "Yes"));
    EXPECT_TRUE(AnswerUntrustedBox());
    ASSERT_TRUE(installer.Wait());
    EXPECT_FALSE(SetupRan(lower_));
    EXPECT_FALSE(HasNextUpdateTime(product_));
    EXPECT_EQ(::GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << "the refused package stayed";
    EXPECT_TRUE(LoggedRequests("/" + lower_ + "/download/").empty());
  }
}

}  // namespace
}  // namespace orvex::test
