// A host of the built control: a host thread with COM's apartment that loads
// OrvexInstaller.dll itself (LoadLibrary and DllGetClassObject, no
// registration needed), makes controls through the module's class object and
// sets their Info through the dual interface.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <functional>
#include <string>

#include "check_host.h"
#include "host_report.h"

namespace orvex::test {

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
  // control. A control that outlives its release is counted in LeakedControls.
  HRESULT SetInfo(const std::wstring& info);

  bool ModuleLoaded() const { return moduleLoaded_; }
  // How many controls kept references after their host released them.
  unsigned LeakedControls() const { return leakedControls_; }
  // DllCanUnloadNow after the plan, before the module was freed.
  HRESULT CanUnloadAtEnd() const { return canUnloadAtEnd_; }
  // What happened to the window once the plan ended; failed when the module,
  // the gate, the last put or a control's release went wrong.
  HostReport Report() const {
    return {Events(), LeftIconic(), LeftDisabled(),
            !moduleLoaded_ || lastResult_ != S_OK || leakedControls_ != 0 || !WindowWasActive()};
  }

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
