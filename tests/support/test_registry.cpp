#include "test_registry.h"

#include "installer_double_protocol.h"

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

std::string MakerKeyPath(const std::string& product) { return "SOFTWARE\\Brindlewood\\" + product; }

std::string DownloadsKeyPath(const std::string& product) { return "SOFTWARE\\Brindlewood\\Downloads\\" + product; }

bool ReadMachineValue(const std::string& keyPath, const char* value, std::vector<unsigned char>* data) {
  return ReadRegistryValue(HKEY_LOCAL_MACHINE, keyPath, value, data);
}

void DeleteMachineKey(const std::string& keyPath) { ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, keyPath.c_str()); }

bool SetInstalledVersion(const std::string& product, PackedVersion version, DWORD size) {
  return WriteRegistryValue(HKEY_LOCAL_MACHINE, MakerKeyPath(product), "Version", REG_BINARY, &version, size);
}

bool SetNextUpdateTime(const std::string& product, ULONGLONG fileTime) {
  return WriteRegistryValue(HKEY_LOCAL_MACHINE, DownloadsKeyPath(product), "NextUpdateTime", REG_BINARY, &fileTime,
                            sizeof(fileTime));
}

bool HasNextUpdateTime(const std::string& product) {
  return ReadMachineValue(DownloadsKeyPath(product), "NextUpdateTime", nullptr);
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

void UnregisterViewerModule(const std::string& clsid) { ::RegDeleteTreeA(HKEY_CLASSES_ROOT, ("CLSID\\" + clsid).c_str()); }

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

}  // namespace orvex::test
