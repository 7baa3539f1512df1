// Installed versions from the maker's key, and the update throttle.
#include "check_test_support.h"

namespace orvex::test {
namespace {

using Throttle = CheckTest;

TEST_F(Throttle, VersionValueOfEightAndFourBytes) {
  const std::string eight = Product("TH_Eight");
  const std::string four = Product("TH_Four");
  ASSERT_TRUE(SetInstalledVersion(eight, PackedVersion::Make(1, 2, 3, 4)));
  ASSERT_TRUE(SetInstalledVersion(four, PackedVersion::Make(1, 2, 3, 4), 4));
  // An update check (no NextUpdateTime: due): the check returns right after
  // "sync_" and leaves the host window alone.
  EXPECT_TRUE(RunCheck(eight).empty());
  EXPECT_TRUE(RunCheck(four).empty());
  EXPECT_EQ(Record(eight).block.installedVersion, PackedVersion::Make(1, 2, 3, 4));
  EXPECT_EQ(Record(four).block.installedVersion, PackedVersion::Make(0, 0, 3, 4))
      << "a 4-byte value fills only the low half";
}

TEST_F(Throttle, PastNextUpdateTimeIsDueAndDeleted) {
  const std::string name = Product("TH_Past");
  ASSERT_TRUE(SetInstalledVersion(name, PackedVersion::Make(2, 0, 0, 0)));
  ASSERT_TRUE(SetNextUpdateTime(name, NowAsFileTime() - kFileTimeTicksPerDay));
  RunCheck(name);
  EXPECT_EQ(Record(name).runs, 1u);
  EXPECT_FALSE(HasNextUpdateTime(name));
}

TEST_F(Throttle, FutureNextUpdateTimeStartsNothingUnlessShiftIsHeld) {
  const std::string name = Product("TH_Future");
  ASSERT_TRUE(SetInstalledVersion(name, PackedVersion::Make(2, 0, 0, 0)));
  ASSERT_TRUE(SetNextUpdateTime(name, NowAsFileTime() + kFileTimeTicksPerDay));
  EXPECT_TRUE(RunCheck(name).empty());
  EXPECT_FALSE(DoubleRan(name));
  EXPECT_TRUE(HasNextUpdateTime(name));

  CheckHost::Options shift;
  shift.holdShift = true;
  RunCheck(name, shift);
  EXPECT_EQ(Record(name).runs, 1u);
  EXPECT_FALSE(HasNextUpdateTime(name));
}

TEST_F(Throttle, NothingInstalledMeansNoThrottle) {
  const std::string name = Product("TH_NotInstalled");
  ASSERT_TRUE(SetNextUpdateTime(name, NowAsFileTime() + kFileTimeTicksPerDay));
  EXPECT_EQ(RunCheck(name), FirstInstallationEvents());
  EXPECT_EQ(Record(name).runs, 1u);
  EXPECT_TRUE(HasNextUpdateTime(name)) << "only a due check deletes the value";
}

}  // namespace
}  // namespace orvex::test
