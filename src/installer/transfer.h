// The transfer sequence both network phases of the job run on a URL: open,
// connect, request, send, check the status, read, and close again.
#pragma once

#include <windows.h>
#include <wininet.h>

namespace orvex {

class InstallerRun;

// What a phase does with the request once the server answered "200".
using TransferReading = void (*)(InstallerRun& run, HINTERNET request);

// Runs the sequence on url. Every way out closes what was opened.
void RunTransfer(InstallerRun& run, const char* url, TransferReading reading);

// The result of a WinINet call that returned failure: waits for its completion
// only when the call says it is pending; otherwise records the call's error and
// gives 0 at once.
DWORD_PTR CompletionOfFailedCall(InstallerRun& run);

}  // namespace orvex
