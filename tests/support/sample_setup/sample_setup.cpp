// A sample setup package: the program the installer downloads as
// <product>_<a>-<b>-<c>-<d>.exe and starts without arguments. It takes product
// and version from its own file name, records its run for tests, writes the
// product's Version under the maker's key and, for the viewer product, installs
// and registers the sample viewer module it carries as a resource. After one
// run the next install check finds the product installed.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "packed_version.h"
#include "product_name.h"
#include "registry_paths.h"
#include "sample_setup_record.h"
#include "sample_viewer_clsid.h"
#include "win_handles.h"

namespace {

using orvex::PackedVersion;
using orvex::RegKey;
using orvex::UniqueHandle;
namespace t = orvex::test;

// The version resource of the embedded viewer module, as "a,b,c,d".
constexpr PackedVersion kViewerVersion = PackedVersion::Make(ORVEX_SAMPLE_VIEWER_VERSION);

struct PackageName {
  char product[50];  // the block's productName field size
  PackedVersion version;
};

// Reads a decimal number of 1 to 5 digits, at most 65535, that ends at stop.
// On success text points past stop.
bool ParseComponent(const char*& text, const char* end, char stop, std::uint16_t* value) {
  std::uint32_t number = 0;
  int digits = 0;
  while (text < end && *text >= '0' && *text <= '9') {
    if (++digits > 5) return false;
    number = number * 10 + static_cast<std::uint32_t>(*text - '0');
    ++text;
  }
  if (digits == 0 || number > 0xFFFF) return false;
  if (stop == '\0') {
    if (text != end) return false;
  } else {
    if (text == end || *text != stop) return false;
    ++text;
  }
  *value = static_cast<std::uint16_t>(number);
  return true;
}

// "<product>_<a>-<b>-<c>-<d>.exe": the product is everything before the last
// '_' and must be a usable product name; each component is 0 to 65535.
bool ParsePackageName(const char* fileName, PackageName* name) {
  const std::size_t length = std::strlen(fileName);
  if (length <= 4 || ::lstrcmpiA(fileName + length - 4, ".exe") != 0) return false;
  const char* const end = fileName + length - 4;
  const char* underscore = nullptr;
  for (const char* p = fileName; p < end; ++p) {
    if (*p == '_') underscore = p;
  }
  if (underscore == nullptr || underscore == fileName) return false;
  const auto productLength = static_cast<std::size_t>(underscore - fileName);
  if (productLength >= sizeof(name->product) || !orvex::IsAcceptableProductName(fileName, productLength)) {
    return false;
  }

  std::uint16_t parts[4] = {};
  const char* text = underscore + 1;
  for (int i = 0; i < 4; ++i) {
    if (!ParseComponent(text, end, i < 3 ? '-' : '\0', &parts[i])) return false;
  }
  std::memcpy(name->product, fileName, productLength);
  name->product[productLength] = '\0';
  name->version = PackedVersion::Make(parts[0], parts[1], parts[2], parts[3]);
  return true;
}

bool CreateKey(HKEY root, const char* path, REGSAM access, RegKey* key) {
  return ::RegCreateKeyExA(root, path, 0, nullptr, 0, access, nullptr, key->Receive(), nullptr) == ERROR_SUCCESS;
}

bool SetValue(HKEY key, const char* value, DWORD type, const void* data, DWORD size) {
  return ::RegSetValueExA(key, value, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

bool SetText(HKEY key, const char* value, const char* text) {
  return SetValue(key, value, REG_SZ, text, static_cast<DWORD>(std::strlen(text) + 1));
}

bool SetDword(HKEY key, const char* value, DWORD number) {
  return SetValue(key, value, REG_DWORD, &number, sizeof(number));
}

// A DWORD value, or 0 when it is missing or not a DWORD.
DWORD GetDword(HKEY key, const char* value) {
  DWORD type = 0;
  DWORD number = 0;
  DWORD size = sizeof(number);
  if (::RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(&number), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof(number)) {
    return 0;
  }
  return number;
}

DWORD ParentProcessId() {
  const UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return 0;
  const DWORD self = ::GetCurrentProcessId();
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32First(snapshot.Get(), &entry); more; more = ::Process32Next(snapshot.Get(), &entry)) {
    if (entry.th32ProcessID == self) return entry.th32ParentProcessID;
  }
  return 0;
}

// Writes the run's record and returns how long to hold before ending.
bool RecordRun(const char* product, const char* ownPath, DWORD* holdMs) {
  *holdMs = 0;
  char keyPath[128];
  const int written = std::snprintf(keyPath, sizeof(keyPath), "%s%s", t::kSampleSetupRecordKey, product);
  if (written < 0 || static_cast<std::size_t>(written) >= sizeof(keyPath)) return false;
  RegKey key;
  if (!CreateKey(HKEY_CURRENT_USER, keyPath, KEY_QUERY_VALUE | KEY_SET_VALUE, &key)) return false;
  *holdMs = GetDword(key.Get(), "HoldMs");
  // A setup that replaces its own file, as one updating itself: a running
  // program cannot be deleted, but it can be renamed away and another file
  // put in its place. It tries for a bounded time, since its starter may
  // close the file just after the start.
  if (GetDword(key.Get(), "ReplaceSelf") != 0) {
    char oldPath[MAX_PATH + 8];
    bool replaced = false;
    if (std::snprintf(oldPath, sizeof(oldPath), "%s.old", ownPath) < static_cast<int>(sizeof(oldPath))) {
      for (int attempt = 0; attempt < 200 && !replaced; ++attempt) {
        replaced = ::MoveFileExA(ownPath, oldPath, MOVEFILE_REPLACE_EXISTING) != FALSE;
        if (!replaced) ::Sleep(50);
      }
    }
    if (replaced) {
      const UniqueHandle file(::CreateFileA(ownPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
      DWORD count = 0;
      replaced = file && ::WriteFile(file.Get(), "replaced", 8, &count, nullptr) && count == 8;
    }
    SetDword(key.Get(), "SelfReplaced", replaced ? 1 : 0);
  }
  const DWORD runs = GetDword(key.Get(), "Runs") + 1;
  bool ok = SetText(key.Get(), "CommandLine", ::GetCommandLineA());
  ok = SetText(key.Get(), "Path", ownPath) && ok;
  ok = SetDword(key.Get(), "Pid", ::GetCurrentProcessId()) && ok;
  ok = SetDword(key.Get(), "ParentPid", ParentProcessId()) && ok;
  // Runs goes last: a test that sees it change finds the rest already written.
  return SetDword(key.Get(), "Runs", runs) && ok;
}

bool WriteVersion(const char* product, PackedVersion version) {
  char keyPath[orvex::kRegistryPathSize];
  const int written = std::snprintf(keyPath, sizeof(keyPath), "%s%s", orvex::kMakerKey, product);
  if (written < 0 || static_cast<std::size_t>(written) >= sizeof(keyPath)) return false;
  RegKey key;
  if (!CreateKey(HKEY_LOCAL_MACHINE, keyPath, KEY_SET_VALUE, &key)) return false;
  // Stored as it lies in memory: low 32 bits first, little-endian.
  return SetValue(key.Get(), orvex::kVersionValue, REG_BINARY, &version, sizeof(version));
}

// Writes the embedded viewer module to modulePath, replacing any file there.
bool WriteViewerModule(const char* modulePath) {
  const HRSRC resource = ::FindResourceA(nullptr, MAKEINTRESOURCEA(ORVEX_SAMPLE_VIEWER_RESOURCE), RT_RCDATA);
  if (resource == nullptr) return false;
  const DWORD size = ::SizeofResource(nullptr, resource);
  const HGLOBAL loaded = ::LoadResource(nullptr, resource);
  const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  if (data == nullptr || size == 0) return false;

  UniqueHandle file(::CreateFileA(modulePath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
  if (!file) return false;
  DWORD written = 0;
  const bool complete = ::WriteFile(file.Get(), data, size, &written, nullptr) && written == size;
  const bool closed = ::CloseHandle(file.Release()) != FALSE;
  if (complete && closed) return true;
  ::DeleteFileA(modulePath);  // leave no cut-off module behind
  return false;
}

// <Program Files>\Brindlewood\Quillon\QuillonViewer.dll, registered under the
// viewer's class identifier.
bool InstallViewer() {
  char programFiles[MAX_PATH];
  const DWORD expanded = ::ExpandEnvironmentStringsA("%ProgramFiles%", programFiles, MAX_PATH);
  if (expanded == 0 || expanded > MAX_PATH || programFiles[0] == '%') return false;

  char folder[MAX_PATH];
  char modulePath[MAX_PATH];
  int written = std::snprintf(folder, sizeof(folder), "%s\\%s", programFiles, t::kSampleViewerFolder);
  if (written < 0 || static_cast<std::size_t>(written) >= sizeof(folder)) return false;
  written = std::snprintf(modulePath, sizeof(modulePath), "%s\\%s", folder, t::kSampleViewerFile);
  if (written < 0 || static_cast<std::size_t>(written) >= sizeof(modulePath)) return false;

  // Each level of the folder below Program Files; one that exists already is
  // fine, and one that cannot be made shows up when the module is written.
  const std::size_t base = std::strlen(programFiles) + 1;
  for (char* p = folder + base; *p != '\0'; ++p) {
    if (*p != '\\') continue;
    *p = '\0';
    ::CreateDirectoryA(folder, nullptr);
    *p = '\\';
  }
  ::CreateDirectoryA(folder, nullptr);
  if (!WriteViewerModule(modulePath)) return false;

  char keyPath[orvex::kRegistryPathSize];
  written = std::snprintf(keyPath, sizeof(keyPath), "CLSID\\%s\\InprocServer32", t::kSampleViewerClsid);
  if (written < 0 || static_cast<std::size_t>(written) >= sizeof(keyPath)) return false;
  RegKey key;
  return CreateKey(HKEY_CLASSES_ROOT, keyPath, KEY_SET_VALUE, &key) && SetText(key.Get(), nullptr, modulePath);
}

// Holds for HoldMs, then for the go event when a test made one; both bounded.
void HoldBeforeEnding(const char* product, DWORD holdMs) {
  if (holdMs != 0) ::Sleep(holdMs < t::kSampleSetupGoWaitMs ? holdMs : t::kSampleSetupGoWaitMs);
  char eventName[128];
  const int written = std::snprintf(eventName, sizeof(eventName), "%s%s", t::kSampleSetupGoEventPrefix, product);
  if (written < 0 || static_cast<std::size_t>(written) >= sizeof(eventName)) return;
  const UniqueHandle go(::OpenEventA(SYNCHRONIZE, FALSE, eventName));
  if (go) ::WaitForSingleObject(go.Get(), t::kSampleSetupGoWaitMs);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char ownPath[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(nullptr, ownPath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return static_cast<int>(t::kSampleSetupBadName);
  const char* fileName = ownPath;
  for (const char* p = ownPath; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/') fileName = p + 1;
  }
  PackageName name;
  if (!ParsePackageName(fileName, &name)) return static_cast<int>(t::kSampleSetupBadName);

  DWORD holdMs = 0;
  bool ok = RecordRun(name.product, ownPath, &holdMs);
  if (::lstrcmpiA(name.product, t::kSampleViewerProduct) == 0) {
    // What is installed is the carried module, whatever the file name says.
    ok = InstallViewer() && WriteVersion(name.product, kViewerVersion) && ok;
  } else {
    ok = WriteVersion(name.product, name.version) && ok;
  }
  HoldBeforeEnding(name.product, holdMs);
  return static_cast<int>(ok ? t::kSampleSetupInstalled : t::kSampleSetupFailed);
}
