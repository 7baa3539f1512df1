#include "installer_double_protocol.h"

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

bool WriteString(const std::string& keyPath, const char* value, const std::string& text) {
  const auto size = static_cast<DWORD>(text.size() + 1);
  return WriteRegistryValue(HKEY_CURRENT_USER, keyPath, value, REG_SZ, text.c_str(), size);
}

bool WriteDword(const std::string& keyPath, const char* value, DWORD data) {
  return WriteRegistryValue(HKEY_CURRENT_USER, keyPath, value, REG_DWORD, &data, sizeof(data));
}

bool ReadString(const std::string& keyPath, const char* value, std::string& text) {
  std::vector<unsigned char> data;
  if (!ReadRegistryValue(HKEY_CURRENT_USER, keyPath, value, &data)) return false;
  const auto* chars = reinterpret_cast<const char*>(data.data());
  text.assign(chars, ::strnlen(chars, data.size()));
  return true;
}

bool ReadDword(const std::string& keyPath, const char* value, DWORD& data) {
  std::vector<unsigned char> bytes;
  if (!ReadRegistryValue(HKEY_CURRENT_USER, keyPath, value, &bytes) || bytes.size() != sizeof(DWORD)) return false;
  std::memcpy(&data, bytes.data(), sizeof(DWORD));
  return true;
}

}  // namespace orvex::test
