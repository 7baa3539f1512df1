#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bounded_text.h"
#include "object_names.h"
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

TEST(BoundedText, ObjectNamesKeepTheNameUnchanged) {
  char name[kObjectNameSize];
  ASSERT_TRUE(BuildObjectName(kInstallingPrefix, "Quillon ", name, sizeof(name)));
  EXPECT_STREQ(name, "installing_Quillon ");
  const std::string longest(49, 'N');
  EXPECT_TRUE(BuildObjectName(kInstallingPrefix, longest.c_str(), name, sizeof(name)));
  const std::string tooLong(60, 'N');
  EXPECT_FALSE(BuildObjectName(kInstallingPrefix, tooLong.c_str(), name, sizeof(name)));
}

TEST(ProductName, PlainFileNamesUpToFortyNineCharactersAreAccepted) {
  for (const char* good : {"Quillon", "quillon", "Quillon Viewer ", "a.b", "...", "", "x-y_z(1)"}) {
    EXPECT_TRUE(IsAcceptableProductName(good)) << '"' << good << '"';
  }
  EXPECT_TRUE(IsAcceptableProductName(std::string(49, 'q').c_str()));
  EXPECT_FALSE(IsAcceptableProductName(std::string(50, 'q').c_str()));
}

TEST(ProductName, NamesThatCannotBeAPlainFileNameAreRefused) {
  for (const char* bad : {".", "..", "a\\b", "a/b", "c:", "a*", "a?", "a\"b", "<a", "a>", "a|b", "tab\there",
                          "line\nfeed", "\x1f", "a#b", "a%20", "a&b", "a;b"}) {
    EXPECT_FALSE(IsAcceptableProductName(bad)) << '"' << bad << '"';
  }
}

}  // namespace
}  // namespace orvex
