// A host thread, as a page's thread is: it owns a visible top-level window,
// made active before the host's work runs on the thread, and records what
// the work does to that window.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace orvex::test {

// The window class of every host window, for tests that look for one.
constexpr char kHostWindowClass[] = "OrvexTestHostWindow";

// Sent to a host window: runs InstallCheck on the Info text lParam points to,
// nested in whatever loop dispatches it, and records "nested" when it returns.
constexpr UINT kNestedCheckMessage = WM_APP + 1;

class HostThread {
 public:
  HostThread(const HostThread&) = delete;
  HostThread& operator=(const HostThread&) = delete;

  // True once the work ran to its end (waits up to timeoutMs).
  bool WaitDone(DWORD timeoutMs);
  bool Done() const { return done_; }

  HWND Window() const { return window_; }
  DWORD ThreadId() const { return threadId_; }
  // The host's window was the active window when the work began.
  bool WindowWasActive() const { return windowWasActive_; }
  // What happened to the window while the work ran, in order: "minimized",
  // "restored", "disabled", "enabled", "nested"; and its state when it ended.
  std::vector<std::string> Events() const;
  bool LeftIconic() const { return leftIconic_; }
  bool LeftDisabled() const { return leftDisabled_; }

 protected:
  HostThread() = default;
  ~HostThread() = default;
  // Starts the thread and waits up to startTimeoutMs until its window is up.
  void Start(const char* title, DWORD startTimeoutMs);
  // Waits for the thread to end; the derived host's destructor calls it. A
  // thread that does not end within timeoutMs is never killed: one ended by
  // force can leave the loader's or the heap's lock held, and every later
  // host of the process would hang on it. The process ends instead, saying
  // which host hung.
  void Join(DWORD timeoutMs, const char* host);
  virtual void Work() = 0;

 private:
  static DWORD WINAPI ThreadMain(void* self);
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Record(const char* event);

  const char* title_ = nullptr;
  HANDLE thread_ = nullptr;
  HANDLE started_ = nullptr;
  DWORD threadId_ = 0;
  std::atomic<HWND> window_{nullptr};
  std::atomic<bool> windowWasActive_{false};
  std::atomic<bool> recording_{false};
  std::atomic<bool> done_{false};
  std::atomic<bool> leftIconic_{false};
  std::atomic<bool> leftDisabled_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

// True once the thread of the window has dispatched a message sent to it
// (within timeoutMs): it is pumping messages, as a check does only in its
// waits. False when it did not, or the window is gone.
bool WindowThreadPumps(HWND window, DWORD timeoutMs);

}  // namespace orvex::test
