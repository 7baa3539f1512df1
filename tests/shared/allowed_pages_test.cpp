// Which pages may drive the control: the build's list, judged on the page
// URL's scheme and host alone, parsed strictly.
#include <gtest/gtest.h>

#include "allowed_pages.h"

namespace orvex {
namespace {

constexpr char kList[] = "https://*.brindlewood.com;http://www.example.org,file:";

struct PageCase {
  const wchar_t* url;
  bool allowed;
};

TEST(AllowedPages, OnlyListedSchemesAndHosts) {
  const PageCase cases[] = {
      {L"https://brindlewood.com/viewer.html", true},
      {L"https://www.brindlewood.com/viewer.html", true},
      {L"https://a.b.Brindlewood.COM:8443/x?y#z", true},
      {L"https://www.brindlewood.com", true},
      {L"http://www.example.org/", true},
      {L"http://WWW.EXAMPLE.ORG:80/", true},
      {L"file:///C:/pages/viewer.html", true},
      {L"file://localhost/C:/pages/viewer.html", true},
      {L"file:C:/pages/viewer.html", true},
      // Another host, a look-alike, another scheme, no host.
      {L"https://evil.example/", false},
      {L"https://evilbrindlewood.com/", false},
      {L"https://brindlewood.com.evil.example/", false},
      {L"https://.brindlewood.com/", false},
      {L"http://www.brindlewood.com/", false},
      {L"HTTPS://www.brindlewood.com/", false},
      {L"ftp://www.example.org/", false},
      {L"http://example.org/", false},
      {L"http://sub.www.example.org/", false},
      {L"https:///viewer.html", false},
      {L"https:www.brindlewood.com", false},
      {L"file://evil.example/share/viewer.html", false},
      {L"about:blank", false},
      {L"", false},
      {L"www.brindlewood.com/viewer.html", false},
      // User information, and hosts no host can be.
      {L"https://www.brindlewood.com@evil.example/", false},
      {L"https://user:pw@www.brindlewood.com/", false},
      {L"https://evil.example@www.brindlewood.com/", false},
      {L"https://evil.example\\@www.brindlewood.com/", false},
      {L"https://www.brindlewood.com:8x/", false},
      {L"https://www.brindlewood.com%2eevil.example/", false},
      {L"https://www.brindlewood\u3002com/", false},
      {L"https://[::1]/", false},
      {L"https://www brindlewood.com/", false},
      {L"file://user@localhost/C:/viewer.html", false},
  };
  for (const PageCase& one : cases) {
    EXPECT_EQ(IsAllowedPage(one.url, kList), one.allowed) << testing::PrintToString(std::wstring(one.url));
  }
  EXPECT_FALSE(IsAllowedPage(L"file:///C:/pages/viewer.html", "https://*.brindlewood.com")) << "file: not listed";
  EXPECT_FALSE(IsAllowedPage(nullptr, kList));
  EXPECT_FALSE(IsAllowedPage(L"https://www.brindlewood.com/", ""));
}

TEST(AllowedPages, TheBuildsListHoldsTheMakersSitesAndLocalFiles) {
  // The test build adds local files to the default list.
  EXPECT_TRUE(PageLockEnabled());
  EXPECT_TRUE(IsAllowedPage(L"https://www.brindlewood.com/viewer.html"));
  EXPECT_TRUE(IsAllowedPage(L"http://brindlewood.com/"));
  EXPECT_TRUE(IsAllowedPage(L"file:///C:/pages/viewer.html"));
  EXPECT_FALSE(IsAllowedPage(L"https://evil.example/"));
}

}  // namespace
}  // namespace orvex
