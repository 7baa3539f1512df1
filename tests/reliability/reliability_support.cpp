#include "reliability_support.h"

#include <tlhelp32.h>

#include <algorithm>
#include <sstream>

#include "object_names.h"

namespace orvex::test {

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

PageHostProcess::PageHostProcess(const std::string& name, const std::string& page, DWORD closeAfterMs,
                                 const std::string& options) {
  char temp[MAX_PATH] = "";
  ::GetTempPathA(MAX_PATH, temp);
  pagePath_ = std::string(temp) + "orvex_" + name + ".html";
  logPath_ = std::string(temp) + "orvex_" + name + ".log";
  ::DeleteFileA(logPath_.c_str());
  if (!WriteFileBytes(pagePath_, page)) return;
  const std::string close = closeAfterMs == INFINITE ? "" : "--close-after " + std::to_string(closeAfterMs) + " ";
  host_ = std::make_unique<ChildProcess>("\"" + FullPath(TestFilePath("..\\OrvexPageHost.exe")) + "\" --log \"" +
                                         logPath_ + "\" " + close + options + " \"" + pagePath_ + "\"");
}

PageHostProcess::~PageHostProcess() {
  host_.reset();  // ends a host that still runs
  ::DeleteFileA(pagePath_.c_str());
  ::DeleteFileA(logPath_.c_str());
}

bool HasLinesInOrder(const std::string& text, const std::vector<std::string>& lines) {
  std::istringstream log(text);
  std::size_t next = 0;
  for (std::string line; std::getline(log, line);) {
    if (next < lines.size() && line == lines[next]) ++next;
  }
  return next == lines.size();
}

}  // namespace orvex::test
