// Which pages may drive the control: the build's list, judged on the page
// URL's scheme and host alone, parsed strictly.
#include <gtest/gtest.h>

#include <string>

#include "allowed_pages.h"

namespace orvex {
namespace {

TEST(AllowedPages, OnlyListedSchemesAndHosts) {
  const char* const list = "https://*.brindlewood.com;http://www.example.org,file:";
  for (const wchar_t* url : {L"https://brindlewood.com/viewer.html", L"https://a.b.Brindlewood.COM:8443/x?y#z",
                             L"https://www.brindlewood.com", L"http://WWW.EXAMPLE.ORG:80/",
                             L"file:///C:/pages/viewer.html", L"file://localhost/C:/pages/viewer.html",
                             L"file:C:/pages/viewer.html"}) {
    EXPECT_TRUE(IsAllowedPage(url, list)) << testing::PrintToString(std::wstring(url));
  }
  for (const wchar_t* url : {
           L"https://evil.example/", L"https://evilbrindlewood.com/", L"https://brindlewood.com.evil.example/",
           L"https://.brindlewood.com/", L"http://www.brindlewood.com/", L"HTTPS://www.brindlewood.com/",
           L"ftp://www.example.org/", L"http://sub.www.example.org/", L"https:///viewer.html",
           L"https:www.brindlewood.com", L"file://evil.example/share/viewer.html", L"about:blank", L"",
           L"www.brindlewood.com/viewer.html", L"https://www.brindlewood.com@evil.example/",
           L"https://user:pw@www.brindlewood.com/", L"https://evil.example\\@www.brindlewood.com/",
           L"https://www.brindlewood.com:8x/", L"https://www.brindlewood.com%2eevil.example/",
           L"https://www.brindlewood\u3002com/", L"https://[::1]/", L"file://user@localhost/C:/viewer.html"}) {
    EXPECT_FALSE(IsAllowedPage(url, list)) << testing::PrintToString(std::wstring(url));
  }
  EXPECT_FALSE(IsAllowedPage(nullptr, list));
  EXPECT_FALSE(IsAllowedPage(L"https://www.brindlewood.com/", ""));
}

}  // namespace
}  // namespace orvex
