// Bounded texts, product names and packed versions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bounded_text.h"
#include "packed_version.h"
#include "product_name.h"

namespace orvex {
namespace {

TEST(BoundedText, TextThatDoesNotFitIsRefusedNotCut) {
  char buffer[6];
  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_TRUE(CopyText(buffer, "abcde"));
  EXPECT_STREQ(buffer, "abcde");
  EXPECT_FALSE(CopyText(buffer, "abcdef"));
  EXPECT_STREQ(buffer, "");
  EXPECT_TRUE(JoinText(buffer, sizeof(buffer), {"ab", "c", "de"}));
  EXPECT_STREQ(buffer, "abcde");
  EXPECT_FALSE(JoinText(buffer, sizeof(buffer), {"abc", "def"}));
  EXPECT_STREQ(buffer, "");
  EXPECT_TRUE(CopyText(buffer, sizeof(buffer), "abc|def", 3));
  EXPECT_STREQ(buffer, "abc");
}

// A product name becomes a file, key, object and URL name.
TEST(ProductName, OnlyPlainFileNamesUpToFortyNineCharacters) {
  const std::vector<std::string> good = {"Quillon", "Quillon Viewer ", "a.b", "...", "", "x-y_z(1)",
                                         std::string(49, 'q')};
  const std::vector<std::string> bad = {std::string(50, 'q'), ".", "..", "a\\b", "a/b", "c:", "a*", "a?", "a\"b", "<a",
                                        "a>", "a|b", "tab\there", "\x1f", "a#b", "a%20", "a&b", "a;b"};
  for (const std::string& name : good) EXPECT_TRUE(IsAcceptableProductName(name.c_str())) << '"' << name << '"';
  for (const std::string& name : bad) EXPECT_FALSE(IsAcceptableProductName(name.c_str())) << '"' << name << '"';
}

TEST(PackedVersion, HighHalvesCompareSignedLowHalvesUnsigned) {
  const PackedVersion minimum = PackedVersion::Make(10, 23, 0, 6);
  EXPECT_TRUE(PackedVersion::Make(10, 23, 0, 5) < minimum);
  EXPECT_FALSE(minimum < minimum);
  EXPECT_FALSE(PackedVersion::Make(10, 24, 0, 0) < minimum);
  EXPECT_TRUE(PackedVersion::Make(9, 99, 9, 9) < minimum);
  EXPECT_TRUE(PackedVersion::Make(0x8000, 0, 0, 0) < PackedVersion::Make(0, 0, 0, 1)) << "a negative high half";
  EXPECT_TRUE(PackedVersion::Make(1, 0, 1, 0) < PackedVersion::Make(1, 0, 0x8000, 0));
}

}  // namespace
}  // namespace orvex
