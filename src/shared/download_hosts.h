// Where a package may come from: over http or https, from the information server's own
// host or from one of the mirror hosts fixed at build time. A page chooses the
// download base URL, so nothing else is trusted.
#pragma once

#include <cstddef>

namespace orvex {

// Whether url (length bytes, not necessarily terminated) is an http or https
// URL whose host is the host of infoBaseUrl or one of mirrors, a list of host
// names separated by ';' or ','; when infoBaseUrl is https, url must be https
// too. Hosts compare without regard to case; the port is not part of the
// comparison (the installer uses port 80 for http, the URL's port for https).
// A URL with user information, or a host with characters outside letters,
// digits, '.' and '-', is refused.
bool IsAllowedDownloadUrl(const char* url, std::size_t length, const char* infoBaseUrl, const char* mirrors);

// The same against the built-in information server and mirror list.
bool IsAllowedDownloadUrl(const char* url, std::size_t length);

// Whether a page's download base URL may stand: an allowed URL whose port and
// path hold only printable ASCII without spaces, and no '#' or '?', so that
// the package URL built on it names one file on that host.
bool IsAllowedDownloadBaseUrl(const char* url, std::size_t length, const char* infoBaseUrl, const char* mirrors);
bool IsAllowedDownloadBaseUrl(const char* url, std::size_t length);

// The information server's base URL this build was made with.
const char* BuiltInInfoBaseUrl();

}  // namespace orvex
