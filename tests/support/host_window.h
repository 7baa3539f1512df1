// The window a test host gives the install check: a visible top-level window
// made active on the host's thread, recording what the check does to it.
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

// What happened to a host window, in order: "minimized", "restored",
// "disabled", "enabled", "nested". Recorded only between Start and Stop.
class HostWindowEvents {
 public:
  void Start() { recording_ = true; }
  void Stop() { recording_ = false; }
  std::vector<std::string> Events() const;
  // Records the change of state that a window message announces, if any.
  void Observe(UINT message, WPARAM wParam);

 private:
  void Record(const char* event);

  std::atomic<bool> recording_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

// Creates the window on the calling thread, shows it and makes it the
// thread's active window; its state changes go to events.
HWND CreateHostWindow(const char* title, HostWindowEvents* events);

// Detaches the events and destroys the window.
void DestroyHostWindow(HWND window);

// True once the thread of the window has dispatched a message sent to it
// (within timeoutMs): it is pumping messages, as a check does only in its
// waits. False when it did not, or the window is gone.
bool WindowThreadPumps(HWND window, DWORD timeoutMs);

// Waits for a host's thread to end. One that does not end within timeoutMs
// is never killed: a thread ended by force can leave the loader's or the
// heap's lock held, and every later host of the process would hang on it.
// The process ends instead, saying which host hung.
void JoinHostThread(HANDLE thread, DWORD timeoutMs, const char* host);

}  // namespace orvex::test
