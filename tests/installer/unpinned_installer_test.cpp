// An installer built with no publisher to require verifies no package: it
// runs what it downloaded, signed or not, as it did before packages were
// verified. The same test build gives a network phase up after 5 s without
// progress, so that a silent server is tried in seconds.
#include <string>

#include "road_support.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

using UnpinnedInstaller = RoadTest;

TEST_F(UnpinnedInstaller, RunsUnsignedAndSignedPackages) {
  UseProduct("Unpinned");
  for (const char* file : {"sample_setup_unsigned.exe", "sample_setup_other.exe", "sample_setup.exe"}) {
    SCOPED_TRACE(file);
    ForgetProduct(product_);
    ::DeleteFileA(PackagePath(PackageName("1-0-0-5")).c_str());  // or it would be offered as kept
    const std::string package = ReadFileBytes(TestFilePath(file));
    ASSERT_GT(package.size(), 4u);
    PublishRecord("7|1.0.0.5|0.0.0.0|" + std::to_string(package.size()) + "|first|Any package");
    PublishPackage(PackageName("1-0-0-5"), package);
    const DWORD runsBefore = ReadSetupRecord(lower_).runs;
    InstallerEnd installer(product_);
    CheckHost host(product_);
    ASSERT_TRUE(installer.Wait());
    ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
    EXPECT_EQ(ReadSetupRecord(lower_).runs, runsBefore + 1) << "did not run";
    EXPECT_TRUE(HasNextUpdateTime(product_));
  }
}

// A server that accepts and then says nothing about the record: the installer
// ends by itself; a first installation reports the time-out, an update check
// shows nothing (no one would answer a box); nothing runs and the next check
// stays due. (Silent in the package, with the shipped limit: the reliability
// suite's ServerFaults.)
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
