// The driver's measurements. Each prints its result lines (see
// bench_driver.cpp) and returns the driver's exit code: 0, or 1 when the
// road did not do what the measurement relies on (then an "error" line says why).
#pragma once

#include <windows.h>

#include <string>

#include "orvex_installer_h.h"

namespace orvex::bench {

// A not-due update check through put_Info against the registry reads it makes,
// and the parts of the check on their own; rounds of calls, interleaved.
int RunNotDueBench(IOrvexInstallerCtl* control, const std::string& product, int rounds, int calls);

// From put_Info to its return on a due check of an up-to-date product, against
// starting the idle program until it signals; rounds alternate.
int RunAcknowledgeBench(IOrvexInstallerCtl* control, const std::string& product, int rounds);

// One first installation of a package of packageSize bytes: download times and
// the installer's peak working set; then the idle program's peak working set.
int RunDownloadBench(IOrvexInstallerCtl* control, const std::string& product, DWORD packageSize);

// The same package read with WinINet alone, synchronously, in reads of the
// installer's size, into a file: what the platform's transfer costs without
// the installer's dialog and waits.
int RunWinInetDownloadBench(const std::string& url, DWORD packageSize);

}  // namespace orvex::bench
