// The built control module as tests reach it: its path, registration with the
// platform's regsvr32, and programs of this architecture run by a test.
#pragma once

#include <windows.h>

#include <string>

#include "win_handles.h"

namespace orvex::test {

// The absolute form of a path.
std::string FullPath(const std::string& path);

// OrvexInstaller.dll in the build's bin folder.
std::string ControlModulePath();

// A program a test started; ended by force if it still runs when let go.
class ChildProcess {
 public:
  explicit ChildProcess(const std::string& commandLine);
  ~ChildProcess();

  bool Started() const { return static_cast<bool>(process_); }
  DWORD Pid() const { return pid_; }
  bool Ended() const { return Wait(0) != STILL_ACTIVE; }
  // Its exit code once it ended within timeoutMs; STILL_ACTIVE otherwise.
  DWORD Wait(DWORD timeoutMs) const;

 private:
  UniqueHandle process_;
  DWORD pid_ = 0;
};

// Runs a command line for up to a minute: its exit code, or STILL_ACTIVE when
// it could not be started or did not end.
inline DWORD RunProgram(const std::string& commandLine) { return ChildProcess(commandLine).Wait(60000); }

// regsvr32 of this architecture on the control module ("/s", or "/s /u" to unregister).
inline DWORD RegisterControlModule() { return RunProgram("regsvr32.exe /s \"" + ControlModulePath() + "\""); }
inline DWORD UnregisterControlModule() { return RunProgram("regsvr32.exe /s /u \"" + ControlModulePath() + "\""); }

}  // namespace orvex::test
