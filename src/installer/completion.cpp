#include "completion.h"

#include <windows.h>

#include "bounded_text.h"
#include "installer_run.h"
#include "product_info.h"
#include "progress_window.h"
#include "pumping_wait.h"
#include "registry_paths.h"
#include "report_internet_error.h"

namespace orvex {

namespace {

constexpr unsigned long long kFileTimeTicksPerDay = 864000000000ULL;
constexpr DWORD kPackageCreationFlags = CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS;

HWND DialogIfWindow(const InstallerRun& run) {
  return run.progressWindow != nullptr && ::IsWindow(run.progressWindow->dialog) ? run.progressWindow->dialog
                                                                                 : nullptr;
}

void HideDialog(const InstallerRun& run) {
  if (HWND dialog = DialogIfWindow(run)) ::ShowWindow(dialog, SW_HIDE);
}

void ReportFailure(InstallerRun& run) {
  HWND dialog = DialogIfWindow(run);
  ReportInternetError(dialog != nullptr ? dialog : run.ownerWindow, run.asyncError);
}

// Starts the package and waits, pumping, until it ends. Silent when it cannot start.
void RunPackage(InstallerRun& run) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessA(run.packagePath, nullptr, nullptr, nullptr, FALSE, kPackageCreationFlags, nullptr, nullptr,
                        &startup, &process)) {
    return;
  }
  PumpingWait(&process.hProcess, 1);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
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
      WriteNextUpdateTime(run);
      HideDialog(run);
      RunPackage(run);
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
