// A host for one install check: InstallCheck runs on a host thread once its
// window is active, as on a browser's page thread.
#pragma once

#include <string>
#include <utility>

#include "host_window.h"

namespace orvex::test {

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

}  // namespace orvex::test
