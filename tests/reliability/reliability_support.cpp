#include "reliability_support.h"

#include <tlhelp32.h>

#include <algorithm>

#include "object_names.h"
#include "ui_robot.h"

namespace orvex::test {

namespace {

ULONGLONG suiteEnd = 0;

HostReport NotReturned() {
  HostReport report;
  report.events.push_back("did not return");
  report.failed = true;
  return report;
}

}  // namespace

void StartSuiteBudget(DWORD budgetMs) { suiteEnd = ::GetTickCount64() + budgetMs; }

DWORD Step(DWORD capMs) {
  const ULONGLONG now = ::GetTickCount64();
  const ULONGLONG left = now >= suiteEnd ? 0 : suiteEnd - now;
  return left < capMs ? static_cast<DWORD>(left) : capMs;
}

ChildProcess::ChildProcess(const std::string& commandLine) {
  std::string line = commandLine;
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ::CloseHandle(process.hThread);
    process_.Reset(process.hProcess);
    pid_ = process.dwProcessId;
  }
}

ChildProcess::~ChildProcess() {
  if (Wait(0) == STILL_ACTIVE && process_) KillProcess(process_.Get());
}

DWORD ChildProcess::Wait(DWORD timeoutMs) const {
  if (!process_) return STILL_ACTIVE;
  ::WaitForSingleObject(process_.Get(), timeoutMs);
  return ExitCodeOf(process_.Get());
}

bool WaitRendezvousGone(const std::string& name, DWORD timeoutMs) {
  return WaitUntil(
      [&] {
        if (UniqueHandle opened{::OpenFileMappingA(FILE_MAP_READ, FALSE, (kInfoPrefix + name).c_str())}) return false;
        for (const char* prefix : {kInstallingPrefix, kSyncPrefix}) {
          if (UniqueHandle opened{::OpenEventA(SYNCHRONIZE, FALSE, (prefix + name).c_str())}) return false;
        }
        return true;
      },
      timeoutMs);
}

std::vector<DWORD> RunningInstallers(const std::vector<DWORD>& parents) {
  std::vector<DWORD> found;
  const UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return found;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32First(snapshot.Get(), &entry); more; more = ::Process32Next(snapshot.Get(), &entry)) {
    if (::lstrcmpiA(entry.szExeFile, kInstallerProgram) == 0 &&
        std::find(parents.begin(), parents.end(), entry.th32ParentProcessID) != parents.end()) {
      found.push_back(entry.th32ProcessID);
    }
  }
  return found;
}

UniqueHandle WaitForOwnInstaller(DWORD timeoutMs) {
  std::vector<DWORD> found;
  WaitUntil([&] { return !(found = RunningInstallers({::GetCurrentProcessId()})).empty(); }, timeoutMs);
  if (found.empty()) return UniqueHandle();
  return UniqueHandle(
      ::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, found.front()));
}

HWND WaitForBoxWhileRunning(const std::string& title, HANDLE process, DWORD timeoutMs) {
  std::vector<HWND> found;
  WaitUntil(
      [&] {
        found = FindTopLevelWindows(0, "#32770", title);
        return !found.empty() || ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
      },
      timeoutMs);
  return found.empty() ? nullptr : found.front();
}

DWORD ExitCodeOf(HANDLE process) {
  DWORD code = STILL_ACTIVE;
  if (::WaitForSingleObject(process, 0) == WAIT_OBJECT_0) ::GetExitCodeProcess(process, &code);
  return code;
}

std::string StateOf(HANDLE process) {
  const DWORD code = ExitCodeOf(process);
  return code == STILL_ACTIVE ? "still runs" : "ended with exit code " + std::to_string(code);
}

bool KillProcess(DWORD pid) {
  const UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
  return process && KillProcess(process.Get());
}

bool KillProcess(HANDLE process) {
  if (!::TerminateProcess(process, 9)) return false;
  return ::WaitForSingleObject(process, 20000) == WAIT_OBJECT_0;
}

HostReport ReportOf(ControlHost& host, DWORD timeoutMs) {
  if (!host.WaitDone(timeoutMs)) return NotReturned();
  HostReport report;
  report.events = host.Events();
  report.leftIconic = host.LeftIconic();
  report.leftDisabled = host.LeftDisabled();
  report.failed = !host.ModuleLoaded() || host.LastResult() != S_OK || host.LeakedControls() != 0 ||
                  !host.WindowWasActive();
  return report;
}

HostReport ReportOf(const ChildProcess& host, DWORD timeoutMs) {
  const DWORD code = host.Wait(timeoutMs);
  return code != STILL_ACTIVE ? DecodeHostReport(code) : NotReturned();
}

::testing::AssertionResult ReturnedWith(const HostReport& report, const std::vector<std::string>& events) {
  if (report.events == events && !report.leftIconic && !report.leftDisabled && !report.failed) {
    return ::testing::AssertionSuccess();
  }
  std::string text = report.events.empty() ? "no window events " : "";
  for (const std::string& event : report.events) text += event + " ";
  if (report.leftIconic) text += "[left minimised] ";
  if (report.leftDisabled) text += "[left disabled] ";
  if (report.failed) text += "[failed]";
  return ::testing::AssertionFailure() << "the host reported " << text;
}

}  // namespace orvex::test
