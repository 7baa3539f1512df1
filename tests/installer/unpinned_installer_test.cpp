// The installer built with no publisher to require runs any package of the record's size.
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
  PublishOffer(package);
  InstallerEnd installer(product_);
  CheckHost host(product_);
  ASSERT_TRUE(installer.Wait());
  ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
  EXPECT_EQ(SetupRuns(lower_), 1u) << "did not run";
  EXPECT_TRUE(HasNextUpdateTime(product_));
}

}  // namespace
}  // namespace orvex::test
