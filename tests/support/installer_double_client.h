// The installer double (installer_double.cpp stands in for OrvexInstaller.exe)
// and the test's side of it. Per rendezvous name, a key under HKCU holds the
// behaviour the test chose and what the double saw, and two named events let a
// test hold the double after it opened the rendezvous. Rendezvous names are
// case-sensitive but key names are not: keys and events carry the name in hex.
#pragma once

#include <windows.h>

#include <string>

#include "rendezvous_block.h"

namespace orvex::test {

enum class DoubleMode : DWORD {
  kRelease,                // acknowledge on "sync_" and release "installing_" at once
  kHold,                   // acknowledge, signal "held", wait for "go", then release
  kNoAcknowledge,          // end at once without opening anything
  kHangBeforeAcknowledge,  // open everything, signal "held", wait for "go", end without acknowledging
};

std::string HexName(const std::string& rendezvousName);
std::string DoubleRecordKeyPath(const std::string& rendezvousName);  // under HKCU
std::string DoubleHeldEventName(const std::string& rendezvousName);
std::string DoubleGoEventName(const std::string& rendezvousName);

// Registry value names of the record.
constexpr char kModeValue[] = "Mode";  // DWORD, a DoubleMode
constexpr char kRunsValue[] = "Runs";
constexpr char kCommandLineValue[] = "CommandLine";
constexpr char kArgumentValue[] = "Argument";
constexpr char kPidValue[] = "Pid";
constexpr char kBlockValue[] = "Block";
constexpr char kOpenedValue[] = "Opened";  // DWORD: 1 when the mapping and both events opened

void UseDouble(const std::string& rendezvousName, DoubleMode mode);

struct DoubleRecord {
  DWORD runs = 0;
  std::string commandLine;
  std::string argument;
  DWORD pid = 0;
  bool opened = false;
  RendezvousBlock block = {};  // as the double read it; zeroed when it opened nothing
};

// False when the double never ran for this name.
bool ReadDoubleRecord(const std::string& rendezvousName, DoubleRecord& record);

// For kHold and kHangBeforeAcknowledge: the events through which the double
// says it holds the rendezvous and the test lets it go. Created before the
// check starts; lets go when destroyed.
class DoubleHold {
 public:
  explicit DoubleHold(const std::string& rendezvousName);
  ~DoubleHold();
  DoubleHold(const DoubleHold&) = delete;
  DoubleHold& operator=(const DoubleHold&) = delete;

  bool WaitHeld(DWORD timeoutMs) const { return ::WaitForSingleObject(held_, timeoutMs) == WAIT_OBJECT_0; }
  void LetGo() const { ::SetEvent(go_); }

 private:
  HANDLE held_;
  HANDLE go_;
};

}  // namespace orvex::test
