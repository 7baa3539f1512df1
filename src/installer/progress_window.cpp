#include "progress_window.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "banner_bitmap.h"
#include "bounded_text.h"
#include "installer_resources.h"
#include "installer_run.h"
#include "module_instance.h"
#include "pumping_wait.h"

namespace orvex {

namespace {

constexpr char kProgramTitle[] = "Orvex Smart Installer";
constexpr UINT_PTR kHeldProgressTimer = 1;

// The banner, loaded once for the one dialog that exists at a time.
HBITMAP bannerBitmap = nullptr;
HPALETTE bannerPalette = nullptr;
LONG bannerWidth = 0;
LONG bannerHeight = 0;

void PaintBanner(HWND dialog) {
  HDC windowDc = ::GetDC(dialog);
  HDC memoryDc = ::CreateCompatibleDC(windowDc);
  ::SelectPalette(windowDc, bannerPalette, FALSE);
  ::RealizePalette(windowDc);
  ::SelectPalette(memoryDc, bannerPalette, FALSE);
  ::RealizePalette(memoryDc);
  HGDIOBJ previous = ::SelectObject(memoryDc, bannerBitmap);
  ::BitBlt(windowDc, 0, 0, bannerWidth, bannerHeight, memoryDc, 0, 0, SRCCOPY);
  ::SelectObject(memoryDc, previous);
  ::DeleteDC(memoryDc);
  ::ReleaseDC(dialog, windowDc);
}

}  // namespace

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      if (bannerBitmap == nullptr) {
        bannerBitmap = LoadBannerBitmap(ModuleInstance(), IDB_BANNER, &bannerPalette);
        BITMAP info = {};
        if (bannerBitmap != nullptr && ::GetObjectA(bannerBitmap, sizeof(info), &info) != 0) {
          bannerWidth = info.bmWidth;
          bannerHeight = info.bmHeight;
        }
      }
      return TRUE;
    case WM_PAINT:
      PaintBanner(dialog);
      return FALSE;
    case WM_COMMAND:
      if (HIWORD(wParam) == 0 && LOWORD(wParam) == IDCANCEL) {
        auto* window = reinterpret_cast<ProgressWindow*>(::GetWindowLongPtrA(dialog, GWLP_USERDATA));
        if (window != nullptr) {
          window->cancelled = true;
          ::SetEvent(window->run->stopEvent);
        }
      }
      return FALSE;
    case WM_TIMER:
      if (wParam == kHeldProgressTimer) {
        auto* window = reinterpret_cast<ProgressWindow*>(::GetWindowLongPtrA(dialog, GWLP_USERDATA));
        if (window != nullptr) window->ShowHeldProgress();
        return TRUE;
      }
      return FALSE;
    case kShowStatusMessage:
      if (auto* window = reinterpret_cast<ProgressWindow*>(::GetWindowLongPtrA(dialog, GWLP_USERDATA))) {
        window->ShowKeptStatus();
      }
      return TRUE;
    case WM_DESTROY:
      if (bannerBitmap != nullptr) {
        if (bannerPalette != nullptr) ::DeleteObject(bannerPalette);
        ::DeleteObject(bannerBitmap);
        bannerPalette = nullptr;
        bannerBitmap = nullptr;
        bannerWidth = 0;
        bannerHeight = 0;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

ProgressWindow::ProgressWindow(InstallerRun* owner) : run(owner) {
  textBuffer[0] = '\0';
  keptStatus_[0] = '\0';
  ::InitializeCriticalSection(&textLock_);
}

ProgressWindow::~ProgressWindow() {
  if (::IsWindow(dialog)) ::DestroyWindow(dialog);
  ::DeleteCriticalSection(&textLock_);
}

void ProgressWindow::Show(const char* information, const char* description) {
  if (dialog == nullptr) {
    INITCOMMONCONTROLSEX controls = {sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    dialog = ::CreateDialogParamA(ModuleInstance(), MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressDialogProc, 0);
    if (dialog == nullptr) return;
    ::SetWindowLongPtrA(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  const char* product = run->block->productName;
  if (information != nullptr) {
    char scratch[kProgressTextSize];
    ::SetDlgItemTextA(dialog, IDC_INFORMATION_LINE, information);
    std::snprintf(scratch, sizeof(scratch), "Information about %s", product);
    ::SetDlgItemTextA(dialog, IDC_HEADING_FRAME, scratch);
    std::snprintf(scratch, sizeof(scratch), "%s: Downloading %s...", kProgramTitle, product);
    ::SetWindowTextA(dialog, scratch);
  }
  if (description != nullptr) ::SetDlgItemTextA(dialog, IDC_DESCRIPTION, description);
}

void ProgressWindow::SetStatus(const char* first, const char* second, const char* third) {
  if (!::IsWindow(dialog)) return;
  char text[kProgressTextSize];
  const bool dialogThread = ::GetWindowThreadProcessId(dialog, nullptr) == ::GetCurrentThreadId();
  bool post = false;
  ::EnterCriticalSection(&textLock_);
  JoinTextCut(textBuffer, sizeof(textBuffer), {first, second, third});
  std::memcpy(text, textBuffer, sizeof(text));
  // The latest line is kept, so that a notice posted earlier shows no older one.
  std::memcpy(keptStatus_, textBuffer, sizeof(keptStatus_));
  if (!dialogThread && !statusPosted_) post = statusPosted_ = true;
  ::LeaveCriticalSection(&textLock_);
  if (dialogThread) {
    ::SetDlgItemTextA(dialog, IDC_STATUS_LINE, text);
  } else if (post && !::PostMessageA(dialog, kShowStatusMessage, 0, 0)) {
    ::EnterCriticalSection(&textLock_);
    statusPosted_ = false;
    ::LeaveCriticalSection(&textLock_);
  }
}

void ProgressWindow::ShowKeptStatus() {
  char text[kProgressTextSize];
  ::EnterCriticalSection(&textLock_);
  std::memcpy(text, keptStatus_, sizeof(text));
  statusPosted_ = false;
  ::LeaveCriticalSection(&textLock_);
  ::SetDlgItemTextA(dialog, IDC_STATUS_LINE, text);
}

void ProgressWindow::SetProgress(DWORD done, DWORD total) {
  HeldQuit quit;
  PumpOneMessage(quit);
  latestDone_ = done;
  latestTotal_ = total;
  if (pace.Next(done, total)) {
    ShowProgress(done, total);
  } else if (!timerSet_ && ::IsWindow(dialog)) {
    // Held back: shown by the next count, or by the timer if the download
    // waits that long.
    timerSet_ = ::SetTimer(dialog, kHeldProgressTimer, static_cast<UINT>(kProgressIntervalMs), nullptr) != 0;
  }
}

void ProgressWindow::SettleProgress() {
  if (pace.Stop()) ShowProgress(latestDone_, latestTotal_);
}

void ProgressWindow::ShowHeldProgress() {
  if (pace.Due()) ShowProgress(latestDone_, latestTotal_);
  if (pace.Held()) return;  // the timer runs on until the count is shown
  ::KillTimer(dialog, kHeldProgressTimer);
  timerSet_ = false;
}

void ProgressWindow::ShowProgress(DWORD done, DWORD total) {
  if (!::IsWindow(dialog)) return;
  const HWND bar = ::GetDlgItem(dialog, IDC_PROGRESS_BAR);
  char text[kProgressTextSize] = "";
  if (done != 0 && total != 0) {
    if (barTotal_ != total) {
      ::SendMessageA(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(total));
      barTotal_ = total;
    }
    ::SendMessageA(bar, PBM_SETPOS, done, 0);
    const auto percent = static_cast<int>(static_cast<unsigned long long>(done) * 100u / total);
    ::EnterCriticalSection(&textLock_);
    std::snprintf(textBuffer, sizeof(textBuffer), "%luK of %luK [%d%% Downloaded]",
                  static_cast<unsigned long>(done / 1024), static_cast<unsigned long>(total / 1024), percent);
    std::memcpy(text, textBuffer, sizeof(text));
    ::LeaveCriticalSection(&textLock_);
  } else {
    ::SendMessageA(bar, PBM_SETRANGE32, 0, 0);
    ::SendMessageA(bar, PBM_SETPOS, 0, 0);
    barTotal_ = 0;
  }
  ::SetDlgItemTextA(dialog, IDC_PROGRESS_TEXT, text);
}

}  // namespace orvex
