#include "downloads_folder.h"

#include <windows.h>

#include <cstring>

#include "bounded_text.h"
#include "win_handles.h"

namespace orvex {

namespace {
constexpr char kCurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr char kProgramFilesValue[] = "ProgramFilesDir";
constexpr char kProgramFilesFallback[] = "C:\\Program Files";

// The Program Files folder from the registry, or the fallback.
void ReadProgramFiles(char* path, std::size_t size) {
  RegKey key;
  DWORD type = 0;
  DWORD length = static_cast<DWORD>(size - 1);
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersionKey, 0, nullptr, 0, KEY_QUERY_VALUE, nullptr,
                        key.Receive(), nullptr) != ERROR_SUCCESS ||
      ::RegQueryValueExA(key.Get(), kProgramFilesValue, nullptr, &type, reinterpret_cast<BYTE*>(path), &length) !=
          ERROR_SUCCESS) {
    CopyText(path, size, kProgramFilesFallback);
    return;
  }
  path[length] = '\0';  // a value stored without its NUL is still ended
  if (type == REG_EXPAND_SZ && !ExpandInPlace(path, size)) CopyText(path, size, kProgramFilesFallback);
}
}  // namespace

bool ExpandInPlace(char* buffer, std::size_t size) {
  const DWORD needed = ::ExpandEnvironmentStringsA(buffer, nullptr, 0);
  if (needed == 0 || needed > size) return false;
  HeapBlock expanded(needed);
  if (!expanded) return false;
  auto* text = static_cast<char*>(expanded.Get());
  if (::ExpandEnvironmentStringsA(buffer, text, needed) == 0) return false;
  return CopyText(buffer, size, text);
}

bool PreparePackagePath(char* path, std::size_t size, const char* fileName) {
  ReadProgramFiles(path, size);
  ::CreateDirectoryA(path, nullptr);
  if (!AppendText(path, size, "\\Brindlewood")) return false;
  ::CreateDirectoryA(path, nullptr);
  if (!AppendText(path, size, "\\Downloads")) return false;
  ::CreateDirectoryA(path, nullptr);
  return AppendText(path, size, "\\") && AppendText(path, size, fileName);
}

}  // namespace orvex
