#include "control_module.h"

#include "test_registry.h"

namespace orvex::test {

std::string FullPath(const std::string& path) {
  char full[MAX_PATH] = "";
  ::GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  return full;
}

std::string ControlModulePath() { return FullPath(TestFilePath("..\\OrvexInstaller.dll")); }

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
  if (process_ && ::WaitForSingleObject(process_.Get(), 0) != WAIT_OBJECT_0) {
    ::TerminateProcess(process_.Get(), 1);
    ::WaitForSingleObject(process_.Get(), 10000);
  }
}

DWORD ChildProcess::Wait(DWORD timeoutMs) const {
  if (!process_ || ::WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  ::GetExitCodeProcess(process_.Get(), &code);
  return code;
}

}  // namespace orvex::test
