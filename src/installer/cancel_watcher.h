// The cancel watcher thread: sleeps until the run stops, then aborts the
// transfer in progress by closing its current WinINet handle.
#pragma once

#include <windows.h>

namespace orvex {

class InstallerRun;

DWORD CancelWatcher(InstallerRun* run);

}  // namespace orvex
