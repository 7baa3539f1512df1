// The control as a host holds it: the control module loaded, one control made
// by the module's class object, reached through its dual interface.
#pragma once

#include <windows.h>

#include <string>

#include "com_ptr.h"
#include "orvex_installer_h.h"

namespace orvex::bench {

class ControlInstance {
 public:
  // Loads the module at modulePath; COM must be initialised on this thread.
  explicit ControlInstance(const std::string& modulePath);
  ~ControlInstance();
  ControlInstance(const ControlInstance&) = delete;
  ControlInstance& operator=(const ControlInstance&) = delete;

  // Null when the module or the control could not be had; Failure() says why.
  IOrvexInstallerCtl* Control() const { return control_.get(); }
  const std::string& Failure() const { return failure_; }

 private:
  HMODULE module_ = nullptr;
  ComPtr<IOrvexInstallerCtl> control_;
  std::string failure_;
};

// The control module next to the benchmark programs' folder (bin\OrvexInstaller.dll).
std::string ControlModulePath();

}  // namespace orvex::bench
