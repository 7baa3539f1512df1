#include "reliability_support.h"

#include <tlhelp32.h>

#include <algorithm>

#include "object_names.h"

namespace orvex::test {

ChildProcess::ChildProcess(const std::string& commandLine) {
  std::string line = commandLine;
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ::CloseHandle(process.hThread);
    process_ = process.hProcess;
    pid_ = process.dwProcessId;
  }
}

ChildProcess::~ChildProcess() {
  if (process_ == nullptr) return;
  if (::WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
    ::TerminateProcess(process_, 1);
    ::WaitForSingleObject(process_, 10000);
  }
  ::CloseHandle(process_);
}

DWORD ChildProcess::Wait(DWORD timeoutMs) const {
  if (process_ == nullptr || ::WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  ::GetExitCodeProcess(process_, &code);
  return code;
}

PlayedRendezvous::PlayedRendezvous(const std::string& name, bool withMapping, bool withSync)
    : mapping(withMapping ? ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kRendezvousBlockSize,
                                                 (kInfoPrefix + name).c_str())
                          : nullptr),
      installing(::CreateEventA(nullptr, TRUE, FALSE, (kInstallingPrefix + name).c_str())),
      sync(withSync ? ::CreateEventA(nullptr, TRUE, FALSE, (kSyncPrefix + name).c_str()) : nullptr),
      view_(mapping ? ::MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, kRendezvousBlockSize) : nullptr) {}

bool WaitRendezvousGone(const std::string& name, DWORD timeoutMs) {
  return WaitUntil(
      [&] {
        if (UniqueHandle(::OpenFileMappingA(FILE_MAP_READ, FALSE, (kInfoPrefix + name).c_str()))) return false;
        for (const char* prefix : {kInstallingPrefix, kSyncPrefix}) {
          if (UniqueHandle(::OpenEventA(SYNCHRONIZE, FALSE, (prefix + name).c_str()))) return false;
        }
        return !UniqueHandle(::OpenMutexA(SYNCHRONIZE, FALSE, (kLeaderPrefix + name).c_str())).Valid();
      },
      timeoutMs);
}

std::vector<DWORD> ChildProcesses(const char* exeName, const std::vector<DWORD>& parents) {
  std::vector<DWORD> found;
  const UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return found;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32First(snapshot.Get(), &entry); more; more = ::Process32Next(snapshot.Get(), &entry)) {
    if (::lstrcmpiA(entry.szExeFile, exeName) == 0 &&
        std::find(parents.begin(), parents.end(), entry.th32ParentProcessID) != parents.end()) {
      found.push_back(entry.th32ProcessID);
    }
  }
  return found;
}

bool KillProcess(DWORD pid) {
  const UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
  return process && ::TerminateProcess(process.Get(), 9) &&
         ::WaitForSingleObject(process.Get(), 20000) == WAIT_OBJECT_0;
}

}  // namespace orvex::test
