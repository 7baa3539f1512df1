// OrvexInstaller.exe: started by the control with the rendezvous name as its
// whole command line.
#include <windows.h>

#include "installer_run.h"
#include "module_instance.h"
#include "product_name.h"
#include "stall_limit.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  orvex::SetModuleInstance(instance);
  if (commandLine == nullptr || commandLine[0] == '\0') return 0;
  // The control never starts the installer with a name it refuses; a name that
  // could not come from it opens nothing here either.
  if (!orvex::IsAcceptableProductName(commandLine)) return 0;
  auto* run = new orvex::InstallerRun;
  run->Open(commandLine);
  run->ReleaseRendezvous();  // blocks until the job thread has ended
  // A handle whose read WinINet did not abort at once may still call back into
  // the run. WinINet's own time-outs end such a read within the stall limit;
  // should a handle outlast twice that, the run is left to the end of the
  // process rather than deleted under it.
  if (run->WaitForHandlesClosed(2 * orvex::StallLimitMs())) delete run;
  return 0;
}
