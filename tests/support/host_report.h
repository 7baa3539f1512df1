// What a host process reports through its exit code: whether its window went
// through a first installation, and was left minimised or disabled.
#pragma once

#include <string>
#include <vector>

#include "check_host.h"

namespace orvex::test {

struct HostReport {
  std::vector<std::string> events;  // none, or a first installation's
  bool leftIconic = false;
  bool leftDisabled = false;
  bool failed = false;  // the module, the gate, the put or the control's release went wrong
};

// Bit 0: a first installation's events, bit 1: other events, bit 2: left
// iconic, bit 3: left disabled, bit 4: failed. Any higher bit (a crash's
// status) counts as a failure.
inline DWORD EncodeHostReport(const HostReport& report) {
  const bool first = report.events == kFirstInstallationEvents;
  return (first ? 1 : 0) | (!first && !report.events.empty() ? 2 : 0) | (report.leftIconic ? 4 : 0) |
         (report.leftDisabled ? 8 : 0) | (report.failed ? 16 : 0);
}

inline HostReport DecodeHostReport(DWORD code) {
  HostReport report;
  if ((code & 1) != 0) report.events = kFirstInstallationEvents;
  if ((code & 2) != 0) report.events = {"(events other than a first installation's)"};
  report.leftIconic = (code & 4) != 0;
  report.leftDisabled = (code & 8) != 0;
  report.failed = (code & 16) != 0 || code > 31;
  return report;
}

}  // namespace orvex::test
