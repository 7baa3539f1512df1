// Host stand-in for <windows.h> in the native fuzz build of the registry script
// interpreter only. It holds just what the interpreter and its module header
// use: the registry as an in-memory tree, a double-byte code page, the task
// allocator, the number conversion, and a module file with its script
// resource, all driven and inspected by the fuzz entry through host_*.
//
// The stand-in checks the interpreter's use of it and aborts on a fault: a
// handle used or closed after it was closed (or never opened), a key name that
// names the parent itself or holds a path separator, a text value written
// without its terminating zero. Access rights are enforced as the platform
// does: values need KEY_SET_VALUE, creating needs KEY_CREATE_SUB_KEY,
// enumerating KEY_ENUMERATE_SUB_KEYS, the key query KEY_QUERY_VALUE.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <set>
#include <string>
#include <vector>

using BOOL = int;
using BYTE = unsigned char;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = unsigned int;
using HRESULT = std::int32_t;
using SIZE_T = std::size_t;
using ULONG_PTR = std::uintptr_t;
using LCID = DWORD;
using REGSAM = DWORD;
using WCHAR = wchar_t;
using OLECHAR = wchar_t;
using LPSTR = char*;
using LPCSTR = const char*;
using LPCWSTR = const wchar_t*;
using LPDWORD = DWORD*;
using LPVOID = void*;
using HANDLE = void*;
using HGLOBAL = void*;

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
struct HRSRC__;
using HRSRC = HRSRC__*;
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
using PFILETIME = FILETIME*;
struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
struct IUnknown;
struct CRITICAL_SECTION {
  void* unused;
};

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

#define S_OK static_cast<HRESULT>(0)
#define E_FAIL static_cast<HRESULT>(0x80004005u)
#define E_POINTER static_cast<HRESULT>(0x80004003u)
#define E_UNEXPECTED static_cast<HRESULT>(0x8000FFFFu)
#define E_OUTOFMEMORY static_cast<HRESULT>(0x8007000Eu)
#define DISP_E_EXCEPTION static_cast<HRESULT>(0x80020009u)
#define DISP_E_TYPEMISMATCH static_cast<HRESULT>(0x80020005u)
#define DISP_E_OVERFLOW static_cast<HRESULT>(0x8002000Au)
inline bool FAILED(HRESULT result) { return result < 0; }
inline bool SUCCEEDED(HRESULT result) { return result >= 0; }
inline HRESULT HRESULT_FROM_WIN32(DWORD error) {
  return error == 0 ? S_OK : static_cast<HRESULT>((error & 0xFFFFu) | 0x80070000u);
}

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_KEY_DELETED 1018L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu
#define REG_SZ 1u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_OPTION_NON_VOLATILE 0u
#define CP_ACP 0u
#define LOAD_LIBRARY_AS_DATAFILE 0x00000002u

#define HKEY_CLASSES_ROOT host_registry::Predefined(0)
#define HKEY_CURRENT_USER host_registry::Predefined(1)
#define HKEY_LOCAL_MACHINE host_registry::Predefined(2)
#define HKEY_USERS host_registry::Predefined(3)
#define HKEY_PERFORMANCE_DATA host_registry::Predefined(4)
#define HKEY_CURRENT_CONFIG host_registry::Predefined(5)
#define HKEY_DYN_DATA host_registry::Predefined(6)
#define MAKEINTRESOURCEA(id) reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(id)))

inline void HostFailure(const char* what) {
  std::fprintf(stderr, "host stand-in check failed: %s\n", what);
  std::abort();
}

inline DWORD hostLastError = 0;
inline DWORD GetLastError() { return hostLastError; }
inline void SetLastError(DWORD error) { hostLastError = error; }

// ---------------------------------------------------------------------------
// Allocation: the C heap, so the sanitizers see every block. hostFailingAllocation
// makes the n-th allocation from now fail (1 = the next one; 0 = none fails);
// it counts the task allocator and the module allocator alike.

inline unsigned hostFailingAllocation = 0;

inline bool HostAllocationFails() {
  return hostFailingAllocation != 0 && --hostFailingAllocation == 0;
}

inline void* CoTaskMemAlloc(SIZE_T bytes) {
  if (HostAllocationFails()) return nullptr;
  return std::malloc(bytes == 0 ? 1 : bytes);
}

inline void* CoTaskMemRealloc(void* block, SIZE_T bytes) {
  if (HostAllocationFails()) return nullptr;
  return std::realloc(block, bytes == 0 ? 1 : bytes);
}

inline void CoTaskMemFree(void* block) { std::free(block); }

// ---------------------------------------------------------------------------
// The process code page: double-byte, lead bytes 0x81-0x9F and 0xE0-0xFC. A
// lead byte and its trail byte are the wide character (lead << 8 | trail).

inline BOOL IsDBCSLeadByte(BYTE c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

inline LPSTR CharNextA(LPCSTR p) {
  if (*p == '\0') return const_cast<LPSTR>(p);
  if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') return const_cast<LPSTR>(p + 2);
  return const_cast<LPSTR>(p + 1);
}

inline int lstrlenW(LPCWSTR text) { return text == nullptr ? 0 : static_cast<int>(std::wcslen(text)); }

inline int MultiByteToWideChar(UINT, DWORD, LPCSTR text, int length, wchar_t* out, int capacity) {
  if (length != -1) HostFailure("MultiByteToWideChar is only asked for terminated texts");
  std::wstring wide;
  for (const char* p = text;; p = CharNextA(p)) {
    const auto lead = static_cast<BYTE>(*p);
    if (CharNextA(p) - p == 2) {
      wide += static_cast<wchar_t>(lead << 8 | static_cast<BYTE>(p[1]));
    } else {
      wide += static_cast<wchar_t>(lead);
    }
    if (*p == '\0') break;
  }
  const auto needed = static_cast<int>(wide.size());
  if (out == nullptr || capacity == 0) return needed;
  if (capacity < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::wmemcpy(out, wide.data(), wide.size());
  return needed;
}

inline int WideCharToMultiByte(UINT, DWORD, LPCWSTR text, int length, LPSTR out, int capacity, LPCSTR,
                               BOOL*) {
  if (length != -1) HostFailure("WideCharToMultiByte is only asked for terminated texts");
  std::string bytes;
  for (const wchar_t* p = text;; ++p) {
    const auto c = static_cast<std::uint32_t>(*p);
    if (c < 0x100) {
      bytes += static_cast<char>(c);
    } else if (c < 0x10000 && IsDBCSLeadByte(static_cast<BYTE>(c >> 8)) && (c & 0xFF) != 0) {
      bytes += static_cast<char>(c >> 8);
      bytes += static_cast<char>(c & 0xFF);
    } else {
      bytes += '?';
    }
    if (*p == L'\0') break;
  }
  const auto needed = static_cast<int>(bytes.size());
  if (out == nullptr || capacity == 0) return needed;
  if (capacity < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, bytes.data(), bytes.size());
  return needed;
}

// Unsigned decimal with blanks around it; anything else does not convert.
inline HRESULT VarUI4FromStr(OLECHAR* text, LCID, ULONG, ULONG* out) {
  const wchar_t* p = text;
  while (*p == L' ') ++p;
  if (*p < L'0' || *p > L'9') return DISP_E_TYPEMISMATCH;
  std::uint64_t number = 0;
  for (; *p >= L'0' && *p <= L'9'; ++p) {
    number = number * 10 + static_cast<std::uint64_t>(*p - L'0');
    if (number > 0xFFFFFFFFu) return DISP_E_OVERFLOW;
  }
  while (*p == L' ') ++p;
  if (*p != L'\0') return DISP_E_TYPEMISMATCH;
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

constexpr int kRootCount = 7;
inline std::shared_ptr<Key> roots[kRootCount];
inline std::set<const Handle*> openHandles;
// Key names longer than this are refused, as the platform does.
constexpr std::size_t kKeyNameLimit = 255;

inline HKEY Predefined(int index) {
  return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000u + static_cast<unsigned>(index)));
}

inline int PredefinedIndex(HKEY key) {
  const auto value = reinterpret_cast<ULONG_PTR>(key);
  if (value >= 0x80000000u && value < 0x80000000u + kRootCount) return static_cast<int>(value - 0x80000000u);
  return -1;
}

inline void Reset() {
  if (!openHandles.empty()) HostFailure("registry reset with keys still open");
  for (auto& root : roots) root = std::make_shared<Key>();
}

inline bool SameName(const std::string& a, const char* b) {
  const std::size_t length = std::strlen(b);
  if (a.size() != length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
    if (x != y) return false;
  }
  return true;
}

// The key and the rights a handle grants; null for a handle of a deleted key.
inline std::shared_ptr<Key> Resolve(HKEY handle, REGSAM* access) {
  const int root = PredefinedIndex(handle);
  if (root >= 0) {
    if (!roots[root]) roots[root] = std::make_shared<Key>();
    *access = KEY_ALL_ACCESS;
    return roots[root];
  }
  const auto* opened = reinterpret_cast<const Handle*>(handle);
  if (openHandles.count(opened) == 0) HostFailure("a key handle used that is not open");
  *access = opened->access;
  return opened->key->deleted ? nullptr : opened->key;
}

inline void CheckSubkeyName(const char* name) {
  if (name == nullptr || *name == '\0') HostFailure("a key named by the empty name (its parent itself)");
  for (const char* p = name; *p != '\0'; p = CharNextA(p)) {
    if (*p == '\\') HostFailure("a key name with a path separator");
  }
}

inline std::shared_ptr<Key> FindSubkey(const Key& parent, const char* name) {
  for (const auto& subkey : parent.subkeys) {
    if (SameName(subkey->name, name)) return subkey;
  }
  return nullptr;
}

inline HKEY NewHandle(std::shared_ptr<Key> key, REGSAM access) {
  auto* handle = new Handle{std::move(key), access};
  openHandles.insert(handle);
  return reinterpret_cast<HKEY>(handle);
}

inline Value* FindValue(Key& key, const char* name) {
  for (auto& value : key.values) {
    if (SameName(value.name, name == nullptr ? "" : name)) return &value;
  }
  return nullptr;
}

// Canonical text of the whole registry: names lowered, subkeys and values in
// name order, so that two registries holding the same keys compare equal.
inline void Describe(const Key& key, const std::string& path, std::string& out) {
  auto lower = [](std::string text) {
    for (char& c : text) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
  };
  std::vector<std::string> values;
  for (const auto& value : key.values) {
    std::string line = path + "|" + lower(value.name) + "=" + std::to_string(value.type) + ":";
    line.append(reinterpret_cast<const char*>(value.data.data()), value.data.size());
    values.push_back(line);
  }
  std::sort(values.begin(), values.end());
  for (const auto& line : values) out += line + "\n";
  std::vector<std::pair<std::string, const Key*>> subkeys;
  for (const auto& subkey : key.subkeys) subkeys.emplace_back(lower(subkey->name), subkey.get());
  std::sort(subkeys.begin(), subkeys.end());
  for (const auto& [name, subkey] : subkeys) {
    out += path + "\\" + name + "\n";
    Describe(*subkey, path + "\\" + name, out);
  }
}

inline std::string Snapshot() {
  std::string out;
  for (int i = 0; i < kRootCount; ++i) {
    if (roots[i]) Describe(*roots[i], std::to_string(i), out);
  }
  return out;
}

// Creates path (components separated by '\') below root i with one value, for
// a registry that starts populated.
inline std::shared_ptr<Key> Populate(int root, const std::vector<std::string>& path) {
  std::shared_ptr<Key> key = roots[root];
  for (const auto& name : path) {
    std::shared_ptr<Key> subkey = FindSubkey(*key, name.c_str());
    if (!subkey) {
      subkey = std::make_shared<Key>();
      subkey->name = name;
      key->subkeys.push_back(subkey);
    }
    key = subkey;
  }
  key->values.push_back(Value{"", REG_SZ, {'x', '\0'}});
  return key;
}

}  // namespace host_registry

inline LONG RegOpenKeyExA(HKEY parent, LPCSTR name, DWORD, REGSAM access, PHKEY out) {
  *out = nullptr;
  REGSAM parentAccess = 0;
  const auto key = host_registry::Resolve(parent, &parentAccess);
  if (!key) return ERROR_KEY_DELETED;
  host_registry::CheckSubkeyName(name);
  auto subkey = host_registry::FindSubkey(*key, name);
  if (!subkey) return ERROR_FILE_NOT_FOUND;
  *out = host_registry::NewHandle(std::move(subkey), access);
  return ERROR_SUCCESS;
}

inline LONG RegCreateKeyExA(HKEY parent, LPCSTR name, DWORD, LPSTR, DWORD, REGSAM access, LPSECURITY_ATTRIBUTES,
                            PHKEY out, LPDWORD) {
  *out = nullptr;
  REGSAM parentAccess = 0;
  const auto key = host_registry::Resolve(parent, &parentAccess);
  if (!key) return ERROR_KEY_DELETED;
  host_registry::CheckSubkeyName(name);
  auto subkey = host_registry::FindSubkey(*key, name);
  if (!subkey) {
    if ((parentAccess & KEY_CREATE_SUB_KEY) == 0) return ERROR_ACCESS_DENIED;
    if (std::strlen(name) > host_registry::kKeyNameLimit) return ERROR_INVALID_PARAMETER;
    subkey = std::make_shared<host_registry::Key>();
    subkey->name = name;
    key->subkeys.push_back(subkey);
  }
  *out = host_registry::NewHandle(std::move(subkey), access);
  return ERROR_SUCCESS;
}

inline LONG RegCloseKey(HKEY handle) {
  if (host_registry::PredefinedIndex(handle) >= 0) return ERROR_SUCCESS;
  const auto* opened = reinterpret_cast<const host_registry::Handle*>(handle);
  if (host_registry::openHandles.erase(opened) == 0) HostFailure("a key handle closed that is not open");
  delete opened;
  return ERROR_SUCCESS;
}

inline LONG RegDeleteKeyA(HKEY parent, LPCSTR name) {
  REGSAM parentAccess = 0;
  const auto key = host_registry::Resolve(parent, &parentAccess);
  if (!key) return ERROR_KEY_DELETED;
  host_registry::CheckSubkeyName(name);
  for (auto it = key->subkeys.begin(); it != key->subkeys.end(); ++it) {
    if (!host_registry::SameName((*it)->name, name)) continue;
    if (!(*it)->subkeys.empty()) return ERROR_ACCESS_DENIED;
    (*it)->deleted = true;
    key->subkeys.erase(it);
    return ERROR_SUCCESS;
  }
  return ERROR_FILE_NOT_FOUND;
}

inline LONG RegEnumKeyExA(HKEY handle, DWORD index, LPSTR name, LPDWORD length, LPDWORD, LPSTR, LPDWORD,
                          PFILETIME) {
  REGSAM access = 0;
  const auto key = host_registry::Resolve(handle, &access);
  if (!key) return ERROR_KEY_DELETED;
  if ((access & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
  if (index >= key->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  const std::string& found = key->subkeys[index]->name;
  if (found.size() >= *length) return ERROR_MORE_DATA;
  std::memcpy(name, found.c_str(), found.size() + 1);
  *length = static_cast<DWORD>(found.size());
  return ERROR_SUCCESS;
}

inline LONG RegQueryInfoKeyA(HKEY handle, LPSTR, LPDWORD, LPDWORD, LPDWORD subkeys, LPDWORD, LPDWORD,
                             LPDWORD values, LPDWORD, LPDWORD, LPDWORD, PFILETIME) {
  REGSAM access = 0;
  const auto key = host_registry::Resolve(handle, &access);
  if (!key) return ERROR_KEY_DELETED;
  if ((access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (subkeys != nullptr) *subkeys = static_cast<DWORD>(key->subkeys.size());
  if (values != nullptr) *values = static_cast<DWORD>(key->values.size());
  return ERROR_SUCCESS;
}

inline LONG RegSetValueExA(HKEY handle, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  REGSAM access = 0;
  const auto key = host_registry::Resolve(handle, &access);
  if (!key) return ERROR_KEY_DELETED;
  if ((access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (type == REG_SZ && (size == 0 || data[size - 1] != 0)) HostFailure("a text value without its zero");
  std::vector<BYTE> bytes(data, data + size);
  if (host_registry::Value* value = host_registry::FindValue(*key, name)) {
    value->type = type;
    value->data = std::move(bytes);
  } else {
    key->values.push_back(host_registry::Value{name == nullptr ? "" : name, type, std::move(bytes)});
  }
  return ERROR_SUCCESS;
}

inline LONG RegDeleteValueA(HKEY handle, LPCSTR name) {
  REGSAM access = 0;
  const auto key = host_registry::Resolve(handle, &access);
  if (!key) return ERROR_KEY_DELETED;
  if ((access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  for (auto it = key->values.begin(); it != key->values.end(); ++it) {
    if (host_registry::SameName(it->name, name == nullptr ? "" : name)) {
      key->values.erase(it);
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

// ---------------------------------------------------------------------------
// The module file: its name, its short form, and its one script resource,
// held in a block of exactly the resource's size (no terminating zero).

namespace host_module {

enum class ShortForm { kSame, kShorter, kFails, kTooLong };

inline std::string path;             // the module file's name as the platform has it
inline std::string shortPath;        // its short form, for ShortForm::kShorter
inline ShortForm shortForm = ShortForm::kSame;
inline bool loadFails = false;       // LoadLibraryExA fails, leaving no error
inline UINT resourceId = 102;
inline std::vector<char> resource;   // the script's bytes
inline char* resourceBlock = nullptr;
inline std::string loadedPath;       // what LoadLibraryExA was asked for
inline int loads = 0;
inline int frees = 0;
inline HMODULE const kFile = reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x10000));
inline HRSRC const kResource = reinterpret_cast<HRSRC>(static_cast<ULONG_PTR>(0x20000));

}  // namespace host_module

inline DWORD GetModuleFileNameA(HMODULE, LPSTR out, DWORD size) {
  const std::string& name = host_module::path;
  if (name.size() < size) {
    std::memcpy(out, name.c_str(), name.size() + 1);
    return static_cast<DWORD>(name.size());
  }
  // Cut to fit, as the platform does, and the buffer's size returned.
  std::memcpy(out, name.data(), size - 1);
  out[size - 1] = '\0';
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}

inline DWORD GetShortPathNameA(LPCSTR name, LPSTR out, DWORD size) {
  if (host_module::path != name) HostFailure("the short form asked for another name than the module's");
  std::string shortName = name;
  switch (host_module::shortForm) {
    case host_module::ShortForm::kSame:
      break;
    case host_module::ShortForm::kShorter:
      shortName = host_module::shortPath;
      break;
    case host_module::ShortForm::kFails:
      std::memset(out, '#', size);  // whatever the buffer holds must not be used
      SetLastError(ERROR_ACCESS_DENIED);
      return 0;
    case host_module::ShortForm::kTooLong:
      shortName.assign(size + 10, 'S');
      break;
  }
  if (shortName.size() >= size) {
    std::memset(out, '#', size);
    return static_cast<DWORD>(shortName.size() + 1);
  }
  std::memcpy(out, shortName.c_str(), shortName.size() + 1);
  return static_cast<DWORD>(shortName.size());
}

inline HMODULE LoadLibraryExA(LPCSTR name, HANDLE, DWORD flags) {
  if (flags != LOAD_LIBRARY_AS_DATAFILE) HostFailure("the module file is loaded as a data file");
  host_module::loadedPath = name;
  if (host_module::loadFails) {
    SetLastError(0);
    return nullptr;
  }
  ++host_module::loads;
  return host_module::kFile;
}

inline BOOL FreeLibrary(HMODULE file) {
  if (file != host_module::kFile) HostFailure("a module freed that was not loaded");
  ++host_module::frees;
  return TRUE;
}

inline HRSRC FindResourceA(HMODULE file, LPCSTR name, LPCSTR type) {
  if (file != host_module::kFile) HostFailure("a resource looked for in another module");
  if (std::strcmp(type, "REGISTRY") != 0) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
  }
  if (reinterpret_cast<ULONG_PTR>(name) != host_module::resourceId) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  return host_module::kResource;
}

inline HGLOBAL LoadResource(HMODULE file, HRSRC resource) {
  if (file != host_module::kFile || resource != host_module::kResource) HostFailure("LoadResource of another");
  // A block of exactly the resource's size: reading past its last byte is caught.
  std::free(host_module::resourceBlock);
  const std::size_t size = host_module::resource.size();
  host_module::resourceBlock = static_cast<char*>(std::malloc(size));
  if (host_module::resourceBlock == nullptr && size != 0) HostFailure("memory for the resource");
  if (size != 0) std::memcpy(host_module::resourceBlock, host_module::resource.data(), size);
  return host_module::resourceBlock;
}

inline LPVOID LockResource(HGLOBAL loaded) { return loaded; }

inline DWORD SizeofResource(HMODULE, HRSRC) { return static_cast<DWORD>(host_module::resource.size()); }
