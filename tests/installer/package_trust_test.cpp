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

using PackageTrust = RoadTest;

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
  std::string tampered = SamplePackageBytes();
  ASSERT_GT(tampered.size(), 0x2000u);
  tampered[0x1800] = static_cast<char>(tampered[0x1800] ^ 0x20);  // in the code, covered by the signature
  const struct {
    const char* what;
    std::string package;
  } cases[] = {
      {"an unsigned package", ReadFileBytes(TestFilePath("sample_setup_unsigned.exe"))},
      {"a package signed by another publisher", ReadFileBytes(TestFilePath("sample_setup_other.exe"))},
      {"a package changed after signing", tampered},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PublishRecord("7|1.0.0.5|0.0.0.0|" + std::to_string(c.package.size()) + "|first|A package to verify");
    PublishPackage(PackageName("1-0-0-5"), c.package);
    InstallerEnd installer(product_);
    CheckHost host(product_);
    EXPECT_TRUE(Answer("TrustRefused", "OK",
                       "The package of 'TrustRefused' could not be verified and was not installed."));
    ASSERT_TRUE(installer.Wait());
    ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
    EXPECT_FALSE(SetupRan(lower_));
    EXPECT_FALSE(HasNextUpdateTime(product_));
    EXPECT_FALSE(FileExists(PackagePath(PackageName("1-0-0-5")))) << "the refused package stayed";
  }

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

}  // namespace
}  // namespace orvex::test
