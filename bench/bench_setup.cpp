#include "bench_setup.h"

#include <tlhelp32.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "object_names.h"
#include "registry_paths.h"

namespace orvex::bench {

namespace {

constexpr DWORD kCheckCreationFlags = CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS;
constexpr DWORD kPollMs = 2;

bool WriteValue(const std::string& keyPath, const char* value, const void* data, DWORD size) {
  HKEY key = nullptr;
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const bool written =
      ::RegSetValueExA(key, value, 0, REG_BINARY, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
  ::RegCloseKey(key);
  return written;
}

}  // namespace

std::string MakerKeyPath(const std::string& product) { return std::string(kMakerKey) + product; }

std::string DownloadsKeyPath(const std::string& product) {
  return std::string(kMakerKey) + kDownloadsSubkey + product;
}

void ForgetProduct(const std::string& product) {
  ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, DownloadsKeyPath(product).c_str());
  ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, DownloadsKeyPath(product).c_str());
  ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, MakerKeyPath(product).c_str());
  ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, MakerKeyPath(product).c_str());
}

bool SetInstalledVersion(const std::string& product, PackedVersion version) {
  return WriteValue(MakerKeyPath(product), kVersionValue, &version, sizeof(version));
}

bool SetNextUpdateTime(const std::string& product, ULONGLONG fileTime) {
  const DWORD halves[2] = {static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
  return WriteValue(DownloadsKeyPath(product), kNextUpdateTimeValue, halves, sizeof(halves));
}

bool ReadNextUpdateTime(const std::string& product, ULONGLONG& fileTime) {
  DWORD halves[2] = {};
  DWORD size = sizeof(halves);
  if (::RegGetValueA(HKEY_LOCAL_MACHINE, DownloadsKeyPath(product).c_str(), kNextUpdateTimeValue, RRF_RT_ANY,
                     nullptr, halves, &size) != ERROR_SUCCESS ||
      size != sizeof(halves)) {
    return false;
  }
  fileTime = (static_cast<ULONGLONG>(halves[1]) << 32) | halves[0];
  return true;
}

void DeleteNextUpdateTime(const std::string& product) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, DownloadsKeyPath(product).c_str(), 0, KEY_SET_VALUE, &key) !=
      ERROR_SUCCESS) {
    return;
  }
  ::RegDeleteValueA(key, kNextUpdateTimeValue);
  ::RegCloseKey(key);
}

ULONGLONG NowAsFileTime() {
  FILETIME now = {};
  ::GetSystemTimeAsFileTime(&now);
  return (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

std::string DownloadsFolder() {
  char programFiles[MAX_PATH] = "";
  const DWORD length = ::ExpandEnvironmentStringsA("%ProgramFiles%", programFiles, MAX_PATH);
  if (length == 0 || length > MAX_PATH) return "C:\\Program Files\\Brindlewood\\Downloads";
  return std::string(programFiles) + "\\Brindlewood\\Downloads";
}

std::string Lowercase(std::string text) {
  if (!text.empty()) ::CharLowerBuffA(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

std::string ProgramFolder() {
  char path[MAX_PATH] = "";
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return ".";
  std::string folder(path, length);
  const std::size_t slash = folder.find_last_of("\\/");
  return slash == std::string::npos ? "." : folder.substr(0, slash);
}

std::string WindowsFolder() {
  char path[MAX_PATH] = "";
  const UINT length = ::GetWindowsDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return "C:\\windows";
  return std::string(path, length);
}

HANDLE OpenChildProcess(const char* fileName, DWORD access) {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
  const DWORD self = ::GetCurrentProcessId();
  HANDLE found = nullptr;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32First(snapshot, &entry); more && found == nullptr;
       more = ::Process32Next(snapshot, &entry)) {
    if (entry.th32ParentProcessID == self && ::lstrcmpiA(entry.szExeFile, fileName) == 0) {
      found = ::OpenProcess(access, FALSE, entry.th32ProcessID);
    }
  }
  ::CloseHandle(snapshot);
  return found;
}

bool WaitForRendezvousEnd(HANDLE installingEvent, const std::string& name, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  if (::WaitForSingleObject(installingEvent, timeoutMs) != WAIT_OBJECT_0) return false;
  const std::string syncName = std::string(kSyncPrefix) + name;
  while (::GetTickCount() - start < timeoutMs) {
    HANDLE sync = ::OpenEventA(SYNCHRONIZE, FALSE, syncName.c_str());
    if (sync == nullptr) return true;
    ::CloseHandle(sync);
    ::Sleep(kPollMs);
  }
  return false;
}

bool StartProgram(const std::string& commandLine, HANDLE& process) {
  std::string line = commandLine;
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, kCheckCreationFlags, nullptr, nullptr,
                        &startup, &started)) {
    return false;
  }
  ::CloseHandle(started.hThread);
  process = started.hProcess;
  return true;
}

void Report(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace orvex::bench
