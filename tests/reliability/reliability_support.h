// What the reliability tests look at from outside: the programs they start,
// whether a rendezvous's named objects still exist, which installers a host
// started, and bounded waits for either.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace orvex::test {

// The installer's program file, as the process list names it.
constexpr char kInstallerExe[] = "OrvexInstaller.exe";
// What a host's window goes through during a first installation.
inline const std::vector<std::string> kFirstInstallationEvents = {"minimized", "disabled", "enabled", "restored"};

// A program a test started. One that still runs when the test lets go of it
// is ended by force, so that a failed test leaves nothing running.
class ChildProcess {
 public:
  explicit ChildProcess(const std::string& commandLine);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return process_ != nullptr; }
  DWORD Pid() const { return pid_; }
  bool Ended() const { return Wait(0) != STILL_ACTIVE; }
  // Its exit code once it ended within timeoutMs; STILL_ACTIVE otherwise.
  DWORD Wait(DWORD timeoutMs) const;

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
};

// Runs an action when it goes out of scope: declared after the hosts of a
// test, it lets an installer go before they are waited for.
template <typename Action>
class AtScopeEnd {
 public:
  explicit AtScopeEnd(Action action) : action_(action) {}
  ~AtScopeEnd() { action_(); }
  AtScopeEnd(const AtScopeEnd&) = delete;
  AtScopeEnd& operator=(const AtScopeEnd&) = delete;

 private:
  Action action_;
};

// Polls condition every 10 ms until it holds or timeoutMs passed.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (!condition()) {
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(10);
  }
  return true;
}

// Waits up to timeoutMs until none of "info_", "installing_", "sync_" or
// "leader_" + name can be opened any more.
bool WaitRendezvousGone(const std::string& name, DWORD timeoutMs);

// Running processes whose program file is exeName (without regard to case)
// and whose parent is one of parents.
std::vector<DWORD> ChildProcesses(const char* exeName, const std::vector<DWORD>& parents);
// Waits up to timeoutMs for such a process of this parent; 0 when none came.
DWORD WaitForChildProcess(const char* exeName, DWORD parent, DWORD timeoutMs);

// Ends the process and waits (bounded) until it is gone.
bool KillProcess(DWORD pid);

// A window minimised and disabled, as during a first installation.
inline bool MinimisedAndDisabled(HWND window) { return ::IsIconic(window) && !::IsWindowEnabled(window); }

}  // namespace orvex::test
