// Sets Info once on the built control, in a process of its own, on a host
// thread: control_host_runner.exe READY GATE "<Info text>". READY names an
// event set once the host is ready, GATE an event waited for before Info is
// set ("-" for neither). The exit code is the host's outcome (check_host.h).
#include <windows.h>

#include <string>

#include "check_host.h"

namespace {
HANDLE OpenNamed(const char* name) {
  return std::string(name) == "-" ? nullptr : ::OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name);
}
}  // namespace

int main(int argc, char** argv) {
  using namespace orvex::test;
  if (argc != 4) return 1 << 30;
  ControlHost::Plan plan;
  const std::string info = argv[3];  // the tests' Info texts are ASCII
  plan.info.assign(info.begin(), info.end());
  plan.ready = OpenNamed(argv[1]);
  plan.gate = OpenNamed(argv[2]);
  ControlHost host(plan);
  // Longer than any test waits for this process: the test ends it first.
  return static_cast<int>(host.WaitDone(300000) ? host.Outcome() : 16);
}
