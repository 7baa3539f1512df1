// The built-in base URL of the maker's information server, fixed at build time.
#pragma once

#include <cstddef>

#include "rendezvous_block.h"

#ifndef ORVEX_INFO_BASE_URL
#error "ORVEX_INFO_BASE_URL must be defined by the build"
#endif

namespace orvex {

constexpr char kBuiltInInfoBaseUrl[] = ORVEX_INFO_BASE_URL;
constexpr char kDefaultDownloadFolder[] = "/download/";

namespace detail {
constexpr bool StartsWithHttpOrHttps(const char* s) {
  if (s[0] != 'h' || s[1] != 't' || s[2] != 't' || s[3] != 'p') return false;
  const char* rest = s[4] == 's' ? s + 5 : s + 4;
  return rest[0] == ':' && rest[1] == '/' && rest[2] == '/';
}
}  // namespace detail

static_assert(detail::StartsWithHttpOrHttps(kBuiltInInfoBaseUrl),
              "the information server is reached over http or https");
static_assert(kBuiltInInfoBaseUrl[sizeof(kBuiltInInfoBaseUrl) - 2] == '/', "the base URL ends in '/'");
static_assert(sizeof(kBuiltInInfoBaseUrl) <= kInfoBaseUrlSize, "the base URL fits infoBaseUrl");
// The default download URL, base + lowercase product + "/download/", must fit
// downloadBaseUrl for the longest product name.
static_assert(sizeof(kBuiltInInfoBaseUrl) - 1 + kMaxProductNameLength + sizeof(kDefaultDownloadFolder) - 1 <
                  kDownloadBaseUrlSize,
              "the default download URL fits downloadBaseUrl");

}  // namespace orvex
