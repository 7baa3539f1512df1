// Which pages may drive the control: a list fixed at build time of the
// maker's sites. A page's URL is judged on its scheme and host alone.
#pragma once

namespace orvex {

// Whether url, a page's URL as its container reports it, is one of list's
// pages. list holds entries separated by ';' (or ','), each "scheme://host" (that host
// exactly), "scheme://*.domain" (the domain and any host below it) or "file:"
// (pages opened from local files: no host, or "localhost"). Schemes compare
// exactly, hosts without regard to case, and the port does not count. A URL
// with user information, an empty host or a host with characters outside
// letters, digits, '.' and '-' matches no entry.
bool IsAllowedPage(const wchar_t* url, const char* list);

// The same against the list this build was made with.
bool IsAllowedPage(const wchar_t* url);

// False when the build's list is empty: then every page may drive the control.
bool PageLockEnabled();

}  // namespace orvex
