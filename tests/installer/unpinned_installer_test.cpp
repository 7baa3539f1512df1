// An installer built with no publisher to require verifies no package: it
// runs what it downloaded, signed or not, as it did before packages were
// verified.
#include <string>

#include "road_support.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

using UnpinnedInstaller = RoadTest;

TEST_F(UnpinnedInstaller, RunsUnsignedAndSignedPackages) {
  UseProduct("Unpinned");
  for (const char* file : {"sample_setup_unsigned.exe", "sample_setup_other.exe", "sample_setup.exe"}) {
    ForgetProduct(product_);
    ::DeleteFileA(PackagePath(PackageName("1-0-0-5")).c_str());  // or it would be offered as kept
    const std::string package = ReadFileBytes(TestFilePath(file));
    ASSERT_GT(package.size(), 4u) << file;
    char record[256];
    std::snprintf(record, sizeof(record), "7|1.0.0.5|0.0.0.0|%zu|first|Any package", package.size());
    PublishRecord(record);
    PublishPackage(PackageName("1-0-0-5"), package);
    const DWORD runsBefore = ReadSetupRecord(lower_).runs;
    InstallerEnd installer(product_);
    CheckHost host(product_);
    ASSERT_TRUE(installer.Wait()) << file;
    ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs)) << file;
    EXPECT_EQ(ReadSetupRecord(lower_).runs, runsBefore + 1) << file << " did not run";
    EXPECT_TRUE(HasNextUpdateTime(product_)) << file;
  }
}

}  // namespace
}  // namespace orvex::test
