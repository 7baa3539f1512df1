// WinINet's status notifications for the installer's connections and requests.
#pragma once

#include <windows.h>
#include <wininet.h>

namespace orvex {

// Registered on every root handle of the job; the context of every connection
// and request handle is the run. Turns notifications into status lines, the
// current handle, stored results and the run's events.
void CALLBACK InternetStatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, void* information,
                                     DWORD informationLength);

}  // namespace orvex
