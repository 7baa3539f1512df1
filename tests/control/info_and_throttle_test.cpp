// The pure parts of the check: splitting Info and the update throttle.
#include <gtest/gtest.h>

#include <string>

#include "info_text.h"
#include "update_throttle.h"

namespace orvex {
namespace {

std::string Text(const TextSpan& span) { return std::string(span.text, span.length); }

struct Split {
  std::string name, clsid, url;
};

Split SplitOf(const char* info) {
  const InfoFields fields = SplitInfo(info);
  return {Text(fields.productName), Text(fields.viewerClsid), Text(fields.downloadBaseUrl)};
}

TEST(InfoText, FieldsEndAtBarsAndExtraFieldsAreIgnored) {
  const struct {
    const char* info;
    Split expected;
  } cases[] = {
      {"Quillon", {"Quillon", "", ""}},
      {"Quillon|", {"Quillon", "", ""}},
      {"Quillon|{C}", {"Quillon", "{C}", ""}},
      {"Quillon|{C}|", {"Quillon", "{C}", ""}},
      {"Quillon||http://h/d/", {"Quillon", "", "http://h/d/"}},
      {"Quillon|{C}|http://h/d/", {"Quillon", "{C}", "http://h/d/"}},
      {"Quillon|{C}|http://h/d/|extra|more", {"Quillon", "{C}", "http://h/d/"}},
      {"|{C}|u", {"", "{C}", "u"}},
      {" Quillon |x", {" Quillon ", "x", ""}},
      {"", {"", "", ""}},
  };
  for (const auto& c : cases) {
    const Split got = SplitOf(c.info);
    EXPECT_EQ(got.name, c.expected.name) << c.info;
    EXPECT_EQ(got.clsid, c.expected.clsid) << c.info;
    EXPECT_EQ(got.url, c.expected.url) << c.info;
  }
  const Split null = SplitOf(nullptr);
  EXPECT_EQ(null.name, "");
  EXPECT_EQ(null.clsid, "");
}

FILETIME Time(DWORD high, DWORD low) { return FILETIME{low, high}; }

TEST(UpdateThrottle, DueWhenNowIsNotBeforeTheNextCheckOrShiftIsHeld) {
  const FILETIME now = Time(0x01DB0000, 0x80000000);
  EXPECT_TRUE(IsUpdateCheckDue(now, now, false)) << "equal is due";
  EXPECT_TRUE(IsUpdateCheckDue(now, Time(0x01DB0000, 0x7FFFFFFF), false));
  EXPECT_FALSE(IsUpdateCheckDue(now, Time(0x01DB0000, 0x80000001), false)) << "low halves compare unsigned";
  EXPECT_FALSE(IsUpdateCheckDue(now, Time(0x01DB0001, 0), false));
  EXPECT_TRUE(IsUpdateCheckDue(now, Time(0x01DB0001, 0), true)) << "Shift overrides";
  EXPECT_TRUE(IsUpdateCheckDue(now, Time(0, 0), false)) << "a missing value is due";
  EXPECT_TRUE(IsUpdateCheckDue(now, Time(0x80000000, 0), false)) << "high halves compare signed";
}

}  // namespace
}  // namespace orvex
