// The installer's modeless progress dialog: banner, information line,
// description, status line, progress bar and text, and Cancel.
#pragma once

#include <windows.h>

#include <cstddef>

#include "progress_pace.h"

namespace orvex {

class InstallerRun;

constexpr std::size_t kProgressTextSize = 260;

class ProgressWindow {
 public:
  explicit ProgressWindow(InstallerRun* owner);
  virtual ~ProgressWindow();
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  // The first call creates the dialog (visible at once); either text may be null.
  void Show(const char* information, const char* description);
  // The status line: the given texts joined, absent ones skipped, cut to fit.
  // Safe from any thread: from another thread than the dialog's the text is
  // kept and the dialog told by a posted message, so the caller never waits
  // for the dialog's thread.
  void SetStatus(const char* first = nullptr, const char* second = nullptr, const char* third = nullptr);
  // Dispatches one pending message, then shows done of total bytes when the
  // pace allows: the first count, the final one and an empty one always,
  // others at most once an interval.
  void SetProgress(DWORD done, DWORD total);
  // The count stopped where it is: shows the last count given to
  // SetProgress if the pace held it back.
  void SettleProgress();
  // The dialog's timer: a count held back while the download waits is shown
  // once the interval has passed.
  void ShowHeldProgress();

  HWND dialog = nullptr;
  char textBuffer[kProgressTextSize];
  InstallerRun* run;
  bool cancelled = false;
  // When counts are shown; tests give it a clock of their own.
  ProgressPace pace;

  // Shows the status line kept for the dialog's thread. The dialog's thread only.
  void ShowKeptStatus();

 private:
  // Sets the bar and the progress text to done of total.
  void ShowProgress(DWORD done, DWORD total);

  // Set while the held-count timer runs.
  bool timerSet_ = false;
  DWORD latestDone_ = 0;
  DWORD latestTotal_ = 0;
  // The bar's range as last set: PBM_SETRANGE32 only when the total changes.
  DWORD barTotal_ = 0;
  // Guards textBuffer and the kept status line: SetStatus comes from
  // WinINet's threads too. Held only while a text is composed or copied,
  // never while it goes to the dialog.
  CRITICAL_SECTION textLock_;
  char keptStatus_[kProgressTextSize];
  bool statusPosted_ = false;
};

// The message a status line from another thread posts to the dialog.
constexpr UINT kShowStatusMessage = WM_APP + 1;

// The dialog procedure of template 103.
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace orvex
