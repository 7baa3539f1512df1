// Sets Info once on the built control, in a process of its own, on a host
// thread: control_host_runner.exe READY GATE "<Info text>". READY names an
// event set once the host is ready, GATE an event waited for before Info is
// set ("-" for neither). The exit code is the host's report (host_report.h).
#include <windows.h>

#include <string>

#include "control_host.h"
#include "host_report.h"

namespace {
HANDLE OpenNamed(const char* name) {
  return std::string(name) == "-" ? nullptr : ::OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 1 << 30;
  orvex::test::ControlHost::Plan plan;
  const int length = ::MultiByteToWideChar(CP_ACP, 0, argv[3], -1, nullptr, 0);
  if (length <= 0) return 1 << 30;
  plan.info.resize(static_cast<std::size_t>(length));
  ::MultiByteToWideChar(CP_ACP, 0, argv[3], -1, plan.info.data(), length);
  plan.info.resize(static_cast<std::size_t>(length - 1));
  plan.ready = OpenNamed(argv[1]);
  plan.gate = OpenNamed(argv[2]);

  orvex::test::HostReport report;
  {
    orvex::test::ControlHost host(plan);
    // Longer than any test waits for this process: the test ends it first.
    report.failed = !host.WaitDone(300000) || !host.ModuleLoaded() || host.LastResult() != S_OK ||
                    host.LeakedControls() != 0 || !host.WindowWasActive();
    report.events = host.Events();
    report.leftIconic = host.LeftIconic();
    report.leftDisabled = host.LeftDisabled();
  }
  return static_cast<int>(orvex::test::EncodeHostReport(report));
}
