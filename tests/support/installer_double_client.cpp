#include "installer_double_client.h"

#include <cstring>

namespace orvex::test {

void UseDouble(const std::string& rendezvousName, DoubleMode mode) {
  WriteString(DoubleRecordKeyPath(rendezvousName), kModeValue, ModeText(mode));
}

bool ReadDoubleRecord(const std::string& rendezvousName, DoubleRecord& record) {
  const std::string key = DoubleRecordKeyPath(rendezvousName);
  record = DoubleRecord{};
  if (!ReadDword(key, kRunsValue, record.runs)) return false;
  ReadString(key, kCommandLineValue, record.commandLine);
  ReadString(key, kArgumentValue, record.argument);
  ReadDword(key, kPidValue, record.pid);
  DWORD opened = 0;
  record.opened = ReadDword(key, kOpenedValue, opened) && opened == 1;
  std::vector<unsigned char> block;
  if (ReadBinary(key, kBlockValue, block) && block.size() == sizeof(RendezvousBlock)) {
    std::memcpy(&record.block, block.data(), sizeof(RendezvousBlock));
    record.hasBlock = true;
  }
  return true;
}

DoubleHold::DoubleHold(const std::string& rendezvousName)
    : held_(::CreateEventA(nullptr, TRUE, FALSE, DoubleHeldEventName(rendezvousName).c_str())),
      go_(::CreateEventA(nullptr, TRUE, FALSE, DoubleGoEventName(rendezvousName).c_str())) {}

DoubleHold::~DoubleHold() {
  LetGo();
  if (held_ != nullptr) ::CloseHandle(held_);
  if (go_ != nullptr) ::CloseHandle(go_);
}

bool DoubleHold::WaitHeld(DWORD timeoutMs) const {
  return held_ != nullptr && ::WaitForSingleObject(held_, timeoutMs) == WAIT_OBJECT_0;
}

void DoubleHold::LetGo() const {
  if (go_ != nullptr) ::SetEvent(go_);
}

}  // namespace orvex::test
