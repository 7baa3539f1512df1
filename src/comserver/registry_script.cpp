#include "registry_script.h"

#include <objbase.h>
#include <oleauto.h>

#include <cstdint>
#include <cstring>

#include "ascii_case.h"
#include "server_module.h"

// Nothing here has static storage that needs constructing: the module has no
// language-runtime start-up. The substitution table comes from the module's
// allocator; texts and the run's token buffers from the task allocator.

namespace orvex {
namespace {

constexpr HRESULT kScriptError = DISP_E_EXCEPTION;
constexpr SIZE_T kSubstitutionNameSize = 32;   // a name between two '%': at most 31 bytes
constexpr SIZE_T kValueNameSize = kScriptValueNameLimit + 1;
constexpr SIZE_T kRememberedNameSize = 260;    // the key about to be deleted
constexpr DWORD kSubkeyNameSize = 256;
constexpr LONG kInitialTableCapacity = 10;

HRESULT StatusResult(LONG status) {
  return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

// Keywords, root names, types and substitution names are compared with
// EqualNoCase: without regard to case, the same in every locale.

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Characters are taken whole: a double-byte character is one step.
SIZE_T CharacterBytes(const char* p) { return static_cast<SIZE_T>(::CharNextA(p) - p); }

// A key name names one level: not empty and without '\' (the empty name would
// stand for the parent key itself).
bool IsKeyName(const char* name) {
  if (*name == '\0') return false;
  for (const char* p = name; *p != '\0'; p += CharacterBytes(p)) {
    if (*p == '\\') return false;
  }
  return true;
}

// Keys that are never deleted with their subtree by name.
bool IsProtectedKey(const char* name) { return EqualNoCase(name, "CLSID") || EqualNoCase(name, "TYPELIB"); }

bool IsBlockOpener(const char* token) { return token[0] == '{' && token[1] == '\0'; }

HKEY FindRootKey(const char* name) {
  struct RootName {
    const char* name;
    HKEY key;
  };
  // Built per call: the predefined handles are not constants the compiler can
  // place without start-up code.
  const RootName roots[] = {
      {"HKCR", HKEY_CLASSES_ROOT},
      {"HKCU", HKEY_CURRENT_USER},
      {"HKLM", HKEY_LOCAL_MACHINE},
      {"HKU", HKEY_USERS},
      {"HKPD", HKEY_PERFORMANCE_DATA},
      {"HKDD", HKEY_DYN_DATA},
      {"HKCC", HKEY_CURRENT_CONFIG},
      {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
      {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
      {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
      {"HKEY_USERS", HKEY_USERS},
      {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
      {"HKEY_DYN_DATA", HKEY_DYN_DATA},
      {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
  };
  for (const RootName& root : roots) {
    if (EqualNoCase(name, root.name)) return root.key;
  }
  return nullptr;
}

enum class ValueType { kNone, kString, kNumber, kBinary };

ValueType FindValueType(const char* token) {
  if (EqualNoCase(token, "S")) return ValueType::kString;
  if (EqualNoCase(token, "D")) return ValueType::kNumber;
  if (EqualNoCase(token, "B")) return ValueType::kBinary;
  return ValueType::kNone;
}

// Any character other than a hexadecimal digit counts as 0.
unsigned HexDigit(unsigned char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  return 0;
}

wchar_t* CopyWide(const wchar_t* text) {
  const SIZE_T length = text == nullptr ? 0 : static_cast<SIZE_T>(::lstrlenW(text));
  auto* copy = static_cast<wchar_t*>(::CoTaskMemAlloc((length + 1) * sizeof(wchar_t)));
  if (copy == nullptr) return nullptr;
  if (length != 0) std::memcpy(copy, text, length * sizeof(wchar_t));
  copy[length] = L'\0';
  return copy;
}

struct SubstitutionEntry {
  wchar_t* name;
  wchar_t* value;
};

// The names bound for "%name%": a growable array of pairs, each a private copy.
struct SubstitutionTable {
  SubstitutionEntry** entries;
  LONG count;
  LONG capacity;

  void Init() {
    count = 0;
    capacity = kInitialTableCapacity;
    entries = static_cast<SubstitutionEntry**>(
        ModuleAlloc(sizeof(SubstitutionEntry*) * static_cast<SIZE_T>(capacity)));
  }

  // A pair that cannot be added for want of memory is left out; its name is
  // then unbound, and the script's first use of it fails.
  void Add(const wchar_t* name, const wchar_t* value) {
    if (entries == nullptr) return;
    if (count == capacity) {
      if (capacity > INT32_MAX / 2) return;
      void* grown =
          ModuleRealloc(entries, sizeof(SubstitutionEntry*) * static_cast<SIZE_T>(capacity) * 2);
      if (grown == nullptr) return;
      entries = static_cast<SubstitutionEntry**>(grown);
      capacity *= 2;
    }
    auto* entry = static_cast<SubstitutionEntry*>(ModuleAlloc(sizeof(SubstitutionEntry)));
    if (entry == nullptr) return;
    entry->name = CopyWide(name);
    entry->value = CopyWide(value);
    if (entry->name == nullptr || entry->value == nullptr) {
      ::CoTaskMemFree(entry->name);
      ::CoTaskMemFree(entry->value);
      ModuleFree(entry);
      return;
    }
    entries[count++] = entry;
  }

  // The value bound to name (script text, code page), or null.
  const wchar_t* Find(const char* name) const {
    for (LONG i = 0; i < count; ++i) {
      char converted[kSubstitutionNameSize];
      const int length = ::WideCharToMultiByte(CP_ACP, 0, entries[i]->name, -1, converted,
                                               static_cast<int>(sizeof(converted)), nullptr, nullptr);
      if (length > 0 && EqualNoCase(converted, name)) return entries[i]->value;
    }
    return nullptr;
  }

  void Clear() {
    for (LONG i = 0; i < count; ++i) {
      ::CoTaskMemFree(entries[i]->name);
      ::CoTaskMemFree(entries[i]->value);
      ModuleFree(entries[i]);
    }
    count = 0;
  }

  void Release() {
    Clear();
    ModuleFree(entries);
    entries = nullptr;
  }
};

// The expanded script while substituting: always room for the text, the
// character being added and the terminating zero.
struct ExpansionBuffer {
  SIZE_T length;
  SIZE_T capacity;
  char* bytes;

  bool Reserve(SIZE_T more) {
    if (more > SIZE_MAX - 1 - length) return false;
    const SIZE_T needed = length + more + 1;
    SIZE_T grown = capacity;
    while (grown < needed) {
      if (grown > SIZE_MAX / 2) return false;
      grown *= 2;
    }
    if (grown == capacity) return true;
    void* moved = ::CoTaskMemRealloc(bytes, grown);
    if (moved == nullptr) return false;
    bytes = static_cast<char*>(moved);
    capacity = grown;
    return true;
  }

  bool Append(const char* text, SIZE_T count) {
    if (!Reserve(count)) return false;
    std::memcpy(bytes + length, text, count);
    length += count;
    return true;
  }

  // A bound value, converted to the code page.
  HRESULT AppendWide(const wchar_t* value) {
    const int needed = ::WideCharToMultiByte(CP_ACP, 0, value, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return E_FAIL;
    const auto count = static_cast<SIZE_T>(needed) - 1;
    if (!Reserve(count)) return E_OUTOFMEMORY;
    if (::WideCharToMultiByte(CP_ACP, 0, value, -1, bytes + length, needed, nullptr, nullptr) != needed) {
      return E_FAIL;
    }
    length += count;
    return S_OK;
  }
};

// The buffers of one run, each a block of its own: the token that every block
// shares and the scratch space of the value clause being read.
struct WorkArea {
  char* token;
  char* scratch;
  wchar_t* number;  // a "D" value's text for the conversion

  bool Allocate() {
    token = static_cast<char*>(::CoTaskMemAlloc(kScriptTokenBufferSize));
    scratch = static_cast<char*>(::CoTaskMemAlloc(kScriptTokenBufferSize));
    number = static_cast<wchar_t*>(::CoTaskMemAlloc(kScriptTokenBufferSize * sizeof(wchar_t)));
    return token != nullptr && scratch != nullptr && number != nullptr;
  }

  void Free() {
    ::CoTaskMemFree(token);
    ::CoTaskMemFree(scratch);
    ::CoTaskMemFree(number);
  }
};

// The key item a block is on: opening or creating a key replaces it, and it
// is closed when the block ends or fails.
class CurrentKey {
 public:
  CurrentKey() = default;
  CurrentKey(const CurrentKey&) = delete;
  CurrentKey& operator=(const CurrentKey&) = delete;
  ~CurrentKey() { Close(); }

  HKEY handle() const { return handle_; }
  void Set(HKEY key) { handle_ = key; }
  void Close() {
    if (handle_ != nullptr) ::RegCloseKey(handle_);
    handle_ = nullptr;
  }
  HKEY Detach() {
    HKEY key = handle_;
    handle_ = nullptr;
    return key;
  }

 private:
  HKEY handle_ = nullptr;
};

// Deletes parent\name with every key below it.
HRESULT DeleteKeyTree(HKEY parent, const char* name) {
  HKEY key = nullptr;
  const LONG status = ::RegOpenKeyExA(parent, name, 0, KEY_READ | KEY_WRITE, &key);
  if (status != ERROR_SUCCESS) return StatusResult(status);
  char subkey[kSubkeyNameSize];
  for (;;) {
    DWORD length = kSubkeyNameSize;
    if (::RegEnumKeyExA(key, 0, subkey, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    const HRESULT result = DeleteKeyTree(key, subkey);
    if (FAILED(result)) {
      ::RegCloseKey(key);
      return result;
    }
  }
  ::RegCloseKey(key);
  return StatusResult(::RegDeleteKeyA(parent, name));
}

class ScriptReader {
 public:
  explicit ScriptReader(const SubstitutionTable* table) : table_(table) {}

  HRESULT RunScript(const char* text, BOOL registerFlag);

 private:
  HRESULT ExpandSubstitutions(const char* text, char** expanded);
  HRESULT ProcessKeyBlock(char* token, HKEY parent, BOOL registerFlag, BOOL parseOnly, int depth);
  HRESULT RegisterItem(char* token, HKEY parent, CurrentKey& current, int depth);
  HRESULT UnregisterItem(char* token, HKEY parent, BOOL parseOnly, CurrentKey& current, int depth);
  HRESULT ReadKeyItemRest(char* token, HKEY key, BOOL parseOnly, int depth);
  HRESULT WriteValue(HKEY key, const char* valueName, char* token);
  HRESULT SkipValueClause(char* token);
  HRESULT ReadValueItem(char* token, char (&valueName)[kValueNameSize]);
  HRESULT ReadToken(char* buffer);
  void SkipBlanks();

  const SubstitutionTable* table_;
  const char* cursor_ = nullptr;
  WorkArea work_ = {};
};

HRESULT ScriptReader::ExpandSubstitutions(const char* text, char** expanded) {
  *expanded = nullptr;
  const SIZE_T textLength = std::strlen(text);
  if (textLength > SIZE_MAX / 4) return E_OUTOFMEMORY;
  ExpansionBuffer out;
  out.length = 0;
  out.capacity = textLength < 1 ? 2 : textLength * 2;
  out.bytes = static_cast<char*>(::CoTaskMemAlloc(out.capacity));
  if (out.bytes == nullptr) return E_OUTOFMEMORY;

  HRESULT result = S_OK;
  const char* p = text;
  while (*p != '\0' && SUCCEEDED(result)) {
    if (*p != '%') {
      const SIZE_T count = CharacterBytes(p);
      if (!out.Append(p, count)) result = E_OUTOFMEMORY;
      p += count;
    } else if (p[1] == '%') {
      if (!out.Append(p, 1)) result = E_OUTOFMEMORY;
      p += 2;
    } else {
      const char* name = p + 1;
      const char* close = name;
      while (*close != '\0' && *close != '%') close += CharacterBytes(close);
      const auto nameLength = static_cast<SIZE_T>(close - name);
      if (*close == '\0') {
        result = kScriptError;
      } else if (nameLength >= kSubstitutionNameSize) {
        result = E_FAIL;
      } else {
        char bound[kSubstitutionNameSize];
        std::memcpy(bound, name, nameLength);
        bound[nameLength] = '\0';
        const wchar_t* value = table_->Find(bound);
        result = value == nullptr ? kScriptError : out.AppendWide(value);
        p = close + 1;
      }
    }
  }
  if (FAILED(result)) {
    ::CoTaskMemFree(out.bytes);
    return result;
  }
  out.bytes[out.length] = '\0';
  *expanded = out.bytes;
  return S_OK;
}

HRESULT ScriptReader::RunScript(const char* text, BOOL registerFlag) {
  char* expanded = nullptr;
  HRESULT result = ExpandSubstitutions(text, &expanded);
  if (FAILED(result)) return result;
  if (!work_.Allocate()) {
    work_.Free();
    ::CoTaskMemFree(expanded);
    return E_OUTOFMEMORY;
  }
  char* token = work_.token;
  token[0] = '\0';
  cursor_ = expanded;
  while (*cursor_ != '\0') {
    result = ReadToken(token);
    if (FAILED(result)) break;
    const HKEY root = FindRootKey(token);
    if (root == nullptr) {
      result = kScriptError;
      break;
    }
    result = ReadToken(token);
    if (FAILED(result)) break;
    if (token[0] != '{') {
      result = kScriptError;
      break;
    }
    if (registerFlag) {
      // A root block that fails is read again as an unregistration, which
      // removes what it wrote; the blocks before it stay, the later ones are
      // not read.
      const char* blockStart = cursor_;
      result = ProcessKeyBlock(token, root, TRUE, FALSE, 1);
      if (FAILED(result)) {
        cursor_ = blockStart;
        ProcessKeyBlock(token, root, FALSE, FALSE, 1);
        break;
      }
    } else {
      result = ProcessKeyBlock(token, root, FALSE, FALSE, 1);
      if (FAILED(result)) break;
    }
    SkipBlanks();
  }
  work_.Free();
  work_ = {};
  cursor_ = nullptr;
  ::CoTaskMemFree(expanded);
  return result;
}

// Called with the block's opening token in the buffer; returns with its
// closing token there.
HRESULT ScriptReader::ProcessKeyBlock(char* token, HKEY parent, BOOL registerFlag, BOOL parseOnly, int depth) {
  // Deeper than any registry can hold; refused before the stack runs out.
  if (depth > kScriptBlockDepthLimit) return kScriptError;
  CurrentKey current;
  HRESULT result = ReadToken(token);
  while (SUCCEEDED(result) && token[0] != '}') {
    result = registerFlag ? RegisterItem(token, parent, current, depth)
                          : UnregisterItem(token, parent, parseOnly, current, depth);
  }
  return result;
}

HRESULT ScriptReader::RegisterItem(char* token, HKEY parent, CurrentKey& current, int depth) {
  HRESULT result = S_OK;
  const bool forceRemove = EqualNoCase(token, "ForceRemove");
  if (forceRemove || EqualNoCase(token, "Delete")) {
    result = ReadToken(token);
    if (FAILED(result)) return result;
    if (!IsKeyName(token)) return kScriptError;
    if (!IsProtectedKey(token)) DeleteKeyTree(parent, token);
    if (!forceRemove) {
      result = ReadToken(token);
      if (FAILED(result)) return result;
      return SkipValueClause(token);
    }
  }
  if (EqualNoCase(token, "NoRemove")) {
    result = ReadToken(token);
    if (FAILED(result)) return result;
  }
  if (EqualNoCase(token, "Val")) {
    char valueName[kValueNameSize];
    result = ReadValueItem(token, valueName);
    if (FAILED(result)) return result;
    return WriteValue(parent, valueName, token);
  }

  if (!IsKeyName(token)) return kScriptError;
  current.Close();
  HKEY key = nullptr;
  if (::RegOpenKeyExA(parent, token, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS &&
      ::RegOpenKeyExA(parent, token, 0, KEY_READ, &key) != ERROR_SUCCESS &&
      ::RegCreateKeyExA(parent, token, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
    return kScriptError;
  }
  current.Set(key);
  result = ReadToken(token);
  if (FAILED(result)) return result;
  if (token[0] == '=') {
    result = WriteValue(key, nullptr, token);
    if (FAILED(result)) return result;
  }
  if (IsBlockOpener(token)) {
    result = ProcessKeyBlock(token, key, TRUE, FALSE, depth + 1);
    if (FAILED(result)) return result;
    result = ReadToken(token);
  }
  return result;
}

HRESULT ScriptReader::UnregisterItem(char* token, HKEY parent, BOOL parseOnly, CurrentKey& current, int depth) {
  HRESULT result = S_OK;
  bool mayDelete = true;
  if (EqualNoCase(token, "ForceRemove") || EqualNoCase(token, "Delete")) {
    result = ReadToken(token);
    if (FAILED(result)) return result;
  }
  if (EqualNoCase(token, "NoRemove")) {
    mayDelete = false;
    result = ReadToken(token);
    if (FAILED(result)) return result;
  }
  if (EqualNoCase(token, "Val")) {
    char valueName[kValueNameSize];
    result = ReadValueItem(token, valueName);
    if (FAILED(result)) return result;
    if (!parseOnly) ::RegDeleteValueA(parent, valueName);
    return SkipValueClause(token);
  }

  if (!IsKeyName(token)) return kScriptError;
  if (parseOnly) return ReadKeyItemRest(token, nullptr, TRUE, depth);
  current.Close();
  // Opened so that the values the script names below it can be deleted; read
  // access alone still lets its subkeys be removed.
  HKEY key = nullptr;
  if (::RegOpenKeyExA(parent, token, 0, KEY_READ | KEY_SET_VALUE, &key) != ERROR_SUCCESS &&
      ::RegOpenKeyExA(parent, token, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return ReadKeyItemRest(token, nullptr, TRUE, depth);
  }
  current.Set(key);
  // A name that does not fit is never cut: a cut name could be another key's.
  char remembered[kRememberedNameSize];
  const SIZE_T nameLength = std::strlen(token);
  const bool nameFits = nameLength < kRememberedNameSize;
  if (nameFits) std::memcpy(remembered, token, nameLength + 1);

  result = ReadKeyItemRest(token, key, FALSE, depth);
  if (FAILED(result)) return result;
  // A key that still has subkeys (not all of them the script's) stays.
  DWORD subkeys = 0;
  if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS) {
    subkeys = 0;
  }
  if (subkeys != 0) return S_OK;
  if (::RegCloseKey(current.Detach()) != ERROR_SUCCESS) return kScriptError;
  if (mayDelete && nameFits) ::RegDeleteKeyA(parent, remembered);
  return S_OK;
}

// The rest of a key item being unregistered, after its name: the value clause
// read for its syntax, then the item's block, if any, with key as its parent.
// With parseOnly (a key that is missing, or that lies in a block read only for
// its syntax) the block is read and nothing in the registry touched. Returns
// with the token after the item in the buffer.
HRESULT ScriptReader::ReadKeyItemRest(char* token, HKEY key, BOOL parseOnly, int depth) {
  HRESULT result = ReadToken(token);
  if (FAILED(result)) return result;
  result = SkipValueClause(token);
  if (FAILED(result)) return result;
  if (!IsBlockOpener(token)) return S_OK;
  result = ProcessKeyBlock(token, key, FALSE, parseOnly, depth + 1);
  if (FAILED(result)) return result;
  return ReadToken(token);
}

// Called with the '=' token in the buffer; returns with the token after the
// value there. A value the registry refuses does not stop the script.
HRESULT ScriptReader::WriteValue(HKEY key, const char* valueName, char* token) {
  char* text = work_.scratch;
  HRESULT result = ReadToken(text);
  if (FAILED(result)) return result;
  const ValueType type = FindValueType(text);
  if (type == ValueType::kNone) return kScriptError;
  SkipBlanks();
  result = ReadToken(text);
  if (FAILED(result)) return result;

  switch (type) {
    case ValueType::kString:
      ::RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                       static_cast<DWORD>(std::strlen(text) + 1));
      break;
    case ValueType::kNumber: {
      // A text that is not a number is refused rather than stored as some number.
      if (::MultiByteToWideChar(CP_ACP, 0, text, -1, work_.number,
                                static_cast<int>(kScriptTokenBufferSize)) == 0) {
        return kScriptError;
      }
      ULONG number = 0;
      if (FAILED(::VarUI4FromStr(work_.number, 0, 0, &number))) return kScriptError;
      const DWORD data = number;
      ::RegSetValueExA(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
      break;
    }
    case ValueType::kBinary: {
      const SIZE_T digits = std::strlen(text);
      if (digits % 2 != 0) return E_FAIL;
      // Two digits per byte, the first in the high four bits; converted in place.
      auto* bytes = reinterpret_cast<unsigned char*>(text);
      for (SIZE_T i = 0; i < digits / 2; ++i) {
        bytes[i] = static_cast<unsigned char>(HexDigit(bytes[2 * i]) << 4 | HexDigit(bytes[2 * i + 1]));
      }
      ::RegSetValueExA(key, valueName, 0, REG_BINARY, bytes, static_cast<DWORD>(digits / 2));
      break;
    }
    case ValueType::kNone:
      break;
  }
  return ReadToken(token);
}

// A value clause read for its syntax only. Called with any token in the
// buffer; a clause begins with '='.
HRESULT ScriptReader::SkipValueClause(char* token) {
  if (token[0] != '=') return S_OK;
  HRESULT result = ReadToken(token);
  if (FAILED(result)) return result;
  SkipBlanks();
  result = ReadToken(work_.scratch);
  if (FAILED(result)) return result;
  return ReadToken(token);
}

// The rest of a "Val" item up to its value clause: the value's name, then the
// '=' that begins the clause, which is left in the buffer.
HRESULT ScriptReader::ReadValueItem(char* token, char (&valueName)[kValueNameSize]) {
  HRESULT result = ReadToken(token);
  if (FAILED(result)) return result;
  const SIZE_T length = std::strlen(token);
  if (length >= kValueNameSize) return kScriptError;
  std::memcpy(valueName, token, length + 1);
  result = ReadToken(token);
  if (FAILED(result)) return result;
  return token[0] == '=' ? S_OK : kScriptError;
}

// Reads the next token into buffer (kScriptTokenBufferSize bytes), which is
// always left terminated.
HRESULT ScriptReader::ReadToken(char* buffer) {
  buffer[0] = '\0';
  SkipBlanks();
  if (*cursor_ == '\0') return kScriptError;
  SIZE_T length = 0;
  if (*cursor_ == '\'') {
    ++cursor_;
    while (*cursor_ != '\0') {
      if (*cursor_ == '\'') {
        if (cursor_[1] != '\'') break;
        ++cursor_;  // of two apostrophes the second stands
      }
      if (length + 2 >= kScriptTokenBufferSize) {
        buffer[length] = '\0';
        return kScriptError;
      }
      const SIZE_T count = CharacterBytes(cursor_);
      std::memcpy(buffer + length, cursor_, count);
      length += count;
      cursor_ += count;
    }
    buffer[length] = '\0';
    if (*cursor_ == '\0') return kScriptError;
    ++cursor_;
    return S_OK;
  }
  while (*cursor_ != '\0' && !IsBlank(*cursor_)) {
    const SIZE_T count = CharacterBytes(cursor_);
    if (length + count >= kScriptTokenBufferSize) {
      buffer[length] = '\0';
      return kScriptError;
    }
    std::memcpy(buffer + length, cursor_, count);
    length += count;
    cursor_ += count;
  }
  buffer[length] = '\0';
  return S_OK;
}

void ScriptReader::SkipBlanks() {
  while (IsBlank(*cursor_)) ++cursor_;
}

}  // namespace

HRESULT RunRegistryScriptText(const char* text, BOOL registerFlag, const SubstitutionPair* substitutions) {
  if (text == nullptr) return E_POINTER;
  SubstitutionTable table;
  table.Init();
  for (const SubstitutionPair* pair = substitutions; pair != nullptr && pair->name != nullptr; ++pair) {
    table.Add(pair->name, pair->value);
  }
  ScriptReader reader(&table);
  const HRESULT result = reader.RunScript(text, registerFlag);
  table.Release();
  return result;
}

}  // namespace orvex
