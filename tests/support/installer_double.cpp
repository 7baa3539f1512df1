// Stands in for OrvexInstaller.exe in the prefix's Windows directory. It plays
// the installer's side of the rendezvous the way the test chose for this
// rendezvous name, and records what it got and saw.
#include <windows.h>

#include <cstring>
#include <string>

#include "object_names.h"
#include "rendezvous_block.h"
#include "test_registry.h"
#include "win_handles.h"

using namespace orvex;
using namespace orvex::test;

namespace {

// The rendezvous's mapping, or one of its events; null when missing.
HANDLE OpenObject(const char* prefix, const std::string& name, bool mapping = false) {
  char objectName[kObjectNameSize];
  if (!BuildObjectName(prefix, name.c_str(), objectName, sizeof(objectName))) return nullptr;
  if (mapping) return ::OpenFileMappingA(FILE_MAP_READ, FALSE, objectName);
  return ::OpenEventA(EVENT_ALL_ACCESS, FALSE, objectName);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const char* commandLine = ::GetCommandLineA();
  // "<program> <rendezvous name>": the program's path (in C:\windows) has no
  // blank, the name is everything after the first one.
  const char* blank = std::strchr(commandLine, ' ');
  const std::string name = blank != nullptr ? blank + 1 : "";
  const std::string record = DoubleRecordKeyPath(name);
  DWORD runs = 0;
  ReadDword(record, kRunsValue, runs);
  WriteDword(record, kRunsValue, runs + 1);
  WriteString(record, kCommandLineValue, commandLine);
  WriteString(record, kArgumentValue, name);
  WriteDword(record, kPidValue, ::GetCurrentProcessId());
  DWORD chosen = 0;
  ReadDword(record, kModeValue, chosen);
  const auto mode = static_cast<DoubleMode>(chosen);

  UniqueHandle mapping(OpenObject(kInfoPrefix, name, true));
  MappedView view(mapping ? ::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, kRendezvousBlockSize) : nullptr);
  const UniqueHandle installing(OpenObject(kInstallingPrefix, name));
  const UniqueHandle sync(OpenObject(kSyncPrefix, name));
  const bool opened = view && installing && sync;
  const bool acknowledges = opened && mode != DoubleMode::kHangBeforeAcknowledge;
  if (opened) {
    WriteRegistryValue(HKEY_CURRENT_USER, record, kBlockValue, REG_BINARY, view.Get(), kRendezvousBlockSize);
    if (acknowledges) ::SetEvent(sync.Get());
    if (mode != DoubleMode::kRelease) {
      // Says "held" and waits for "go"; bounded, so that a test that failed
      // before letting go leaves no orphan.
      const UniqueHandle held(::CreateEventA(nullptr, TRUE, FALSE, DoubleHeldEventName(name).c_str()));
      const UniqueHandle go(::CreateEventA(nullptr, TRUE, FALSE, DoubleGoEventName(name).c_str()));
      ::SetEvent(held.Get());
      ::WaitForSingleObject(go.Get(), 120000);
    }
  }
  view.Reset();  // the mapping goes before the release, as the installer's does
  mapping.Reset();
  if (acknowledges) ::SetEvent(installing.Get());
  return 0;
}
