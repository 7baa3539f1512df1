// The page host run in the background on a page, so that a test can answer
// the installer's boxes while the page loads, then read the host's log.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "reliability_support.h"

namespace orvex::test {

class PageHostProcess {
 public:
  // Writes the page to %TEMP%\orvex_<name>.html and starts the page host on it
  // (no timed close for INFINITE).
  PageHostProcess(const std::string& name, const std::string& page, DWORD closeAfterMs = 100,
                  const std::string& options = "");
  ~PageHostProcess();
  PageHostProcess(const PageHostProcess&) = delete;
  PageHostProcess& operator=(const PageHostProcess&) = delete;

  bool Started() const { return host_ != nullptr && host_->Started(); }
  DWORD Pid() const { return host_ != nullptr ? host_->Pid() : 0; }
  DWORD Wait(DWORD timeoutMs) const { return host_ != nullptr ? host_->Wait(timeoutMs) : STILL_ACTIVE; }

  // The log as written so far, one event per line.
  std::string LogText() const;
  // Whether these lines stand in the log in this order (others between them).
  bool LogHasInOrder(const std::vector<std::string>& lines) const;

 private:
  std::string pagePath_;
  std::string logPath_;
  std::unique_ptr<ChildProcess> host_;
};

}  // namespace orvex::test
