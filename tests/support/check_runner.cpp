// Runs one install check in a process of its own, on a thread with an active
// window: check_runner.exe "<Info text>". Exits 0 when the check returned.
#include <windows.h>

#include "check_host.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  orvex::test::CheckHost host(argv[1]);
  return host.WaitDone(INFINITE) ? 0 : 1;
}
