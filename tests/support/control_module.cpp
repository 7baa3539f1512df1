#include "control_module.h"

#include "test_registry.h"

namespace orvex::test {

std::string FullPath(const std::string& path) {
  char full[MAX_PATH] = "";
  ::GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  return full;
}

std::string ControlModulePath() { return FullPath(TestFilePath("..\\OrvexInstaller.dll")); }

DWORD RunProgram(const std::string& commandLine) {
  std::string line = commandLine;
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return 0xFFFFFFFF;
  }
  ::WaitForSingleObject(process.hProcess, 60000);
  DWORD exitCode = 0xFFFFFFFE;
  ::GetExitCodeProcess(process.hProcess, &exitCode);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return exitCode;
}

DWORD RegisterControlModule() { return RunProgram("regsvr32.exe /s \"" + ControlModulePath() + "\""); }

DWORD UnregisterControlModule() { return RunProgram("regsvr32.exe /s /u \"" + ControlModulePath() + "\""); }

}  // namespace orvex::test
