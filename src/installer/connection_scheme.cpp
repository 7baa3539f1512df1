#include "connection_scheme.h"

namespace orvex {

namespace {

constexpr INTERNET_PORT kHttpPort = 80;  // whatever port the URL names
// No certificate error is ignored: none of the INTERNET_FLAG_IGNORE_CERT_*
// flags, and no security option is ever set. A redirect is not followed: one
// to http would send the request in the clear before it could be refused, so
// a redirect answer is taken as any other status but "200".
constexpr DWORD kSecureRequestFlags = INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_AUTO_REDIRECT;

}  // namespace

bool ChooseConnectionScheme(const URL_COMPONENTSA& parts, ConnectionScheme& scheme) {
  switch (parts.nScheme) {
    case INTERNET_SCHEME_HTTP:
      scheme.port = kHttpPort;
      scheme.requestFlags = 0;
      return true;
    case INTERNET_SCHEME_HTTPS:
      scheme.port = parts.nPort != 0 ? parts.nPort : INTERNET_DEFAULT_HTTPS_PORT;
      scheme.requestFlags = kSecureRequestFlags;
      return true;
    default:
      return false;
  }
}

}  // namespace orvex
