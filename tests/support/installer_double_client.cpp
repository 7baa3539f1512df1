#include "installer_double_client.h"

#include <cstring>
#include <vector>

#include "test_registry.h"

namespace orvex::test {

void UseDouble(const std::string& rendezvousName, DoubleMode mode) {
  WriteDword(DoubleRecordKeyPath(rendezvousName), kModeValue, static_cast<DWORD>(mode));
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
  record.hasBlock =
      ReadRegistryValue(HKEY_CURRENT_USER, key, kBlockValue, &block) && block.size() == sizeof(RendezvousBlock);
  if (record.hasBlock) std::memcpy(&record.block, block.data(), sizeof(RendezvousBlock));
  return true;
}

DoubleHold::DoubleHold(const std::string& rendezvousName)
    : held_(::CreateEventA(nullptr, TRUE, FALSE, DoubleHeldEventName(rendezvousName).c_str())),
      go_(::CreateEventA(nullptr, TRUE, FALSE, DoubleGoEventName(rendezvousName).c_str())) {}

DoubleHold::~DoubleHold() {
  LetGo();
  ::CloseHandle(held_);
  ::CloseHandle(go_);
}

}  // namespace orvex::test
