#include "update_job.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "bounded_text.h"
#include "download_hosts.h"
#include "completion.h"
#include "downloads_folder.h"
#include "installer_resources.h"
#include "installer_run.h"
#include "product_info.h"
#include "progress_window.h"
#include "pumping_wait.h"
#include "transfer.h"

namespace orvex {

namespace {

constexpr UINT kQuestionStyle = MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL;
static_assert(kQuestionStyle == 0x1024, "question box style");
constexpr unsigned char kPackageSignature[4] = {'M', 'Z', 0x01, 0x01};
constexpr std::size_t kVersionTextSize = 24;
constexpr std::size_t kPackageUrlSize = kDownloadBaseUrlSize + kPackageFileNameSize;

// The progress window, and on a first installation the notice, shown
// before any network work.
void PrepareJob(InstallerRun& run) {
  run.progressWindow = new ProgressWindow(&run);
  if (run.block->installedVersion.IsZero()) {
    std::snprintf(run.transferBuffer, sizeof(run.transferBuffer),
                  "'%s' is required to view this document. Please wait while this software is being downloaded.",
                  run.block->productName);
    std::snprintf(run.messageText, sizeof(run.messageText), "Getting information about '%s'...",
                  run.block->productName);
    run.progressWindow->Show(run.transferBuffer, run.messageText);
  }
}

// The information phase's reading: one read of at most 5000 bytes, fed to the record.
void ReadRecord(InstallerRun& run, HINTERNET request) {
  run.progressWindow->SetStatus("Retrieving product information...");
  run.recordBytesRead = 0;
  if (!::InternetReadFile(request, run.transferBuffer, kTransferBufferSize, &run.recordBytesRead) &&
      CompletionOfFailedCall(run) == 0) {
    return;
  }
  run.productInfo->Feed(run.transferBuffer, static_cast<std::int32_t>(run.recordBytesRead));
}

// The download phase's reading: the package, chunk by chunk, into its file.
void ReadPackage(InstallerRun& run, HINTERNET request) {
  run.progressWindow->SetStatus("Downloading ", run.packageFileName, "...");
  HANDLE file = ::CreateFileA(run.packagePath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const DWORD packageSize = run.productInfo->packageSize;
  // The first four bytes of the package, gathered across chunks however the
  // network splits them.
  unsigned char head[sizeof(kPackageSignature)];
  std::size_t headLength = 0;
  do {
    run.chunkBytesRead = 0;
    if (!::InternetReadFile(request, run.transferBuffer, kTransferBufferSize, &run.chunkBytesRead) &&
        CompletionOfFailedCall(run) == 0) {
      break;
    }
    const DWORD chunk = run.chunkBytesRead;
    if (chunk == 0) break;
    DWORD written = 0;
    if (!::WriteFile(file, run.transferBuffer, chunk, &written, nullptr) || written < chunk) break;
    if (headLength < sizeof(head)) {
      const std::size_t take = chunk < sizeof(head) - headLength ? chunk : sizeof(head) - headLength;
      std::memcpy(head + headLength, run.transferBuffer, take);
      headLength += take;
      if (headLength == sizeof(head) && std::memcmp(head, kPackageSignature, sizeof(head)) != 0) break;
    }
    run.bytesDownloaded += chunk;
    run.progressWindow->SetProgress(run.bytesDownloaded, packageSize);
  } while (run.bytesDownloaded < packageSize);
  ::CloseHandle(file);
  // However the loop ended, the dialog shows the count it reached.
  run.progressWindow->SettleProgress();
  // A package that ended before its signature was complete is not one.
  if (headLength < sizeof(head) && run.bytesDownloaded >= packageSize) run.bytesDownloaded = 0;
}

// Is there something to download? False ends the job.
bool DecideVersion(InstallerRun& run, char (&versionText)[kVersionTextSize]) {
  const ProductInfo& info = *run.productInfo;
  if (info.latestVersion.IsZero()) return false;
  if (HWND dialog = run.LiveDialog()) ::SetDlgItemTextA(dialog, IDC_DESCRIPTION, info.description);
  const HWND owner = run.MessageOwner();
  std::snprintf(versionText, sizeof(versionText), "%u-%u-%u-%u", info.latestVersion.high >> 16,
                info.latestVersion.high & 0xFFFFu, info.latestVersion.low >> 16, info.latestVersion.low & 0xFFFFu);
  const PackedVersion installed = run.block->installedVersion;
  if (installed.IsZero()) return true;
  if (installed < info.latestVersion) {
    std::snprintf(run.messageText, sizeof(run.messageText),
                  "The currently installed version of '%s' is old. A newer version (Version %s) is available. "
                  "Do want to download and install it now?",
                  run.block->productName, versionText);
    if (::MessageBoxA(owner, run.messageText, "Confirm Download", kQuestionStyle) == IDYES) return true;
    run.progressWindow->cancelled = true;
    return false;
  }
  run.upToDate = true;
  return false;
}

// A package already in place. True when the user keeps it.
bool KeepPackageInPlace(InstallerRun& run) {
  HANDLE file = ::CreateFileA(run.packagePath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  run.bytesDownloaded = ::GetFileSize(file, nullptr);
  ::CloseHandle(file);
  if (run.bytesDownloaded == run.productInfo->packageSize) {
    std::snprintf(run.messageText, sizeof(run.messageText),
                  "Latest version of %s is already downloaded (but not installed). "
                  "Do want to skip re-downloading of this file?",
                  run.block->productName);
    if (::MessageBoxA(run.MessageOwner(), run.messageText, "File Already Downloaded", kQuestionStyle) == IDYES) {
      return true;
    }
  }
  ::DeleteFileA(run.packagePath);
  run.bytesDownloaded = 0;
  return false;
}

void RunPhases(InstallerRun& run) {
  const RendezvousBlock& block = *run.block;
  char lowerName[kProductNameSize];
  CopyText(lowerName, block.productName);
  ::CharLowerA(lowerName);

  // The information phase.
  if (!JoinText(run.transferBuffer, sizeof(run.transferBuffer), {block.infoBaseUrl, lowerName, "/info.txt"})) return;
  RunTransfer(run, run.transferBuffer, ReadRecord);
  run.progressWindow->SetStatus("");
  // A Cancel that came as the record's read completed still ends the job here.
  if (run.progressWindow->cancelled) return;

  char versionText[kVersionTextSize];
  if (!DecideVersion(run, versionText)) return;

  // Where the package goes.
  if (!JoinText(run.packageFileName, sizeof(run.packageFileName), {lowerName, "_", versionText, ".exe"})) return;
  char packageUrl[kPackageUrlSize];
  if (!JoinText(packageUrl, sizeof(packageUrl), {block.downloadBaseUrl, run.packageFileName})) return;
  if (!PreparePackagePath(run.packagePath, sizeof(run.packagePath), run.packageFileName)) return;

  if (KeepPackageInPlace(run)) return;

  // The download phase.
  const char* description = run.productInfo->description;
  if (!block.installedVersion.IsZero()) {
    std::snprintf(run.messageText, sizeof(run.messageText), "Latest version of %s is being downloaded. Please wait...",
                  block.productName);
    run.progressWindow->Show(run.messageText, description);
  } else {
    run.progressWindow->Show(nullptr, description);
  }
  // The control admits only the information server and the mirrors; the
  // block could have been written by anyone, so ask again before connecting.
  if (!IsAllowedDownloadUrl(packageUrl, std::strlen(packageUrl))) return;
  RunTransfer(run, packageUrl, ReadPackage);
}

}  // namespace

void RunUpdateJob(InstallerRun& run) {
  PrepareJob(run);
  RunPhases(run);
  EndJob(run);
}

}  // namespace orvex
