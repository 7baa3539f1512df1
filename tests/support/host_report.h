// What a host process reports through its exit code: the window events it
// saw, in order, and whether its window was left minimised or disabled.
#pragma once

#include <string>
#include <vector>

namespace orvex::test {

struct HostReport {
  std::vector<std::string> events;  // "minimized", "disabled", "enabled", "restored"
  bool leftIconic = false;
  bool leftDisabled = false;
  bool failed = false;  // the module, the gate, the put or the control's release went wrong
};

// Up to seven events, four bits each from the low end (0 ends the list), then
// bit 28 left iconic, bit 29 left disabled, bit 30 failed. Other events, or
// more than fit, count as a failure.
inline const char* const kReportedEvents[] = {"minimized", "disabled", "enabled", "restored"};

inline unsigned long EncodeHostReport(const HostReport& report) {
  unsigned long code = (report.leftIconic ? 1ul << 28 : 0) | (report.leftDisabled ? 1ul << 29 : 0);
  bool failed = report.failed || report.events.size() > 7;
  for (std::size_t i = 0; i < report.events.size() && i < 7; ++i) {
    unsigned long number = 0;
    for (unsigned long n = 0; n < 4; ++n) number = report.events[i] == kReportedEvents[n] ? n + 1 : number;
    failed = failed || number == 0;
    code |= number << (4 * i);
  }
  return code | (failed ? 1ul << 30 : 0);
}

inline HostReport DecodeHostReport(unsigned long code) {
  HostReport report;
  for (int i = 0; i < 7 && ((code >> (4 * i)) & 15) != 0; ++i) {
    const unsigned long number = (code >> (4 * i)) & 15;
    report.events.push_back(number <= 4 ? kReportedEvents[number - 1] : "?");
  }
  report.leftIconic = (code >> 28) & 1;
  report.leftDisabled = (code >> 29) & 1;
  report.failed = ((code >> 30) & 1) || (code >> 31) != 0;
  return report;
}

}  // namespace orvex::test
