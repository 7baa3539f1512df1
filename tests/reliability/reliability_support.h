// What the reliability tests share: waits bounded by a suite's time budget, the
// programs, installers and boxes they watch, and what the hosts report.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "control_host.h"
#include "host_report.h"
#include "win_handles.h"

namespace orvex::test {

constexpr char kInstallerProgram[] = "OrvexInstaller.exe";
constexpr char kErrorBoxTitle[] = "Error Accessing Internet";
inline const std::vector<std::string> kFirstInstallation = {"minimized", "disabled", "enabled", "restored"};

// The suite's time budget, started by its SetUpTestSuite, bounds it however many
// waits run to their end after a failure; one wait takes at most capMs of it.
void StartSuiteBudget(DWORD budgetMs);
DWORD Step(DWORD capMs = 30000);

// A program a test started. One that still runs when the test lets go of it
// is ended by force, so that a failed test leaves nothing running.
class ChildProcess {
 public:
  explicit ChildProcess(const std::string& commandLine);
  ~ChildProcess();

  bool Started() const { return process_.Valid(); }
  DWORD Pid() const { return pid_; }
  // Its exit code once it ended within timeoutMs; STILL_ACTIVE otherwise.
  DWORD Wait(DWORD timeoutMs) const;

 private:
  UniqueHandle process_;
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

// Waits up to timeoutMs until none of "info_", "installing_" or "sync_" + name
// can be opened any more.
bool WaitRendezvousGone(const std::string& name, DWORD timeoutMs);

// Running installers whose parent is one of parents.
std::vector<DWORD> RunningInstallers(const std::vector<DWORD>& parents);
// The installer a host of this process started, within timeoutMs; or invalid.
UniqueHandle WaitForOwnInstaller(DWORD timeoutMs);

// Waits up to timeoutMs for a dialog box of any process with this title; gives
// up early when the process that should show it has ended. Null when none came.
HWND WaitForBoxWhileRunning(const std::string& title, HANDLE process, DWORD timeoutMs);

// The exit code of a process that ended, STILL_ACTIVE while it runs; and
// for messages, "still runs" or "ended with exit code N".
DWORD ExitCodeOf(HANDLE process);
std::string StateOf(HANDLE process);

// Ends the process and waits (bounded) until it is gone.
bool KillProcess(DWORD pid);
bool KillProcess(HANDLE process);

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

// A window minimised and disabled, as during a first installation.
inline bool MinimisedAndDisabled(HWND window) { return ::IsIconic(window) && !::IsWindowEnabled(window); }

// A host's plan to set Info once to this text.
inline ControlHost::Plan InfoPlan(const std::string& info) {
  ControlHost::Plan plan;
  plan.info.assign(info.begin(), info.end());
  return plan;
}

// What a host reports once it returned within timeoutMs, as a host process does
// through its exit code; one that did not return reports that, as a failure.
HostReport ReportOf(ControlHost& host, DWORD timeoutMs);
HostReport ReportOf(const ChildProcess& host, DWORD timeoutMs);
// The host returned with these window events, its window restored and enabled.
::testing::AssertionResult ReturnedWith(const HostReport& report, const std::vector<std::string>& events);

}  // namespace orvex::test
