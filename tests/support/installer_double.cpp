// Stands in for OrvexInstaller.exe in the prefix's Windows directory. It plays
// the installer's side of the rendezvous the way the test chose for this
// rendezvous name, and records what it got and saw.
#include <windows.h>

#include <string>

#include "installer_double_client.h"
#include "object_names.h"
#include "rendezvous_block.h"
#include "test_registry.h"
#include "win_handles.h"

using namespace orvex;
using namespace orvex::test;

namespace {

// The command line is "<program> <rendezvous name>": the name is everything
// after the program token and the one blank that follows it.
std::string ArgumentOf(const char* p) {
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
  const std::string name = ArgumentOf(commandLine);
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
  if (mode == DoubleMode::kNoAcknowledge) return 0;

  UniqueHandle mapping(OpenObject(kInfoPrefix, name, true));
  MappedView view(mapping ? ::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, kRendezvousBlockSize) : nullptr);
  const UniqueHandle installing(OpenObject(kInstallingPrefix, name));
  const UniqueHandle sync(OpenObject(kSyncPrefix, name));
  const bool opened = view && installing && sync;
  WriteDword(record, kOpenedValue, opened ? 1 : 0);
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
