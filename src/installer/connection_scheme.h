// How the installer reaches a URL, by its scheme: http on port 80 whatever
// port the URL names; https on the URL's port (443 when it names none), over
// a secure connection whose certificate the platform validates in full, with
// no redirect followed.
#pragma once

#include <windows.h>
#include <wininet.h>

namespace orvex {

struct ConnectionScheme {
  INTERNET_PORT port = 0;
  DWORD requestFlags = 0;  // added to the request flags every request has
};

// The port and request flags for a URL split by InternetCrackUrlA. False for
// a scheme other than http and https: the installer does not connect.
bool ChooseConnectionScheme(const URL_COMPONENTSA& parts, ConnectionScheme& scheme);

}  // namespace orvex
