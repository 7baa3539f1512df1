// Stands in for OrvexInstaller.exe in the prefix's Windows directory. It plays
// the installer's side of the rendezvous the way the test chose for this
// rendezvous name, and records what it got and saw.
#include <windows.h>

#include <string>

#include "installer_double_protocol.h"
#include "object_names.h"
#include "rendezvous_block.h"

using namespace orvex;
using namespace orvex::test;

namespace {

// The command line is "<program> <rendezvous name>": the name is everything
// after the program token and the one blank that follows it.
std::string ArgumentOf(const char* commandLine) {
  const char* p = commandLine;
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
  }
  if (*p == ' ' || *p == '\t') ++p;
  return p;
}

// Signals "held" and waits for "go"; bounded, so that a test that failed
// before letting go leaves no orphan.
void HoldUntilLetGo(const std::string& name) {
  HANDLE held = ::CreateEventA(nullptr, TRUE, FALSE, DoubleHeldEventName(name).c_str());
  HANDLE go = ::CreateEventA(nullptr, TRUE, FALSE, DoubleGoEventName(name).c_str());
  if (held) ::SetEvent(held);
  if (go) ::WaitForSingleObject(go, 120000);
  if (go) ::CloseHandle(go);
  if (held) ::CloseHandle(held);
}

LONG WINAPI EndWithoutDebugger(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

HANDLE OpenEventByName(const char* prefix, const std::string& name) {
  char objectName[kObjectNameSize];
  if (!BuildObjectName(prefix, name.c_str(), objectName, sizeof(objectName))) return nullptr;
  return ::OpenEventA(EVENT_ALL_ACCESS, FALSE, objectName);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const char* commandLine = ::GetCommandLineA();
  const std::string name = ArgumentOf(commandLine);
  const std::string record = DoubleRecordKeyPath(name);

  DWORD runs = 0;
  ReadDword(record, kRunsValue, runs);
  WriteDword(record, kRunsValue, runs + 1);
  WriteString(record, kCommandLineValue, commandLine);
  WriteString(record, kArgumentValue, name);
  WriteDword(record, kPidValue, ::GetCurrentProcessId());

  std::string modeText;
  ReadString(record, kModeValue, modeText);
  const DoubleMode mode = ModeFromText(modeText);
  if (mode == DoubleMode::kNoAcknowledge) return 0;

  char objectName[kObjectNameSize];
  HANDLE mapping = nullptr;
  if (BuildObjectName(kInfoPrefix, name.c_str(), objectName, sizeof(objectName))) {
    mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, objectName);
  }
  void* view = mapping ? ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kRendezvousBlockSize) : nullptr;
  HANDLE installing = view ? OpenEventByName(kInstallingPrefix, name) : nullptr;
  HANDLE sync = installing ? OpenEventByName(kSyncPrefix, name) : nullptr;
  if (sync == nullptr) {
    WriteDword(record, kOpenedValue, 0);
    if (installing) ::CloseHandle(installing);
    if (view) ::UnmapViewOfFile(view);
    if (mapping) ::CloseHandle(mapping);
    return 0;
  }
  WriteDword(record, kOpenedValue, 1);
  WriteBinary(record, kBlockValue, view, kRendezvousBlockSize);
  if (mode == DoubleMode::kHangBeforeAcknowledge) {
    HoldUntilLetGo(name);
    ::UnmapViewOfFile(view);
    ::CloseHandle(mapping);
    ::CloseHandle(installing);
    ::CloseHandle(sync);
    return 0;
  }
  ::SetEvent(sync);

  if (mode == DoubleMode::kCrashAfterAcknowledge) {
    ::SetUnhandledExceptionFilter(EndWithoutDebugger);
    ::RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  }
  if (mode == DoubleMode::kHold) HoldUntilLetGo(name);

  ::UnmapViewOfFile(view);
  ::CloseHandle(mapping);
  ::SetEvent(installing);
  ::CloseHandle(installing);
  ::CloseHandle(sync);
  return 0;
}
