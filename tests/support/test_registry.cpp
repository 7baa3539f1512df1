#include "test_registry.h"

#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace orvex::test {

bool WriteRegistryValue(HKEY root, const std::string& keyPath, const char* value, DWORD type, const void* data,
                        DWORD size) {
  HKEY key = nullptr;
  if (::RegCreateKeyExA(root, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const LONG status = ::RegSetValueExA(key, value, 0, type, static_cast<const BYTE*>(data), size);
  ::RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

bool ReadRegistryValue(HKEY root, const std::string& keyPath, const char* value, std::vector<unsigned char>* data) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  LONG status = ::RegQueryValueExA(key, value, nullptr, nullptr, nullptr, &size);
  if (status == ERROR_SUCCESS && data != nullptr) {
    data->assign(size, 0);
    status = ::RegQueryValueExA(key, value, nullptr, nullptr, data->data(), &size);
    data->resize(size);
  }
  ::RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

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

bool SetInstalledVersion(const std::string& product, PackedVersion version, DWORD size) {
  return WriteRegistryValue(HKEY_LOCAL_MACHINE, MakerKeyPath(product), "Version", REG_BINARY, &version, size);
}

bool SetNextUpdateTime(const std::string& product, ULONGLONG fileTime) {
  return WriteRegistryValue(HKEY_LOCAL_MACHINE, DownloadsKeyPath(product), "NextUpdateTime", REG_BINARY, &fileTime,
                            sizeof(fileTime));
}

ULONGLONG NowAsFileTime() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

bool RegisterViewerModule(const std::string& clsid, const std::string& modulePath) {
  return WriteRegistryValue(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\InprocServer32", nullptr, REG_SZ,
                            modulePath.c_str(), static_cast<DWORD>(modulePath.size() + 1));
}

void ForgetDoubleRecord(const std::string& rendezvousName) {
  ::RegDeleteTreeA(HKEY_CURRENT_USER, DoubleRecordKeyPath(rendezvousName).c_str());
}

void ForgetProduct(const std::string& product) {
  // The empty name's keys are the maker's key and its Downloads key
  // themselves, which other tests' products live under.
  if (!product.empty()) {
    DeleteMachineKey(MakerKeyPath(product));
    DeleteMachineKey(DownloadsKeyPath(product));
  }
  ForgetDoubleRecord(product);
}

std::string TestFilePath(const char* fileName) {
  char path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string directory(path, length);
  const std::string::size_type slash = directory.find_last_of("\\/");
  directory.resize(slash == std::string::npos ? 0 : slash + 1);
  return directory + fileName;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  return static_cast<bool>(std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes);
}

std::string ReadFileBytes(const std::string& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

// The installer double's record and hold.

namespace {
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
}  // namespace

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

DoubleRecord ReadDoubleRecord(const std::string& rendezvousName) {
  const std::string key = DoubleRecordKeyPath(rendezvousName);
  DoubleRecord record;
  if (!ReadDword(key, kRunsValue, record.runs)) return record;
  ReadString(key, kCommandLineValue, record.commandLine);
  ReadString(key, kArgumentValue, record.argument);
  ReadDword(key, kPidValue, record.pid);
  std::vector<unsigned char> block;
  if (ReadRegistryValue(HKEY_CURRENT_USER, key, kBlockValue, &block) && block.size() == sizeof(RendezvousBlock)) {
    std::memcpy(&record.block, block.data(), sizeof(RendezvousBlock));
  }
  return record;
}

DoubleHold::DoubleHold(const std::string& rendezvousName)
    : held_(::CreateEventA(nullptr, TRUE, FALSE, DoubleHeldEventName(rendezvousName).c_str())),
      go_(::CreateEventA(nullptr, TRUE, FALSE, DoubleGoEventName(rendezvousName).c_str())) {}

}  // namespace orvex::test
