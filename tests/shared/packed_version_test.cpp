#include <gtest/gtest.h>

#include <cstring>

#include "packed_version.h"

namespace orvex {
namespace {

TEST(PackedVersion, ComponentsLandInTheirHalves) {
  const PackedVersion v = PackedVersion::Make(10, 23, 0, 6);
  // Stored as the registry value holds it: low half first, little-endian.
  unsigned char raw[8];
  std::memcpy(raw, &v, sizeof(raw));
  const unsigned char expected[8] = {6, 0, 0, 0, 0x17, 0, 0x0A, 0};
  EXPECT_EQ(0, std::memcmp(raw, expected, sizeof(raw)));
}

TEST(PackedVersion, HighHalvesCompareSignedLowHalvesUnsigned) {
  const PackedVersion minimum = PackedVersion::Make(10, 23, 0, 6);
  EXPECT_TRUE(PackedVersion::Make(10, 23, 0, 5) < minimum);
  EXPECT_FALSE(PackedVersion::Make(10, 23, 0, 6) < minimum);
  EXPECT_FALSE(PackedVersion::Make(10, 24, 0, 0) < minimum);
  EXPECT_TRUE(PackedVersion::Make(9, 99, 9, 9) < minimum);
  // A first component of 0x8000 or more makes the high half negative: older than anything.
  EXPECT_TRUE(PackedVersion::Make(0x8000, 0, 0, 0) < PackedVersion::Make(0, 0, 0, 1));
  EXPECT_TRUE(PackedVersion::Make(0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF) < PackedVersion{});
  // Low halves are unsigned: c = 0x8000 is newer than c = 1.
  EXPECT_TRUE(PackedVersion::Make(1, 0, 1, 0) < PackedVersion::Make(1, 0, 0x8000, 0));
  EXPECT_EQ(ComparePackedVersions(minimum, minimum), 0);
}

TEST(PackedVersion, ZeroMeansNothingInstalled) {
  EXPECT_TRUE(PackedVersion{}.IsZero());
  EXPECT_FALSE(PackedVersion::Make(0, 0, 0, 1).IsZero());
  EXPECT_FALSE(PackedVersion::FromHighLow(1, 0).IsZero());
}

}  // namespace
}  // namespace orvex
