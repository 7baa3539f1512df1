// The test's side of the installer double: choose its behaviour for a
// rendezvous name, hold and release it, and read what it recorded.
#pragma once

#include <windows.h>

#include <string>

#include "installer_double_protocol.h"
#include "rendezvous_block.h"

namespace orvex::test {

void UseDouble(const std::string& rendezvousName, DoubleMode mode);

struct DoubleRecord {
  DWORD runs = 0;
  std::string commandLine;
  std::string argument;
  DWORD pid = 0;
  bool opened = false;
  bool hasBlock = false;
  RendezvousBlock block = {};
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
