// What the reliability tests look at from outside: programs, the page host,
// named objects, bounded waits.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "control_module.h"
#include "rendezvous_block.h"
#include "test_registry.h"
#include "ui_robot.h"
#include "win_handles.h"

namespace orvex::test {

// The installer's program file, as the process list names it.
constexpr char kInstallerExe[] = "OrvexInstaller.exe";

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

// Whether these whole lines stand in the text in this order (others between them).
bool HasLinesInOrder(const std::string& text, const std::vector<std::string>& lines);

// The page host run in the background on a page, so that a test can answer
// the installer's boxes while the page loads, then read the host's log.
class PageHostProcess {
 public:
  // Writes the page to %TEMP%\orvex_<name>.html and starts the page host on it
  // (no timed close for INFINITE).
  PageHostProcess(const std::string& name, const std::string& page, DWORD closeAfterMs = 100,
                  const std::string& options = "");
  ~PageHostProcess();
  PageHostProcess(const PageHostProcess&) = delete;
  PageHostProcess& operator=(const PageHostProcess&) = delete;

  DWORD Pid() const { return host_ != nullptr ? host_->Pid() : 0; }
  DWORD Wait(DWORD timeoutMs) const { return host_ != nullptr ? host_->Wait(timeoutMs) : STILL_ACTIVE; }

  // The log as written so far, one event per line.
  std::string LogText() const { return ReadFileBytes(logPath_); }
  bool LogHasInOrder(const std::vector<std::string>& lines) const { return HasLinesInOrder(LogText(), lines); }

 private:
  std::string pagePath_;
  std::string logPath_;
  std::unique_ptr<ChildProcess> host_;
};

}  // namespace orvex::test
