// What the reliability tests look at from outside: programs, named objects, bounded waits.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "rendezvous_block.h"
#include "win_handles.h"

namespace orvex::test {

// The installer's program file, as the process list names it.
constexpr char kInstallerExe[] = "OrvexInstaller.exe";
// What a host's window goes through during a first installation.
inline const std::vector<std::string> kFirstInstallationEvents = {"minimized", "disabled", "enabled", "restored"};

// A program a test started; ended by force if it still runs when let go.
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

// Runs an action when it goes out of scope.
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

// The control's side of a rendezvous, played by a test: the mapping (a zeroed
// block; optional), "installing_" and "sync_" (optional) + name.
class PlayedRendezvous {
 public:
  PlayedRendezvous(const std::string& name, bool withMapping = true, bool withSync = true);
  static bool IsSet(const UniqueHandle& event) { return event && ::WaitForSingleObject(event.Get(), 0) == WAIT_OBJECT_0; }
  RendezvousBlock* Block() const { return view_.As<RendezvousBlock>(); }

  UniqueHandle mapping, installing, sync;

 private:
  MappedView view_;
};

// Waits until none of the rendezvous's named objects can be opened any more.
bool WaitRendezvousGone(const std::string& name, DWORD timeoutMs);

// Running processes of this program file whose parent is one of parents.
std::vector<DWORD> ChildProcesses(const char* exeName, const std::vector<DWORD>& parents);

// Ends the process and waits (bounded) until it is gone.
bool KillProcess(DWORD pid);

// A window minimised and disabled, as during a first installation.
inline bool MinimisedAndDisabled(HWND window) { return ::IsIconic(window) && !::IsWindowEnabled(window); }

}  // namespace orvex::test
