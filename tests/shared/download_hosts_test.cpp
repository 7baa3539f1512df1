// Which download base URLs a page may name: the information server's host and
// the mirrors, over http or https (https alone under an https information
// server), and nothing that only looks like them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "download_hosts.h"

namespace orvex {
namespace {

constexpr char kInfo[] = "http://Updates.Example.com/";
constexpr char kMirrors[] = "mirror-1.example.net,files.example.org";

bool Allowed(const std::string& url, const char* info = kInfo) {
  return IsAllowedDownloadUrl(url.data(), url.size(), info, kMirrors);
}

TEST(DownloadHosts, TheInformationServerAndTheMirrorsOnly) {
  for (const char* url : {"http://updates.example.com/quillon/download/", "HTTP://UPDATES.EXAMPLE.COM:8080/other/",
                          "http://updates.example.com", "https://mirror-1.example.net/q/", "http://files.example.org/q/"}) {
    EXPECT_TRUE(Allowed(url)) << url;
  }
  for (const char* url : {
           "", "http://", "http:///quillon/", "httpss://updates.example.com/", "ftp://updates.example.com/",
           "file:///C:/packages/", "updates.example.com/quillon/", "//updates.example.com/", "http://evil.example/",
           "http://updates.example.com.evil.example/", "http://evilupdates.example.com/", "http://updates.example.co/",
           "http://updates.example.com@evil.example/", "http://evil.example\\@updates.example.com/",
           "http://updates.example.com:80x/", "http://updates example.com/", "http://[::1]/",
           "http://mirror-1.example.net.evil/", "http://files.example.org;evil/"}) {
    EXPECT_FALSE(Allowed(url)) << url;
  }
  EXPECT_FALSE(IsAllowedDownloadUrl("http://files.example.org/q/", 27, kInfo, "")) << "no mirrors";
  EXPECT_TRUE(IsAllowedDownloadUrl("http://updates.example.com.evil/", 26, kInfo, "")) << "only the length counts";
  // Under an https information server, packages stay on https.
  EXPECT_TRUE(Allowed("https://mirror-1.example.net/q/", "https://updates.example.com/"));
  EXPECT_FALSE(Allowed("http://updates.example.com/q/", "https://updates.example.com/"));
  EXPECT_FALSE(Allowed("http://mirror-1.example.net/q/", "https://updates.example.com/"));
}

// A page's base URL also names a file on the host: its path is plain.
TEST(DownloadHosts, ABaseUrlHasAPlainPath) {
  for (const char* path : {"#", "?", "a b/", "\x7f/", "\xe9/", "\t/"}) {
    const std::string url = std::string("http://updates.example.com/q/") + path;
    EXPECT_TRUE(Allowed(url)) << url;
    EXPECT_FALSE(IsAllowedDownloadBaseUrl(url.data(), url.size(), kInfo, kMirrors)) << url;
  }
  EXPECT_TRUE(IsAllowedDownloadBaseUrl("http://updates.example.com:8080/q-1_(x)~/", 41, kInfo, kMirrors));
}

}  // namespace
}  // namespace orvex
