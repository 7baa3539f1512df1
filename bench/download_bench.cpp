// One first installation of a large package: nothing is installed, so
// put_Info starts the real installer and waits until it has downloaded,
// verified and run the package (the idle program, grown and signed). A
// watcher thread samples, every few milliseconds, the package file's size and
// the installer's working set, found as this process's child.
// Then the idle program is started and held open while its peak working set
// is read the same way.
// Output: "download installer <ns to first byte on disk> <ns to last byte>
//          <ns to put_Info's return> <peak working set during the download>
//          <peak working set of the whole run>" and "download idle <peak working set>",
// times counted from the call of put_Info, sizes in bytes.
#include <windows.h>
#include <oleauto.h>
#include <psapi.h>

#include <atomic>
#include <string>

#include "bench_clock.h"
#include "bench_runs.h"
#include "bench_setup.h"

namespace orvex::bench {

namespace {

constexpr DWORD kSampleMs = 5;
constexpr DWORD kEndTimeoutMs = 30000;
constexpr DWORD kIdleTimeoutMs = 60000;

struct DownloadWatch {
  std::string packagePath;
  DWORD packageSize = 0;
  Stopwatch clock;
  std::atomic<bool> stop{false};
  // Written by the watcher thread, read after it ended.
  long long firstByteNs = -1;
  long long lastByteNs = -1;
  SIZE_T peakDuringDownload = 0;
  SIZE_T peakOfRun = 0;
  bool installerSeen = false;
};

// The package file's size, or -1 while there is none.
long long FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return static_cast<long long>((static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

SIZE_T PeakWorkingSet(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (!::GetProcessMemoryInfo(process, &counters, sizeof(counters))) return 0;
  return counters.PeakWorkingSetSize;
}

DWORD WINAPI WatchDownload(void* parameter) {
  auto& watch = *static_cast<DownloadWatch*>(parameter);
  HANDLE installer = nullptr;
  while (!watch.stop.load()) {
    if (installer == nullptr) {
      installer = OpenChildProcess("OrvexInstaller.exe", PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE);
      watch.installerSeen = installer != nullptr;
    }
    const long long size = FileSize(watch.packagePath);
    const long long now = watch.clock.ElapsedNs();
    if (size >= 0 && watch.firstByteNs < 0) watch.firstByteNs = now;
    if (installer != nullptr) {
      // The peak so far, while the process still answers (it keeps its last
      // value once the process is gone, so it ends as the run's peak).
      const SIZE_T peak = PeakWorkingSet(installer);
      if (peak > watch.peakOfRun) watch.peakOfRun = peak;
      if (watch.lastByteNs < 0) watch.peakDuringDownload = watch.peakOfRun;
    }
    if (size >= static_cast<long long>(watch.packageSize) && watch.lastByteNs < 0) watch.lastByteNs = now;
    if (installer != nullptr && ::WaitForSingleObject(installer, 0) == WAIT_OBJECT_0) break;
    ::Sleep(kSampleMs);
  }
  if (installer != nullptr) ::CloseHandle(installer);
  return 0;
}

// The idle program's peak working set, read while it holds; 0 after an "error" line.
SIZE_T IdlePeakWorkingSet() {
  const std::string base = "orvex_bench_hold_" + std::to_string(::GetCurrentProcessId());
  HANDLE ready = ::CreateEventA(nullptr, TRUE, FALSE, (base + "_ready").c_str());
  HANDLE quit = ::CreateEventA(nullptr, TRUE, FALSE, (base + "_quit").c_str());
  HANDLE process = nullptr;
  SIZE_T peak = 0;
  if (ready == nullptr || quit == nullptr) {
    Report("error cannot make the idle program's events");
  } else if (!StartProgram("\"" + WindowsFolder() + "\\idle_program.exe\" hold " + base + "_ready " + base + "_quit",
                           process)) {
    Report("error cannot start the idle program");
  } else {
    const HANDLE handles[] = {ready, process};
    if (::WaitForMultipleObjects(2, handles, FALSE, kIdleTimeoutMs) == WAIT_OBJECT_0) {
      peak = PeakWorkingSet(process);
      if (peak == 0) Report("error cannot read the idle program's working set");
    } else {
      Report("error the idle program did not get ready");
    }
    ::SetEvent(quit);
    ::WaitForSingleObject(process, kIdleTimeoutMs);
    ::CloseHandle(process);
  }
  for (HANDLE h : {ready, quit}) {
    if (h != nullptr) ::CloseHandle(h);
  }
  return peak;
}

}  // namespace

int RunDownloadBench(IOrvexInstallerCtl* control, const std::string& product, DWORD packageSize) {
  ForgetProduct(product);
  DownloadWatch watch;
  watch.packagePath = DownloadsFolder() + "\\" + Lowercase(product) + "_1-0-0-1.exe";
  watch.packageSize = packageSize;
  ::DeleteFileA(watch.packagePath.c_str());

  const std::wstring wideProduct(product.begin(), product.end());
  BSTR info = ::SysAllocString(wideProduct.c_str());
  watch.clock.Restart();
  HANDLE watcher = ::CreateThread(nullptr, 0, WatchDownload, &watch, 0, nullptr);
  if (watcher == nullptr) {
    ::SysFreeString(info);
    Report("error cannot start the watcher thread");
    return 1;
  }
  const HRESULT result = control->put_Info(info);
  const long long returnedNs = watch.clock.ElapsedNs();
  // The installer ends right after it released the check; a watcher that
  // never saw it is stopped.
  if (::WaitForSingleObject(watcher, kEndTimeoutMs) != WAIT_OBJECT_0) watch.stop = true;
  ::WaitForSingleObject(watcher, INFINITE);
  ::CloseHandle(watcher);
  ::SysFreeString(info);

  // The installer records the next check only for a package it verified.
  ULONGLONG next = 0;
  const bool verified = ReadNextUpdateTime(product, next);
  const long long finalSize = FileSize(watch.packagePath);
  ::DeleteFileA(watch.packagePath.c_str());
  ForgetProduct(product);
  if (FAILED(result) || !watch.installerSeen || watch.lastByteNs < 0 ||
      finalSize != static_cast<long long>(packageSize) || !verified) {
    Report("error the first installation did not run through (installer seen %d, package %lld of %lu bytes, "
           "verified %d)",
           watch.installerSeen ? 1 : 0, finalSize, static_cast<unsigned long>(packageSize), verified ? 1 : 0);
    return 1;
  }
  Report("download installer %lld %lld %lld %llu %llu", watch.firstByteNs, watch.lastByteNs, returnedNs,
         static_cast<unsigned long long>(watch.peakDuringDownload), static_cast<unsigned long long>(watch.peakOfRun));
  const SIZE_T idlePeak = IdlePeakWorkingSet();
  if (idlePeak == 0) return 1;
  Report("download idle %llu", static_cast<unsigned long long>(idlePeak));
  return 0;
}

}  // namespace orvex::bench
