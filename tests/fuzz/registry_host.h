// The platform calls the registry script interpreter makes, for its native fuzz
// build only: the registry as an in-memory tree that aborts on a handle used or
// closed when not open, a key name that names the parent itself or holds a path
// separator, or a text value without its zero (access rights enforced); a
// double-byte code page; the task allocator; a module file with its script.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

inline void HostFailure(const char* what) {
  std::fprintf(stderr, "host check failed: %s\n", what);
  std::abort();
}

DWORD hostLastError = 0;
DWORD WINAPI GetLastError() { return hostLastError; }

// The C heap, so the sanitizers see every block. hostFailingAllocation makes
// the n-th allocation from now fail (1 = the next one; 0 = none fails).
unsigned hostFailingAllocation = 0;
bool HostAllocationFails() { return hostFailingAllocation != 0 && --hostFailingAllocation == 0; }
LPVOID WINAPI CoTaskMemAlloc(SIZE_T bytes) { return HostAllocationFails() ? nullptr : std::malloc(bytes); }
LPVOID WINAPI CoTaskMemRealloc(LPVOID block, SIZE_T bytes) {
  return HostAllocationFails() ? nullptr : std::realloc(block, bytes == 0 ? 1 : bytes);
}
void WINAPI CoTaskMemFree(LPVOID block) { std::free(block); }

// The process code page: double-byte, lead bytes 0x81-0x9F and 0xE0-0xFC. A
// lead byte and its trail byte are the wide character (lead << 8 | trail).
bool HostLeadByte(unsigned c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

LPSTR WINAPI CharNextA(LPCSTR p) {
  const bool pair = HostLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0';
  return const_cast<LPSTR>(*p == '\0' ? p : p + (pair ? 2 : 1));
}

INT WINAPI lstrlenW(LPCWSTR text) {
  INT length = 0;
  while (text != nullptr && text[length] != L'\0') ++length;
  return length;
}

// Both conversions are asked only for terminated texts and either succeed or
// fail for a buffer too small. Bytes widen one by one; a wide character above
// 0xFF becomes its two bytes (the substitutions' double-byte characters).
template <typename Out>
int HostConverted(const std::vector<Out>& converted, Out* out, int capacity, INT length) {
  if (length != -1) HostFailure("a conversion is only asked for terminated texts");
  const auto needed = static_cast<int>(converted.size());
  if (out == nullptr || capacity == 0) return needed;
  if (capacity < needed) {
    hostLastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
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
// The registry: seven predefined roots, keys named without regard to case
// (ASCII letters), subkeys in creation order.

namespace host_registry {

struct Value {
  std::string name;
  DWORD type;
  std::vector<BYTE> data;
};

struct Key {
  std::string name;
  bool deleted = false;
  std::vector<std::shared_ptr<Key>> subkeys;
  std::vector<Value> values;
};

struct Handle {
  std::shared_ptr<Key> key;
  REGSAM access;
};

constexpr int kRootCount = 7;  // HKEY_CLASSES_ROOT up to HKEY_DYN_DATA
std::shared_ptr<Key> roots[kRootCount];
std::set<const Handle*> openHandles;

void Reset() {
  if (!openHandles.empty()) HostFailure("registry reset with keys still open");
  for (auto& root : roots) root = std::make_shared<Key>();
}

std::string Lower(std::string text) {
  for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return text;
}

bool SameName(const std::string& a, const char* b) { return Lower(a) == Lower(b == nullptr ? "" : b); }

// The key a handle names, or the error the call fails with when it lacks right.
LONG Use(HKEY handle, REGSAM right, std::shared_ptr<Key>& key) {
  const LONG_PTR root = reinterpret_cast<LONG_PTR>(handle) - reinterpret_cast<LONG_PTR>(HKEY_CLASSES_ROOT);
  if (root >= 0 && root < kRootCount) {
    key = roots[root];
    return ERROR_SUCCESS;
  }
  const auto* opened = reinterpret_cast<const Handle*>(handle);
  if (openHandles.count(opened) == 0) HostFailure("a key handle used that is not open");
  key = opened->key->deleted ? nullptr : opened->key;
  if (!key) return ERROR_KEY_DELETED;
  return (opened->access & right) == right ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

std::shared_ptr<Key> NewKey(const std::string& name) {
  auto key = std::make_shared<Key>();
  key->name = name;
  return key;
}

std::vector<std::shared_ptr<Key>>::iterator FindSubkey(Key& parent, const char* name) {
  if (name == nullptr || *name == '\0') HostFailure("a key named by the empty name (its parent itself)");
  for (const char* p = name; *p != '\0'; p = CharNextA(p)) {
    if (*p == '\\') HostFailure("a key name with a path separator");
  }
  return std::find_if(parent.subkeys.begin(), parent.subkeys.end(),
                      [name](const auto& subkey) { return SameName(subkey->name, name); });
}

// Canonical text of the whole registry: names lowered, subkeys and values in
// name order, so that two registries holding the same keys compare equal.
void Describe(const Key& key, const std::string& path, std::string& out) {
  std::vector<std::string> lines;
  for (const auto& value : key.values) {
    lines.push_back(path + "|" + Lower(value.name) + "=" + std::to_string(value.type) + ":");
    lines.back().append(reinterpret_cast<const char*>(value.data.data()), value.data.size());
  }
  for (const auto& subkey : key.subkeys) {
    std::string below = path + "\\" + Lower(subkey->name) + "\n";
    Describe(*subkey, path + "\\" + Lower(subkey->name), below);
    lines.push_back(below);
  }
  std::sort(lines.begin(), lines.end());
  for (const auto& line : lines) out += line + "\n";
}

std::string Snapshot() {
  std::string out;
  for (int i = 0; i < kRootCount; ++i) Describe(*roots[i], std::to_string(i), out);
  return out;
}

// Creates path below root with one value, for a registry that starts populated.
std::shared_ptr<Key> Populate(int root, const std::vector<std::string>& path) {
  std::shared_ptr<Key> key = roots[root];
  for (const auto& name : path) {
    const auto found = FindSubkey(*key, name.c_str());
    key = found != key->subkeys.end() ? *found : key->subkeys.emplace_back(NewKey(name));
  }
  key->values.push_back(Value{"", REG_SZ, {'x', '\0'}});
  return key;
}

// Opens (creating it when create is set) name below parent.
LONG Open(HKEY parent, LPCSTR name, REGSAM access, PHKEY out, bool create) {
  *out = nullptr;
  std::shared_ptr<Key> key;
  const LONG rights = Use(parent, KEY_CREATE_SUB_KEY, key);
  if (rights == ERROR_KEY_DELETED) return rights;
  auto found = FindSubkey(*key, name);
  if (found == key->subkeys.end()) {
    if (!create) return ERROR_FILE_NOT_FOUND;
    if (rights != ERROR_SUCCESS) return rights;  // creating needs the right, opening does not
    if (std::strlen(name) > 255) return ERROR_INVALID_PARAMETER;
    found = key->subkeys.insert(key->subkeys.end(), NewKey(name));
  }
  auto* handle = new Handle{*found, access};
  openHandles.insert(handle);
  *out = reinterpret_cast<HKEY>(handle);
  return ERROR_SUCCESS;
}

}  // namespace host_registry

LSTATUS WINAPI RegOpenKeyExA(HKEY parent, LPCSTR name, DWORD, REGSAM access, PHKEY out) {
  return host_registry::Open(parent, name, access, out, false);
}

LSTATUS WINAPI RegCreateKeyExA(HKEY parent, LPCSTR name, DWORD, LPSTR, DWORD, REGSAM access,
                               LPSECURITY_ATTRIBUTES, PHKEY out, LPDWORD) {
  return host_registry::Open(parent, name, access, out, true);
}

LSTATUS WINAPI RegCloseKey(HKEY handle) {
  std::shared_ptr<host_registry::Key> key;
  host_registry::Use(handle, 0, key);
  const auto* opened = reinterpret_cast<const host_registry::Handle*>(handle);
  if (host_registry::openHandles.erase(opened) != 0) delete opened;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteKeyA(HKEY parent, LPCSTR name) {
  std::shared_ptr<host_registry::Key> key;
  if (const LONG status = host_registry::Use(parent, 0, key)) return status;
  const auto found = host_registry::FindSubkey(*key, name);
  if (found == key->subkeys.end()) return ERROR_FILE_NOT_FOUND;
  if (!(*found)->subkeys.empty()) return ERROR_ACCESS_DENIED;
  (*found)->deleted = true;
  key->subkeys.erase(found);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumKeyExA(HKEY handle, DWORD index, LPSTR name, LPDWORD length, LPDWORD, LPSTR, LPDWORD,
                             LPFILETIME) {
  std::shared_ptr<host_registry::Key> key;
  if (const LONG status = host_registry::Use(handle, KEY_ENUMERATE_SUB_KEYS, key)) return status;
  if (index >= key->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  const std::string& found = key->subkeys[index]->name;
  if (found.size() >= *length) return ERROR_MORE_DATA;
  std::memcpy(name, found.c_str(), found.size() + 1);
  *length = static_cast<DWORD>(found.size());
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryInfoKeyA(HKEY handle, LPSTR, LPDWORD, LPDWORD, LPDWORD subkeys, LPDWORD, LPDWORD,
                                LPDWORD values, LPDWORD, LPDWORD, LPDWORD, LPFILETIME) {
  std::shared_ptr<host_registry::Key> key;
  if (const LONG status = host_registry::Use(handle, KEY_QUERY_VALUE, key)) return status;
  if (subkeys != nullptr) *subkeys = static_cast<DWORD>(key->subkeys.size());
  if (values != nullptr) *values = static_cast<DWORD>(key->values.size());
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteValueA(HKEY handle, LPCSTR name) {
  std::shared_ptr<host_registry::Key> key;
  if (const LONG status = host_registry::Use(handle, KEY_SET_VALUE, key)) return status;
  const auto found = std::find_if(key->values.begin(), key->values.end(),
                                  [&](const auto& value) { return host_registry::SameName(value.name, name); });
  if (found == key->values.end()) return ERROR_FILE_NOT_FOUND;
  key->values.erase(found);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExA(HKEY handle, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  if (type == REG_SZ && (size == 0 || data[size - 1] != 0)) HostFailure("a text value without its zero");
  const LSTATUS status = RegDeleteValueA(handle, name);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return status;
  std::shared_ptr<host_registry::Key> key;
  host_registry::Use(handle, KEY_SET_VALUE, key);
  key->values.push_back(host_registry::Value{name == nullptr ? "" : name, type, {data, data + size}});
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// The module file, whose name holds apostrophes, with a short form that can or
// cannot be had; and its one script resource, held in a block of exactly the
// resource's size (no terminating zero).

namespace host_module {

bool shortFormFails = false;
const char kPath[] = "C:\\Program Files\\O'Brien's\\Orvex Installer.dll";
const char kShortPath[] = "C:\\PROGRA~1\\O'BRIE~1\\ORVEXI~1.DLL";
std::vector<char> resource;  // the script's bytes
char* loaded = nullptr;      // the block LoadResource hands out
std::string loadedPath;      // what LoadLibraryExA was asked for
int loads = 0;
HMODULE const kFile = reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x10000));
HRSRC const kResource = reinterpret_cast<HRSRC>(static_cast<ULONG_PTR>(0x20000));

}  // namespace host_module

DWORD WINAPI GetModuleFileNameA(HMODULE, LPSTR out, DWORD size) {
  if (size <= sizeof(host_module::kPath)) HostFailure("a buffer for a module file name of MAX_PATH");
  std::memcpy(out, host_module::kPath, sizeof(host_module::kPath));
  return sizeof(host_module::kPath) - 1;
}

DWORD WINAPI GetShortPathNameA(LPCSTR name, LPSTR out, DWORD size) {
  if (std::strcmp(name, host_module::kPath) != 0) HostFailure("the short form of another name than the module's");
  std::memset(out, '#', size);  // whatever the buffer holds on failure must not be used
  if (host_module::shortFormFails) {
    hostLastError = ERROR_ACCESS_DENIED;
    return 0;
  }
  if (size < sizeof(host_module::kShortPath)) return sizeof(host_module::kShortPath);
  std::memcpy(out, host_module::kShortPath, sizeof(host_module::kShortPath));
  return sizeof(host_module::kShortPath) - 1;
}

HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE, DWORD flags) {
  if (flags != LOAD_LIBRARY_AS_DATAFILE) HostFailure("the module file is loaded as a data file");
  host_module::loadedPath = name;
  ++host_module::loads;
  return host_module::kFile;
}

BOOL WINAPI FreeLibrary(HMODULE file) {
  if (file != host_module::kFile) HostFailure("a module freed that was not loaded");
  --host_module::loads;
  return TRUE;
}

HRSRC WINAPI FindResourceA(HMODULE file, LPCSTR name, LPCSTR type) {
  if (file != host_module::kFile) HostFailure("a resource looked for in another module");
  if (reinterpret_cast<ULONG_PTR>(name) == 102 && std::strcmp(type, "REGISTRY") == 0) return host_module::kResource;
  hostLastError = ERROR_RESOURCE_NAME_NOT_FOUND;
  return nullptr;
}

// A block of exactly the resource's size: reading past its last byte is caught.
HGLOBAL WINAPI LoadResource(HMODULE file, HRSRC resource) {
  if (file != host_module::kFile || resource != host_module::kResource) HostFailure("LoadResource of another");
  std::free(host_module::loaded);
  host_module::loaded = static_cast<char*>(std::malloc(host_module::resource.size()));
  if (host_module::loaded == nullptr) HostFailure("memory for the resource");
  std::copy(host_module::resource.begin(), host_module::resource.end(), host_module::loaded);
  return host_module::loaded;
}

LPVOID WINAPI LockResource(HGLOBAL loaded) { return loaded; }

DWORD WINAPI SizeofResource(HMODULE, HRSRC) { return static_cast<DWORD>(host_module::resource.size()); }
