// Host threads, as a page's thread is: each owns a visible top-level window,
// made active before the host's work runs on the thread, and records what the
// work does to that window. A check host runs one install check on it, a
// control host sets Info on controls of its own.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "win_handles.h"

namespace orvex::test {

// The window class of every host window, for tests that look for one.
constexpr char kHostWindowClass[] = "OrvexTestHostWindow";

// What a host's window goes through during a first installation.
inline const std::vector<std::string> kFirstInstallationEvents = {"minimized", "disabled", "enabled", "restored"};

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
  UniqueHandle thread_;
  UniqueHandle started_;
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

// A host for one install check: InstallCheck runs on the host thread once its
// window is active, as on a browser's page thread.
class CheckHost : public HostThread {
 public:
  struct Options {
    bool holdShift = false;  // Shift down in the thread's keyboard state
  };

  CheckHost(std::string info, Options options);
  explicit CheckHost(std::string info) : CheckHost(std::move(info), Options{}) {}
  ~CheckHost();

  // The exit code of a WM_QUIT in the thread's queue right after the check
  // returned; -1 when there was none.
  int QuitAfterCheck() const { return quitAfterCheck_; }

 private:
  void Work() override;

  std::string info_;
  Options options_;
  std::atomic<int> quitAfterCheck_{-1};
};

// What ControlHost::Outcome's bits mean.
constexpr char kOutcomeBits[] =
    "1 a first installation, 2 other window events, 4 left minimised, 8 left disabled, 16 the module, the gate, "
    "the put or a release failed, 259 did not return";

// A control host (control_host.cpp, a library of its own) is a host thread
// with COM's apartment that loads OrvexInstaller.dll itself (LoadLibrary and
// DllGetClassObject, no registration needed), makes controls through the
// module's class object and sets their Info through the dual interface.
class ControlHost : public HostThread {
 public:
  struct Plan {
    std::wstring info;  // set once, when no body is given
    // Work to run on the host thread once its window is active and the module
    // is loaded, instead; it may call SetInfo any number of times.
    std::function<void(ControlHost& host)> body;
    HANDLE ready = nullptr;  // an event set once the host is ready to set Info
    HANDLE gate = nullptr;   // an event waited for (at most kGateTimeoutMs) before Info is set
  };
  // Longer than a test waits for its hosts to get ready: a gate that opens
  // late is the test's failure to report, not the host's.
  static constexpr DWORD kGateTimeoutMs = 150000;

  explicit ControlHost(Plan plan);
  ~ControlHost();

  // On the host thread: makes a control, sets its Info and releases it. The
  // put's result; E_UNEXPECTED when the module did not load or made no
  // control. A control that outlives its release fails the outcome.
  HRESULT SetInfo(const std::wstring& info);

  // DllCanUnloadNow after the plan, before the module was freed.
  HRESULT CanUnloadAtEnd() const { return canUnloadAtEnd_; }
  // What the plan came to, as one number (a host process's exit code): 0 when
  // it left the window alone, 1 when the window went through a first
  // installation; any other bit is a fault (kOutcomeBits).
  DWORD Outcome() const;

 private:
  void Work() override;

  Plan plan_;
  IClassFactory* factory_ = nullptr;
  std::atomic<bool> moduleLoaded_{false};
  std::atomic<HRESULT> lastResult_{E_PENDING};
  std::atomic<HRESULT> canUnloadAtEnd_{E_PENDING};
  std::atomic<unsigned> leakedControls_{0};
};

}  // namespace orvex::test
