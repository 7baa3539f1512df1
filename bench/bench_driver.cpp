// The benchmark driver: hosts the control on an apartment thread of its own
// and runs one measurement in the Wine prefix that holds the real installer.
//   bench_driver.exe notdue   PRODUCT ROUNDS CALLS
//   bench_driver.exe ack      PRODUCT ROUNDS
//   bench_driver.exe download PRODUCT PACKAGE_BYTES
//   bench_driver.exe wininet  URL PACKAGE_BYTES
// It prints one line per result (see each measurement's file), "error ..."
// when the road did not do what the measurement relies on, and exits 0 only
// when every result line was printed. The control module is loaded from the
// folder above the driver's (but for "wininet", which needs no control), the
// idle programs from the Windows folder.
#include <windows.h>
#include <objbase.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_runs.h"
#include "bench_setup.h"
#include "control_instance.h"
#include "product_name.h"

namespace {

constexpr int kUsage = 2;
constexpr long kMaxCount = 1000000;

// A count argument in 1..kMaxCount, or 0.
long Count(const char* text) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 1 || value > kMaxCount) return 0;
  return value;
}

// A byte count in 1..4 GiB - 1, or 0.
DWORD ByteCount(const char* text) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0' || value > 0xFFFFFFFFull) return 0;
  return static_cast<DWORD>(value);
}

int Usage() {
  orvex::bench::Report("error usage: bench_driver (notdue PRODUCT ROUNDS CALLS | ack PRODUCT ROUNDS | "
                       "download PRODUCT PACKAGE_BYTES | wininet URL PACKAGE_BYTES)");
  return kUsage;
}

int Run(IOrvexInstallerCtl* control, int argc, char** argv) {
  const std::string command = argv[1];
  const std::string product = argv[2];
  if (command == "notdue" && argc == 5) {
    const long rounds = Count(argv[3]);
    const long calls = Count(argv[4]);
    if (rounds == 0 || calls == 0) return Usage();
    return orvex::bench::RunNotDueBench(control, product, static_cast<int>(rounds), static_cast<int>(calls));
  }
  if (command == "ack" && argc == 4) {
    const long rounds = Count(argv[3]);
    if (rounds == 0) return Usage();
    return orvex::bench::RunAcknowledgeBench(control, product, static_cast<int>(rounds));
  }
  if (command == "download" && argc == 4) {
    const DWORD size = ByteCount(argv[3]);
    if (size == 0) return Usage();
    return orvex::bench::RunDownloadBench(control, product, size);
  }
  return Usage();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  if (std::strcmp(argv[1], "wininet") == 0) {
    const DWORD size = argc == 4 ? ByteCount(argv[3]) : 0;
    return size == 0 ? Usage() : orvex::bench::RunWinInetDownloadBench(argv[2], size);
  }
  // The product is a rendezvous name: it must be one the control accepts.
  if (argv[2][0] == '\0' || !orvex::IsAcceptableProductName(argv[2])) return Usage();
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    orvex::bench::Report("error cannot initialise COM");
    return 1;
  }
  int status = 1;
  {
    orvex::bench::ControlInstance instance(orvex::bench::ControlModulePath());
    if (instance.Control() == nullptr) {
      orvex::bench::Report("error %s", instance.Failure().c_str());
    } else {
      status = Run(instance.Control(), argc, argv);
    }
  }
  ::CoUninitialize();
  return status;
}
