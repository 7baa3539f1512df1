// Bounded texts and product names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bounded_text.h"
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

}  // namespace
}  // namespace orvex
