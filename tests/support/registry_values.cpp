#include "registry_values.h"

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

}  // namespace orvex::test
