#include "completion.h"

#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstring>

#include "bounded_text.h"
#include "installer_run.h"
#include "package_trust.h"
#include "product_info.h"
#include "progress_window.h"
#include "pumping_wait.h"
#include "registry_paths.h"
#include "report_internet_error.h"
#include "win_handles.h"

namespace orvex {

namespace {

constexpr unsigned long long kFileTimeTicksPerDay = 864000000000ULL;
constexpr DWORD kPackageCreationFlags = CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS;
constexpr unsigned char kPackageSignature[4] = {'M', 'Z', 0x01, 0x01};

void HideDialog(const InstallerRun& run) {
  if (HWND dialog = run.LiveDialog()) ::ShowWindow(dialog, SW_HIDE);
}

void ReportFailure(InstallerRun& run) {
  ReportInternetError(run.MessageOwner(),
                      run.stalled ? static_cast<DWORD>(ERROR_INTERNET_TIMEOUT) : run.asyncError);
}

// The one report of the installer's own: a package that could not be verified.
void ReportUntrustedPackage(InstallerRun& run) {
  std::snprintf(run.messageText, sizeof(run.messageText),
                "The package of '%s' could not be verified and was not installed.", run.block->productName);
  ::MessageBoxA(run.MessageOwner(), run.messageText, run.block->productName,
                MB_OK | MB_ICONERROR);
}

// Starts the package and waits, pumping, until it ends. The package file is
// closed once the process has started, so that the setup may replace or
// delete it. Silent when it cannot start.
void RunPackage(InstallerRun& run, UniqueHandle& package) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  const bool started = ::CreateProcessA(run.packagePath, nullptr, nullptr, nullptr, FALSE, kPackageCreationFlags,
                                        nullptr, nullptr, &startup, &process) != FALSE;
  package.Reset();
  if (!started) return;
  PumpingWait(&process.hProcess, 1);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
}

// Whether the open package is the one the record offers, and the maker's:
// its size, its first four bytes, its signature and its signer, all judged on
// the one handle.
bool PackageMayRun(InstallerRun& run, HANDLE package) {
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(package, &size) || size.QuadPart != run.productInfo->packageSize) return false;
  unsigned char head[sizeof(kPackageSignature)] = {};
  DWORD read = 0;
  if (!::ReadFile(package, head, sizeof(head), &read, nullptr) || read != sizeof(head) ||
      std::memcmp(head, kPackageSignature, sizeof(head)) != 0) {
    return false;
  }
  if (::SetFilePointer(package, 0, nullptr, FILE_BEGIN) != 0) return false;
  return PackageIsTrusted(package, run.packagePath, PinnedPublisher());
}

// Judges the package and, when it may run, records the next check and runs
// it. The package is opened once, for reading and closed to writers, before
// it is judged and until it has started, so what runs is what was judged,
// whether downloaded now or kept from an earlier download. A package that
// fails is deleted, and the next check stays due.
void RunVerifiedPackage(InstallerRun& run) {
  UniqueHandle package(::CreateFileA(run.packagePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!package.Valid() || !PackageMayRun(run, package.Get())) {
    package.Reset();
    ::DeleteFileA(run.packagePath);
    ReportUntrustedPackage(run);
    return;
  }
  WriteNextUpdateTime(run);
  HideDialog(run);
  RunPackage(run, package);
}

}  // namespace

void WriteNextUpdateTime(InstallerRun& run) {
  if (!JoinText(run.messageText, sizeof(run.messageText), {kMakerKey, kDownloadsSubkey, run.block->productName})) {
    return;
  }
  HKEY key = nullptr;
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, run.messageText, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return;
  }
  FILETIME now = {};
  ::GetSystemTimeAsFileTime(&now);
  const unsigned long long next = ((static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime) +
                                  static_cast<unsigned long long>(run.productInfo->updateIntervalDays) *
                                      kFileTimeTicksPerDay;
  const DWORD halves[2] = {static_cast<DWORD>(next), static_cast<DWORD>(next >> 32)};
  ::RegSetValueExA(key, kNextUpdateTimeValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(halves), sizeof(halves));
  ::RegCloseKey(key);
}

void CompleteJob(InstallerRun& run) {
  const ProductInfo& info = *run.productInfo;
  if (run.upToDate) {
    WriteNextUpdateTime(run);
  } else if (run.progressWindow != nullptr && run.progressWindow->cancelled) {
    // Cancelled, or the user declined the download: nothing more.
  } else if (!info.latestVersion.IsZero()) {
    if (info.packageSize != 0 && run.bytesDownloaded != 0 && run.bytesDownloaded == info.packageSize) {
      RunVerifiedPackage(run);
    } else {
      ReportFailure(run);
    }
  } else if (run.block->installedVersion.IsZero()) {
    // A first installation that got no usable record.
    ReportFailure(run);
  }
  HideDialog(run);
}

void EndJob(InstallerRun& run) {
  if (run.progressWindow != nullptr) run.progressWindow->SetStatus("");
  CompleteJob(run);
  ::SetEvent(run.stopEvent);
  PumpingWait(&run.watcherThread, 1);
  delete run.DetachProgressWindow();
}

}  // namespace orvex
