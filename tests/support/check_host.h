// A host for one install check: a thread that owns an active top-level window,
// as a browser's page thread does, and runs InstallCheck on it. It records what
// happened to its window while the check ran.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "host_window.h"

namespace orvex::test {

class CheckHost {
 public:
  struct Options {
    bool holdShift = false;  // Shift down in the thread's keyboard state
  };

  // Starts the thread; the check begins once its window is active.
  explicit CheckHost(std::string info, Options options);
  explicit CheckHost(std::string info) : CheckHost(std::move(info), Options{}) {}
  ~CheckHost();
  CheckHost(const CheckHost&) = delete;
  CheckHost& operator=(const CheckHost&) = delete;

  // True once InstallCheck returned (waits up to timeoutMs).
  bool WaitDone(DWORD timeoutMs);
  bool Done() const { return done_; }

  HWND Window() const { return window_; }
  DWORD ThreadId() const { return threadId_; }
  // The exit code of a WM_QUIT in the thread's queue right after the check
  // returned; -1 when there was none.
  int QuitAfterCheck() const { return quitAfterCheck_; }
  // The active window at the moment the check began was the host's window.
  bool WindowWasActive() const { return windowWasActive_; }

  // What happened to the window while the check ran, in order: "minimized",
  // "restored", "disabled", "enabled".
  std::vector<std::string> Events() const;

 private:
  static DWORD WINAPI ThreadMain(void* self);

  std::string info_;
  Options options_;
  HANDLE thread_ = nullptr;
  HANDLE ready_ = nullptr;
  DWORD threadId_ = 0;
  std::atomic<int> quitAfterCheck_{-1};
  std::atomic<HWND> window_{nullptr};
  std::atomic<bool> windowWasActive_{false};
  std::atomic<bool> done_{false};
  HostWindowEvents events_;
};

}  // namespace orvex::test
