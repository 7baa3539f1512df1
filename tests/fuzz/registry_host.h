// The platform calls the registry script interpreter makes, for its native fuzz
// build only: the registry as an in-memory map that aborts on a key handle
// used or closed when not open, a key named by the empty name (its parent
// itself) or by a path, or a text value without its zero; a double-byte code
// page; the task allocator; a module file with its script resource.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fuzz_host.h"

// The only failure the platform reports by its last error: a buffer too small.
DWORD WINAPI GetLastError() { return ERROR_INSUFFICIENT_BUFFER; }

// The C heap, so that the sanitizers see every block.
LPVOID WINAPI CoTaskMemAlloc(SIZE_T bytes) { return ledger::Allow(bytes) ? std::malloc(bytes) : nullptr; }
LPVOID WINAPI CoTaskMemRealloc(LPVOID block, SIZE_T bytes) {
  return ledger::Allow(bytes) ? std::realloc(block, bytes == 0 ? 1 : bytes) : nullptr;
}
void WINAPI CoTaskMemFree(LPVOID block) { std::free(block); }

// The process code page: double-byte, lead bytes 0x81-0x9F and 0xE0-0xFC. A
// lead byte and its trail byte are the wide character (lead << 8 | trail).
LPSTR WINAPI CharNextA(LPCSTR p) {
  const auto c = static_cast<BYTE>(*p);
  const bool pair = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && p[1] != '\0';
  return const_cast<LPSTR>(*p == '\0' ? p : p + (pair ? 2 : 1));
}

INT WINAPI lstrlenW(LPCWSTR text) {
  INT length = 0;
  while (text[length] != L'\0') ++length;
  return length;
}

// Both conversions are asked only for terminated texts and either succeed or
// fail for a buffer too small. Bytes widen one by one; a wide character above
// 0xFF becomes its two bytes (the substitutions' double-byte characters).
template <typename Out>
int HostConverted(const std::vector<Out>& converted, Out* out, int capacity, INT length) {
  Check(length == -1, "a conversion is only asked for terminated texts");
  const auto needed = static_cast<int>(converted.size());
  if (out == nullptr || capacity == 0) return needed;
  if (capacity < needed) return 0;
  std::copy(converted.begin(), converted.end(), out);
  return needed;
}

INT WINAPI MultiByteToWideChar(UINT, DWORD, LPCSTR text, INT length, LPWSTR out, INT capacity) {
  const auto* bytes = reinterpret_cast<const BYTE*>(text);
  return HostConverted(std::vector<WCHAR>(bytes, bytes + std::strlen(text) + 1), out, capacity, length);
}

INT WINAPI WideCharToMultiByte(UINT, DWORD, LPCWSTR text, INT length, LPSTR out, INT capacity, LPCSTR, LPBOOL) {
  std::vector<char> bytes;
  for (const WCHAR* p = text;; ++p) {
    if (*p > 0xFF) bytes.push_back(static_cast<char>(*p >> 8));
    bytes.push_back(static_cast<char>(*p & 0xFF));
    if (*p == 0) return HostConverted(bytes, out, capacity, length);
  }
}

// Unsigned decimal digits that fit 32 bits convert; anything else does not.
HRESULT WINAPI VarUI4FromStr(const OLECHAR* text, LCID, ULONG, ULONG* out) {
  ULONGLONG number = 0;
  for (const OLECHAR* p = text; *p != L'\0'; ++p) {
    if (*p < L'0' || *p > L'9' || (number = number * 10 + static_cast<ULONGLONG>(*p - L'0')) > 0xFFFFFFFFu) {
      return DISP_E_TYPEMISMATCH;
    }
  }
  if (*text == L'\0') return DISP_E_TYPEMISMATCH;
  *out = static_cast<ULONG>(number);
  return S_OK;
}

// ---------------------------------------------------------------------------
// The registry: one map of keys by path (the root's number, then each name in
// lower case, as keys are named without regard to case; joined by NULs, which
// no name holds) to the key's values by lowered name, each as type and data.

namespace host_registry {

using Values = std::map<std::string, std::string>;
std::map<std::string, Values> keys;
std::set<const std::string*> openHandles;  // a handle is its key's path
std::set<std::string> deleted;             // every key deleted since Reset

void Reset() {
  Check(openHandles.empty(), "every key handle is closed after a run");
  keys.clear();
  deleted.clear();
}

std::string Lower(std::string text) {
  for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return text;
}

// The path of name below path.
std::string Child(const std::string& path, const char* name) {
  Check(name != nullptr && *name != '\0', "a key named by the empty name (its parent itself)");
  for (const char* p = name; *p != '\0'; p = CharNextA(p)) Check(*p != '\\', "a key name with a path separator");
  return path + '\0' + Lower(name);
}

// The path of the key a handle names; the interpreter only closes a handle
// once its key is deleted.
std::string PathOf(HKEY handle) {
  const auto root = reinterpret_cast<ULONG_PTR>(handle) - reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT);
  if (root < 7) return std::to_string(root);  // HKEY_CLASSES_ROOT up to HKEY_DYN_DATA
  const auto* path = reinterpret_cast<const std::string*>(handle);
  Check(openHandles.count(path) != 0, "a key handle used that is not open");
  Check(keys.count(*path) != 0, "a key handle used after its key was deleted");
  return *path;
}

// The first key below path, or keys.end().
std::map<std::string, Values>::iterator FirstSubkey(const std::string& path) {
  const std::string prefix = path + '\0';
  const auto found = keys.lower_bound(prefix);
  return found != keys.end() && found->first.compare(0, prefix.size(), prefix) == 0 ? found : keys.end();
}

// Whether the registry holds no key and no value.
bool Empty() {
  return std::all_of(keys.begin(), keys.end(),
                     [](const auto& key) { return key.first.find('\0') == std::string::npos && key.second.empty(); });
}

}  // namespace host_registry

// Opens name below parent, creating it when missing (a name of at most 255 bytes).
LSTATUS WINAPI RegCreateKeyExA(HKEY parent, LPCSTR name, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY out,
                               LPDWORD) {
  const std::string path = host_registry::Child(host_registry::PathOf(parent), name);
  if (std::strlen(name) > 255) return ERROR_INVALID_PARAMETER;
  host_registry::keys[path];
  auto* handle = new std::string(path);
  host_registry::openHandles.insert(handle);
  *out = reinterpret_cast<HKEY>(handle);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegOpenKeyExA(HKEY parent, LPCSTR name, DWORD, REGSAM, PHKEY out) {
  const std::string path = host_registry::Child(host_registry::PathOf(parent), name);
  if (host_registry::keys.count(path) == 0) return ERROR_FILE_NOT_FOUND;
  return RegCreateKeyExA(parent, name, 0, nullptr, 0, 0, nullptr, out, nullptr);
}

LSTATUS WINAPI RegCloseKey(HKEY handle) {
  const auto* path = reinterpret_cast<const std::string*>(handle);
  Check(host_registry::openHandles.erase(path) != 0, "only an open key handle is closed");
  delete path;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteKeyA(HKEY parent, LPCSTR name) {
  const std::string path = host_registry::Child(host_registry::PathOf(parent), name);
  if (host_registry::keys.count(path) == 0) return ERROR_FILE_NOT_FOUND;
  if (host_registry::FirstSubkey(path) != host_registry::keys.end()) return ERROR_ACCESS_DENIED;
  host_registry::keys.erase(path);
  host_registry::deleted.insert(path);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumKeyExA(HKEY handle, DWORD index, LPSTR name, LPDWORD length, LPDWORD, LPSTR, LPDWORD,
                             LPFILETIME) {
  Check(index == 0, "only the first subkey is asked for");
  const std::string path = host_registry::PathOf(handle);
  const auto found = host_registry::FirstSubkey(path);
  if (found == host_registry::keys.end()) return ERROR_NO_MORE_ITEMS;
  const std::size_t start = path.size() + 1;
  const std::string subkey = found->first.substr(start, found->first.find('\0', start) - start);
  if (subkey.size() >= *length) return ERROR_MORE_DATA;
  std::memcpy(name, subkey.c_str(), subkey.size() + 1);
  *length = static_cast<DWORD>(subkey.size());
  return ERROR_SUCCESS;
}

// Asked only whether a key has subkeys.
LSTATUS WINAPI RegQueryInfoKeyA(HKEY handle, LPSTR, LPDWORD, LPDWORD, LPDWORD subkeys, LPDWORD, LPDWORD, LPDWORD,
                                LPDWORD, LPDWORD, LPDWORD, LPFILETIME) {
  const std::string path = host_registry::PathOf(handle);
  *subkeys = host_registry::FirstSubkey(path) != host_registry::keys.end() ? 1 : 0;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteValueA(HKEY handle, LPCSTR name) {
  const std::string path = host_registry::PathOf(handle);
  return host_registry::keys[path].erase(host_registry::Lower(name)) != 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI RegSetValueExA(HKEY handle, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  Check(type != REG_SZ || (size != 0 && data[size - 1] == 0), "a text value ends with its zero");
  const std::string path = host_registry::PathOf(handle);
  host_registry::keys[path][host_registry::Lower(name == nullptr ? "" : name)] =
      std::to_string(type) + ":" + std::string(reinterpret_cast<const char*>(data), size);
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// The module file, whose name holds apostrophes, with a short form that can or
// cannot be had; and its one script resource, REGISTRY 102, whose handles are
// its bytes: a block of exactly their size (no terminating zero), so that
// reading past it is caught.

namespace host_module {

bool shortFormFails = false;
const char kPath[] = "C:\\Program Files\\O'Brien's\\Orvex Installer.dll";
const char kShortPath[] = "C:\\PROGRA~1\\O'BRIE~1\\ORVEXI~1.DLL";
const std::uint8_t* resource = nullptr;
DWORD resourceSize = 0;
int loads = 0;  // loaded and not yet freed
HMODULE const kFile = reinterpret_cast<HMODULE>(&loads);

}  // namespace host_module

DWORD WINAPI GetModuleFileNameA(HMODULE, LPSTR out, DWORD) {
  std::memcpy(out, host_module::kPath, sizeof(host_module::kPath));
  return sizeof(host_module::kPath) - 1;
}

DWORD WINAPI GetShortPathNameA(LPCSTR name, LPSTR out, DWORD size) {
  Check(std::strcmp(name, host_module::kPath) == 0, "the short form of the module's name");
  std::memset(out, '#', size);  // whatever the buffer holds on failure must not be used
  if (host_module::shortFormFails) return 0;
  std::memcpy(out, host_module::kShortPath, sizeof(host_module::kShortPath));
  return sizeof(host_module::kShortPath) - 1;
}

HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE, DWORD flags) {
  Check(flags == LOAD_LIBRARY_AS_DATAFILE, "the module file is loaded as a data file");
  Check(std::strcmp(name, host_module::shortFormFails ? host_module::kPath : host_module::kShortPath) == 0,
        "the file is loaded by its short path, else by its long path");
  ++host_module::loads;
  return host_module::kFile;
}

BOOL WINAPI FreeLibrary(HMODULE file) {
  Check(file == host_module::kFile, "only the loaded module is freed");
  --host_module::loads;
  return TRUE;
}

HRSRC WINAPI FindResourceA(HMODULE file, LPCSTR name, LPCSTR type) {
  Check(file == host_module::kFile && reinterpret_cast<ULONG_PTR>(name) == 102 && std::strcmp(type, "REGISTRY") == 0,
        "the script resource is looked for in the loaded module");
  return reinterpret_cast<HRSRC>(const_cast<std::uint8_t*>(host_module::resource));
}

HGLOBAL WINAPI LoadResource(HMODULE, HRSRC resource) { return resource; }
LPVOID WINAPI LockResource(HGLOBAL loaded) { return loaded; }
DWORD WINAPI SizeofResource(HMODULE, HRSRC) { return host_module::resourceSize; }
