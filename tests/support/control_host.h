// A host of the built control, as a page's thread is: a thread with COM's
// apartment and an active top-level window, which loads OrvexInstaller.dll
// itself (LoadLibrary and DllGetClassObject, no registration needed), makes
// controls through the module's class object and sets their Info through the
// dual interface. It records what happened to its window meanwhile.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <atomic>
#include <string>
#include <vector>

#include "host_window.h"

struct IClassFactory;

namespace orvex::test {

class ControlHost {
 public:
  // Work to run on the host thread once its window is active and the module
  // is loaded. It may call SetInfo any number of times.
  using Body = void (*)(ControlHost& host, void* context);

  struct Plan {
    std::wstring info;       // set once, when no body is given
    Body body = nullptr;
    void* context = nullptr;
    HANDLE ready = nullptr;  // an event set once the host is ready to set Info
    HANDLE gate = nullptr;   // an event waited for (at most kGateTimeoutMs) before Info is set
  };
  // Longer than a test waits for its hosts to get ready: a gate that opens
  // late is the test's failure to report, not the host's.
  static constexpr DWORD kGateTimeoutMs = 150000;

  explicit ControlHost(Plan plan);
  ~ControlHost();
  ControlHost(const ControlHost&) = delete;
  ControlHost& operator=(const ControlHost&) = delete;

  // On the host thread: makes a control, sets its Info and releases it. The
  // put's result; E_UNEXPECTED when the module did not load or made no
  // control. A control that outlives its release is counted in LeakedControls.
  HRESULT SetInfo(const std::wstring& info);

  // True once the plan ran to its end (waits up to timeoutMs).
  bool WaitDone(DWORD timeoutMs);
  bool Done() const { return done_; }

  HWND Window() const { return window_; }
  bool WindowWasActive() const { return windowWasActive_; }
  bool ModuleLoaded() const { return moduleLoaded_; }
  // The last SetInfo's result, and how many controls kept references after
  // their host released them.
  HRESULT LastResult() const { return lastResult_; }
  unsigned LeakedControls() const { return leakedControls_; }
  // DllCanUnloadNow after the plan, before the module was freed.
  HRESULT CanUnloadAtEnd() const { return canUnloadAtEnd_; }

  // What happened to the window while the plan ran, in order: "minimized",
  // "restored", "disabled", "enabled"; and its state when the plan ended.
  std::vector<std::string> Events() const;
  bool LeftIconic() const { return leftIconic_; }
  bool LeftDisabled() const { return leftDisabled_; }

 private:
  static DWORD WINAPI ThreadMain(void* self);
  void Run();

  Plan plan_;
  HANDLE thread_ = nullptr;
  HANDLE started_ = nullptr;
  HMODULE module_ = nullptr;
  IClassFactory* factory_ = nullptr;
  std::atomic<HWND> window_{nullptr};
  std::atomic<bool> windowWasActive_{false};
  std::atomic<bool> moduleLoaded_{false};
  std::atomic<bool> done_{false};
  std::atomic<bool> leftIconic_{false};
  std::atomic<bool> leftDisabled_{false};
  std::atomic<HRESULT> lastResult_{E_PENDING};
  std::atomic<HRESULT> canUnloadAtEnd_{E_PENDING};
  std::atomic<unsigned> leakedControls_{0};
  HostWindowEvents events_;
};

}  // namespace orvex::test
