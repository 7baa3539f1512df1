#include "download_hosts.h"

#include <cstring>

#include "ascii_case.h"

#ifndef ORVEX_INFO_BASE_URL
#error "ORVEX_INFO_BASE_URL must be defined by the build"
#endif
#ifndef ORVEX_DOWNLOAD_MIRRORS
#error "ORVEX_DOWNLOAD_MIRRORS must be defined by the build"
#endif

namespace orvex {

namespace {

constexpr char kHttp[] = "http://";
constexpr char kHttps[] = "https://";

bool IsHostCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

bool StartsWith(const char* url, std::size_t length, const char* prefix, std::size_t prefixLength) {
  return length >= prefixLength && EqualNoCase(url, prefix, prefixLength);
}

bool IsHttps(const char* url, std::size_t length) { return StartsWith(url, length, kHttps, sizeof(kHttps) - 1); }

// The length of the URL's scheme with its "://": http or https, else 0.
std::size_t SchemeLength(const char* url, std::size_t length) {
  if (StartsWith(url, length, kHttp, sizeof(kHttp) - 1)) return sizeof(kHttp) - 1;
  return IsHttps(url, length) ? sizeof(kHttps) - 1 : 0;
}

// The host of an http or https URL: its start and length. False when the URL
// is neither, has user information, or has no host or an unusual one.
bool FindHost(const char* url, std::size_t length, const char*& host, std::size_t& hostLength) {
  const std::size_t schemeLength = SchemeLength(url, length);
  if (schemeLength == 0) return false;
  host = url + schemeLength;
  const std::size_t rest = length - schemeLength;
  std::size_t end = 0;
  while (end < rest && host[end] != '/' && host[end] != '?' && host[end] != '#') {
    if (host[end] == '@' || host[end] == '\\' || host[end] == '\0') return false;
    ++end;
  }
  hostLength = end;
  // A port follows a colon; it is ignored, but must be digits.
  for (std::size_t i = 0; i < end; ++i) {
    if (host[i] != ':') continue;
    if (i + 1 == end) return false;
    for (std::size_t j = i + 1; j < end; ++j) {
      if (host[j] < '0' || host[j] > '9') return false;
    }
    hostLength = i;
    break;
  }
  if (hostLength == 0) return false;
  for (std::size_t i = 0; i < hostLength; ++i) {
    if (!IsHostCharacter(host[i])) return false;
  }
  return true;
}

// The rest of a URL after its host: printable ASCII without spaces, and no
// '#' or '?', so that the package URL built on it names one file.
bool IsPlainPath(const char* path, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (path[i] <= ' ' || path[i] > '~' || path[i] == '#' || path[i] == '?') return false;
  }
  return true;
}

bool SameHost(const char* host, std::size_t hostLength, const char* other, std::size_t otherLength) {
  return hostLength == otherLength && EqualNoCase(host, other, hostLength);
}

}  // namespace

bool IsAllowedDownloadUrl(const char* url, std::size_t length, const char* infoBaseUrl, const char* mirrors) {
  if (url == nullptr) return false;
  const char* host = nullptr;
  std::size_t hostLength = 0;
  if (!FindHost(url, length, host, hostLength)) return false;
  // Packages of an https information server come over https too: a page
  // cannot lower the scheme.
  if (infoBaseUrl != nullptr && IsHttps(infoBaseUrl, std::strlen(infoBaseUrl)) && !IsHttps(url, length)) {
    return false;
  }

  const char* infoHost = nullptr;
  std::size_t infoHostLength = 0;
  if (infoBaseUrl != nullptr && FindHost(infoBaseUrl, std::strlen(infoBaseUrl), infoHost, infoHostLength) &&
      SameHost(host, hostLength, infoHost, infoHostLength)) {
    return true;
  }
  for (const char* mirror = mirrors; mirror != nullptr && *mirror != '\0';) {
    std::size_t mirrorLength = 0;
    while (mirror[mirrorLength] != '\0' && mirror[mirrorLength] != ';' && mirror[mirrorLength] != ',') ++mirrorLength;
    if (mirrorLength != 0 && SameHost(host, hostLength, mirror, mirrorLength)) return true;
    mirror += mirrorLength;
    if (*mirror != '\0') ++mirror;
  }
  return false;
}

bool IsAllowedDownloadUrl(const char* url, std::size_t length) {
  return IsAllowedDownloadUrl(url, length, ORVEX_INFO_BASE_URL, ORVEX_DOWNLOAD_MIRRORS);
}

bool IsAllowedDownloadBaseUrl(const char* url, std::size_t length, const char* infoBaseUrl, const char* mirrors) {
  if (!IsAllowedDownloadUrl(url, length, infoBaseUrl, mirrors)) return false;
  const char* host = nullptr;
  std::size_t hostLength = 0;
  FindHost(url, length, host, hostLength);
  const std::size_t rest = static_cast<std::size_t>(host - url) + hostLength;
  return IsPlainPath(url + rest, length - rest);
}

bool IsAllowedDownloadBaseUrl(const char* url, std::size_t length) {
  return IsAllowedDownloadBaseUrl(url, length, ORVEX_INFO_BASE_URL, ORVEX_DOWNLOAD_MIRRORS);
}

const char* BuiltInInfoBaseUrl() { return ORVEX_INFO_BASE_URL; }

}  // namespace orvex
