// The installer built with no publisher to require, and a 5 s stall limit.
#include <string>

#include "road_support.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

using UnpinnedInstaller = RoadTest;

TEST_F(UnpinnedInstaller, RunsAnUnsignedPackage) {
  UseProduct("Unpinned");
  const std::string package = ReadFileBytes(TestFilePath("sample_setup_unsigned.exe"));
  ASSERT_GT(package.size(), 4u);
  PublishRecord("7|1.0.0.5|0.0.0.0|" + std::to_string(package.size()) + "|first|Any package");
  PublishPackage(PackageName("1-0-0-5"), package);
  InstallerEnd installer(product_);
  CheckHost host(product_);
  ASSERT_TRUE(installer.Wait());
  ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
  EXPECT_EQ(ReadSetupRecord(lower_).runs, 1u) << "did not run";
  EXPECT_TRUE(HasNextUpdateTime(product_));
}

// A server that accepts and says nothing: the installer ends by itself, a first
// installation reports the time-out, an update check shows nothing.
TEST_F(UnpinnedInstaller, ASilentServerEndsThePhaseAsAFailure) {
  for (const bool update : {true, false}) {
    SCOPED_TRACE(update ? "update check" : "first installation");
    UseProduct("Silent");
    PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
    if (update) {
      ASSERT_TRUE(SetInstalledVersion(product_, PackedVersion::Make(1, 0, 0, 1)));
    }
    SetFault(InfoPath(), R"({"silent": true})");
    InstallerEnd installer(product_);
    CheckHost host(product_);
    if (!update) {
      EXPECT_TRUE(Answer("Error Accessing Internet", "OK", "Error code: 12002\nMessage: "));
    }
    ASSERT_TRUE(installer.Wait()) << "the installer still waits for the server";
    ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
    EXPECT_FALSE(SetupRan(lower_));
    EXPECT_FALSE(HasNextUpdateTime(product_));
  }
}

}  // namespace
}  // namespace orvex::test
