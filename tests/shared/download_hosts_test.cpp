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

bool Allowed(const char* url, const char* mirrors = kMirrors) {
  return IsAllowedDownloadUrl(url, std::strlen(url), kInfo, mirrors);
}

TEST(DownloadHosts, TheInformationServerAndTheMirrorsOverHttp) {
  EXPECT_TRUE(Allowed("http://updates.example.com/quillon/download/"));
  EXPECT_TRUE(Allowed("HTTP://UPDATES.EXAMPLE.COM/other/"));
  EXPECT_TRUE(Allowed("http://updates.example.com:8080/quillon/")) << "the port is not the installer's to follow";
  EXPECT_TRUE(Allowed("http://updates.example.com"));
  EXPECT_TRUE(Allowed("http://mirror-1.example.net/q/"));
  EXPECT_TRUE(Allowed("http://files.example.org/q/"));
  EXPECT_FALSE(Allowed("http://files.example.org/q/", ""));
  EXPECT_TRUE(IsAllowedDownloadUrl("http://a;b", 8, "http://a/", "")) << "a length, not a terminator, ends the URL";
  EXPECT_TRUE(Allowed("HTTPS://updates.example.com:8443/quillon/"));
}

TEST(DownloadHosts, AnHttpsInformationServerKeepsPackagesOnHttps) {
  const char* const info = "https://updates.example.com/";
  for (const char* url : {"https://updates.example.com/q/", "https://mirror-1.example.net/q/"}) {
    EXPECT_TRUE(IsAllowedDownloadUrl(url, std::strlen(url), info, kMirrors)) << url;
  }
  for (const char* url : {"http://updates.example.com/q/", "http://mirror-1.example.net/q/"}) {
    EXPECT_FALSE(IsAllowedDownloadUrl(url, std::strlen(url), info, kMirrors)) << url;
  }
}

TEST(DownloadHosts, EverythingElseIsRefused) {
  for (const char* url : {
           "", "http://", "http:///quillon/", "https://", "httpss://updates.example.com/", "ftp://updates.example.com/",
           "file:///C:/packages/", "updates.example.com/quillon/", "//updates.example.com/",
           "http://evil.example/", "http://updates.example.com.evil.example/", "http://evilupdates.example.com/",
           "http://updates.example.co/", "http://updates.example.com@evil.example/",
           "http://evil.example\\@updates.example.com/", "http://updates.example.com:/",
           "http://updates.example.com:80x/", "http://updates example.com/", "http://[::1]/",
           "http://mirror-1.example.net.evil/", "http://example.org/", "http://files.example.org;evil/",
       }) {
    EXPECT_FALSE(Allowed(url)) << url;
    EXPECT_FALSE(IsAllowedDownloadBaseUrl(url, std::strlen(url), kInfo, kMirrors)) << url;
  }
  // A page's base URL also names one file on the host: a plain path.
  for (const char* path : {"#", "?", "a b/", "\x7f/", "\xe9/", "\t/"}) {
    const std::string url = std::string("http://updates.example.com/q/") + path;
    EXPECT_TRUE(Allowed(url.c_str())) << url;
    EXPECT_FALSE(IsAllowedDownloadBaseUrl(url.data(), url.size(), kInfo, kMirrors)) << url;
  }
  EXPECT_TRUE(IsAllowedDownloadBaseUrl("http://updates.example.com:8080/q-1_(x)~/", 41, kInfo, kMirrors));
  EXPECT_FALSE(IsAllowedDownloadUrl(nullptr, 0, kInfo, kMirrors));
  EXPECT_FALSE(IsAllowedDownloadUrl("http://x/", 9, nullptr, "")) << "no information server, no mirrors";
  const char cut[] = "http://updates.example.com.evil/";
  EXPECT_TRUE(IsAllowedDownloadUrl(cut, 26, kInfo, "")) << "only the given length counts";
}

TEST(DownloadHosts, TheBuiltInServerAndMirrorAreAllowed) {
  // The test build's information server is the loopback one, its mirror a
  // loopback address where nothing listens.
  EXPECT_TRUE(IsAllowedDownloadUrl("http://127.0.0.1/q/download/", 28));
  EXPECT_TRUE(IsAllowedDownloadUrl("http://127.0.0.2/q/download/", 28));
  EXPECT_FALSE(IsAllowedDownloadUrl("http://localhost/q/download/", 28)) << "the same server by another name";
}

}  // namespace
}  // namespace orvex
