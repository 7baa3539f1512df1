#include "installer_double_client.h"

#include <cstring>
#include <vector>

#include "test_registry.h"

namespace orvex::test {

std::string HexName(const std::string& rendezvousName) {
  static const char digits[] = "0123456789abcdef";
  std::string hex = "n";
  for (const char ch : rendezvousName) {
    const auto c = static_cast<unsigned char>(ch);
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

std::string DoubleRecordKeyPath(const std::string& rendezvousName) {
  return "Software\\OrvexTests\\InstallerDouble\\" + HexName(rendezvousName);
}

std::string DoubleHeldEventName(const std::string& rendezvousName) {
  return "orvextest_held_" + HexName(rendezvousName);
}

std::string DoubleGoEventName(const std::string& rendezvousName) { return "orvextest_go_" + HexName(rendezvousName); }

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
  if (ReadRegistryValue(HKEY_CURRENT_USER, key, kBlockValue, &block) && block.size() == sizeof(RendezvousBlock)) {
    std::memcpy(&record.block, block.data(), sizeof(RendezvousBlock));
  }
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
