// The installer's one error report: a WinINet or system error code, WinINet's
// own text for it and, where the server sent one, the server's text.
#pragma once

#include <windows.h>

namespace orvex {

// Shows the "Error Accessing Internet" box owned by owner; returns the box's
// result (0 when a server text could not be fetched).
int ReportInternetError(HWND owner, DWORD errorCode);

}  // namespace orvex
