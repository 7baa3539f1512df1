#include "install_check.h"

#include <windows.h>

#include <cstring>

#include "bounded_text.h"
#include "download_hosts.h"
#include "info_server_url.h"
#include "info_text.h"
#include "leader_mutex.h"
#include "message_wait.h"
#include "module_version.h"
#include "object_names.h"
#include "product_name.h"
#include "registry_paths.h"
#include "rendezvous_block.h"
#include "thread_checks.h"
#include "update_throttle.h"
#include "win_handles.h"

namespace orvex {

namespace {

constexpr char kQuillon[] = "Quillon";
constexpr char kQuillonViewer[] = "Quillon Viewer";
constexpr char kQuillonPlugin[] = "QuillonPlugin";
constexpr PackedVersion kQuillonMinimumVersion = PackedVersion::FromHighLow(0x000A0017, 6);
constexpr char kOldVersionCaption[] = "Latest version of Quillon is required";
constexpr char kOldVersionText[] =
    "Latest version of Quillon is required to view this document. "
    "Latest version will now be downloaded.";
constexpr char kClsidKeyPrefix[] = "CLSID\\";
constexpr char kInprocServerSuffix[] = "\\InprocServer32";
constexpr char kInstallerFileName[] = "\\OrvexInstaller.exe ";
constexpr DWORD kInstallerCreationFlags = CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS;
constexpr std::size_t kCommandLineSize = MAX_PATH + sizeof(kInstallerFileName) + kProductNameSize;
// How long a check waits for a mapping or the leader's mutex while another
// check holds the mutex without a mapping: a leader about to make it, or one
// closing what remains of its rendezvous, or a check about to find it present.
// None holds it that way for longer than a few calls.
constexpr DWORD kLeaderHandOverMs = 5000;
constexpr DWORD kHandOverSliceMs = 10;

// What one check holds. Members are released in reverse order: the installer's
// process and thread handles, the view, the mapping, both events, and last the
// leader's mutex, so that a leader is seen gone only once it let go of the rest.
struct CheckResources {
  LeaderMutex leader;
  UniqueHandle syncEvent;
  UniqueHandle installingEvent;
  UniqueHandle mapping;
  MappedView view;
  UniqueHandle installerThread;
  UniqueHandle installerProcess;

  RendezvousBlock* Block() const { return view.As<RendezvousBlock>(); }
};

// Every field of Info must fit the block field that receives it. A text that
// does not fit is refused as a whole: the check then ends without effect.
bool InfoFitsBlock(const InfoFields& fields) {
  return IsAcceptableProductName(fields.productName.text, fields.productName.length) &&
         fields.viewerClsid.length < kViewerClsidSize &&
         fields.downloadBaseUrl.length < kDownloadBaseUrlSize;
}

// Opens (creating when missing) HKLM\SOFTWARE\Brindlewood\<subkey><product>.
bool OpenMakerKey(const char* subkey, const char* product, REGSAM access, RegKey& key) {
  char path[kRegistryPathSize];
  if (!JoinText(path, sizeof(path), {kMakerKey, subkey, product})) return false;
  return ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, access, nullptr, key.Receive(),
                           nullptr) == ERROR_SUCCESS;
}

// Reads at most size bytes of a value into data; a longer value reads as missing.
bool ReadRawValue(HKEY key, const char* value, void* data, DWORD size) {
  BYTE buffer[8] = {};
  DWORD length = sizeof(buffer);
  if (size > sizeof(buffer)) return false;
  if (::RegQueryValueExA(key, value, nullptr, nullptr, buffer, &length) != ERROR_SUCCESS) return false;
  if (length > size) return false;
  std::memcpy(data, buffer, length);
  return true;
}

// The default value of HKCR\CLSID\<clsid>\InprocServer32: the viewer module.
bool ReadViewerModulePath(const char* clsid, char (&path)[kRegistryPathSize]) {
  char keyPath[kRegistryPathSize];
  if (!JoinText(keyPath, sizeof(keyPath), {kClsidKeyPrefix, clsid, kInprocServerSuffix})) return false;
  RegKey key;
  if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, keyPath, 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS) {
    return false;
  }
  DWORD type = 0;
  DWORD length = sizeof(path);
  if (::RegQueryValueExA(key.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path), &length) !=
      ERROR_SUCCESS) {
    return false;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  // The text must end inside the buffer; a value that fills it without a NUL is too long.
  if (length == 0 || ::strnlen(path, length) >= length) {
    if (length >= sizeof(path)) return false;
    path[length] = '\0';
  }
  return true;
}

// The installed version and product name from the viewer's module. An
// old Quillon is reported with a box; without mayAsk nothing is shown and the
// result is false when the box would have been due.
bool ReadViewerModule(RendezvousBlock& block, bool mayAsk) {
  char path[kRegistryPathSize];
  if (!ReadViewerModulePath(block.viewerClsid, path)) return true;

  char moduleName[kProductNameSize];
  std::memcpy(moduleName, block.productName, sizeof(moduleName));
  if (ReadModuleVersion(path, &block.installedVersion, moduleName) == 0) return true;

  if (std::strcmp(moduleName, kQuillonViewer) == 0) {
    CopyText(block.productName, kQuillonPlugin);
    block.installedVersion = PackedVersion{};
    return true;
  }
  // The module's name becomes a file, key and URL name: take it only when it
  // is acceptable as a product name, as the name from Info must be.
  if (IsAcceptableProductName(moduleName)) CopyText(block.productName, moduleName);

  if (std::strcmp(block.productName, kQuillon) == 0 && block.installedVersion < kQuillonMinimumVersion) {
    if (!mayAsk) return false;
    ::MessageBoxA(::GetActiveWindow(), kOldVersionText, kOldVersionCaption, MB_OK | MB_ICONINFORMATION);
    block.installedVersion = PackedVersion{};
  }
  return true;
}

// Fills every field of the block. Without mayAsk nothing is shown, and
// the result is false when the user would have been told of an old version.
bool FillBlock(const InfoFields& fields, RendezvousBlock& block, bool mayAsk) {
  CopyText(block.productName, kProductNameSize, fields.productName.text, fields.productName.length);
  block.infoBaseUrl[0] = '\0';
  block.downloadBaseUrl[0] = '\0';
  block.viewerClsid[0] = '\0';
  CopyText(block.viewerClsid, kViewerClsidSize, fields.viewerClsid.text, fields.viewerClsid.length);
  // A page names the download base URL: one that leads anywhere but the
  // information server or a mirror, or whose path is not plain, is treated
  // as not given.
  if (IsAllowedDownloadBaseUrl(fields.downloadBaseUrl.text, fields.downloadBaseUrl.length)) {
    CopyText(block.downloadBaseUrl, kDownloadBaseUrlSize, fields.downloadBaseUrl.text,
             fields.downloadBaseUrl.length);
  }
  CopyText(block.infoBaseUrl, kBuiltInInfoBaseUrl);
  block.installedVersion = PackedVersion{};

  if (block.viewerClsid[0] != '\0' && !ReadViewerModule(block, mayAsk)) return false;

  if (block.downloadBaseUrl[0] == '\0') {
    char lowerName[kProductNameSize];
    CopyText(lowerName, block.productName);
    ::CharLowerBuffA(lowerName, static_cast<DWORD>(std::strlen(lowerName)));
    // Fits by construction: the base URL's length is checked at compile time.
    JoinText(block.downloadBaseUrl, kDownloadBaseUrlSize,
             {block.infoBaseUrl, lowerName, kDefaultDownloadFolder});
  }

  if (block.installedVersion.IsZero()) {
    RegKey key;
    if (OpenMakerKey("", block.productName, KEY_QUERY_VALUE, key)) {
      ReadRawValue(key.Get(), kVersionValue, &block.installedVersion, sizeof(block.installedVersion));
    }
  }
  return true;
}

// With a version installed, is a check for updates due? A due
// NextUpdateTime is deleted when mayDelete is set.
bool UpdateCheckDue(const RendezvousBlock& block, bool mayDelete) {
  RegKey key;
  const REGSAM access = mayDelete ? KEY_QUERY_VALUE | KEY_SET_VALUE : KEY_QUERY_VALUE;
  if (!OpenMakerKey(kDownloadsSubkey, block.productName, access, key)) return true;
  FILETIME next = {};
  ReadRawValue(key.Get(), kNextUpdateTimeValue, &next, sizeof(next));
  FILETIME now = {};
  ::GetSystemTimeAsFileTime(&now);
  const bool shiftHeld = ::GetKeyState(VK_SHIFT) < 0;
  if (!IsUpdateCheckDue(now, next, shiftHeld)) return false;
  if (mayDelete) ::RegDeleteValueA(key.Get(), kNextUpdateTimeValue);
  return true;
}

// Most checks find the product installed and the next check not yet due.
// When no rendezvous of this name is running, that is settled here, from the
// registry alone, before any named object is made: the leader's steps are
// taken on a block of our own, showing nothing and deleting nothing. Whatever
// is not plainly "not due" (a rendezvous running, nothing installed, an old
// version to report, a check due) goes the whole way, from the start.
bool SettledAsNotDue(const InfoFields& fields, const char* rendezvousName) {
  char mappingName[kObjectNameSize];
  if (!BuildObjectName(kInfoPrefix, rendezvousName, mappingName, sizeof(mappingName))) return false;
  UniqueHandle running(::OpenFileMappingA(FILE_MAP_READ, FALSE, mappingName));
  if (running || ::GetLastError() != ERROR_FILE_NOT_FOUND) return false;

  RendezvousBlock block = {};
  if (!FillBlock(fields, block, /*mayAsk=*/false)) return false;
  if (block.installedVersion.IsZero()) return false;
  return !UpdateCheckDue(block, /*mayDelete=*/false);
}

// Starts the installer from the Windows directory with the rendezvous name.
bool StartInstaller(const char* rendezvousName, CheckResources& check) {
  char windowsDir[MAX_PATH];
  const UINT length = ::GetWindowsDirectoryA(windowsDir, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  char commandLine[kCommandLineSize];
  if (!JoinText(commandLine, sizeof(commandLine), {windowsDir, kInstallerFileName, rendezvousName})) {
    return false;
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, kInstallerCreationFlags, nullptr,
                        nullptr, &startup, &process)) {
    return false;
  }
  check.installerProcess.Reset(process.hProcess);
  check.installerThread.Reset(process.hThread);
  return true;
}

// Keeps the host window minimised and disabled until the installer releases
// the rendezvous ("installing_", the first handle) or another of the handles
// ends the wait: for the leader the installer's process, which may end without
// releasing it (crashed or killed); for a follower the leader's mutex. Returns
// the index of the handle that ended it.
DWORD WaitForFirstInstallation(HWND activeWindow, const HANDLE* handles, DWORD count) {
  ::ShowWindow(activeWindow, SW_MINIMIZE);
  ::EnableWindow(activeWindow, FALSE);
  const DWORD ended = WaitPumpingMessages(handles, count);
  ::EnableWindow(activeWindow, TRUE);
  ::ShowWindow(activeWindow, SW_RESTORE);
  return ended;
}

// Creates or opens the "info_" mapping; existed tells whether it was there
// before. The leader's mutex decides who may create it: a check that owns the
// mutex creates it, and leads when it did not exist; a check that does not
// own the mutex opens the mapping of the one that does, or waits (bounded)
// until there is one to open or the mutex is free.
bool OpenMapping(const char* rendezvousName, CheckResources& check, bool& existed) {
  char mappingName[kObjectNameSize];
  if (!BuildObjectName(kInfoPrefix, rendezvousName, mappingName, sizeof(mappingName))) return false;
  const ULONGLONG deadline = ::GetTickCount64() + kLeaderHandOverMs;
  for (;;) {
    if (check.leader.Owned()) {
      check.mapping.Reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               kRendezvousBlockSize, mappingName));
      existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
      return check.mapping.Valid();
    }
    check.mapping.Reset(::OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, mappingName));
    if (check.mapping) {
      existed = true;
      return true;
    }
    if (::GetTickCount64() >= deadline) return false;
    check.leader.Own(kHandOverSliceMs);
  }
}

}  // namespace

void InstallCheck(const char* info) {
  const InfoFields fields = SplitInfo(info);
  if (!InfoFitsBlock(fields)) return;

  char rendezvousName[kProductNameSize];
  CopyText(rendezvousName, kProductNameSize, fields.productName.text, fields.productName.length);
  if (SettledAsNotDue(fields, rendezvousName)) return;
  // A check of this product nested on a thread that already runs one (from a
  // message its box or its wait dispatched) has nothing to do: the check
  // beneath it carries the rendezvous, and only that one restores the window.
  const ThreadCheck onThread(rendezvousName);
  if (onThread.Nested()) return;
  const HWND activeWindow = ::GetActiveWindow();

  // The leader owns its mutex before the mapping exists, so that whoever
  // finds the mapping can watch the leader's life.
  CheckResources check;
  bool existed = false;
  if (!check.leader.Open(rendezvousName) || !OpenMapping(rendezvousName, check, existed)) return;
  // A follower that could take a leader's mutex that was there before finds
  // the leader gone, released or abandoned by its ended process; whatever
  // remains of the rendezvous (an installer alone) ends without this check.
  if (existed && check.leader.Existed() && check.leader.Owned()) return;
  check.view.Reset(::MapViewOfFile(check.mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, kRendezvousBlockSize));
  if (!check.view) return;

  char objectName[kObjectNameSize];
  if (!BuildObjectName(kInstallingPrefix, rendezvousName, objectName, sizeof(objectName))) return;
  check.installingEvent.Reset(::CreateEventA(nullptr, TRUE, FALSE, objectName));
  const bool installingExisted = ::GetLastError() == ERROR_ALREADY_EXISTS;
  if (!check.installingEvent) return;
  if (!BuildObjectName(kSyncPrefix, rendezvousName, objectName, sizeof(objectName))) return;
  check.syncEvent.Reset(::CreateEventA(nullptr, TRUE, FALSE, objectName));
  if (!check.syncEvent) return;

  RendezvousBlock& block = *check.Block();
  if (!existed) {
    // Leader. Whenever it gives up without an installer holding the
    // rendezvous, it sets "installing_" itself, so that a follower that
    // joined meanwhile is not left waiting for an installer that never runs.
    const auto releaseFollowers = [&check] { ::SetEvent(check.installingEvent.Get()); };

    FillBlock(fields, block, /*mayAsk=*/true);
    if (!block.installedVersion.IsZero() && !UpdateCheckDue(block, /*mayDelete=*/true)) return releaseFollowers();
    if (!StartInstaller(rendezvousName, check)) return releaseFollowers();

    const HANDLE handles[] = {check.syncEvent.Get(), check.installerProcess.Get()};
    if (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0) return releaseFollowers();

    if (!block.installedVersion.IsZero()) return;
    const HANDLE installation[] = {check.installingEvent.Get(), check.installerProcess.Get()};
    WaitForFirstInstallation(activeWindow, installation, 2);
    // The installer set "installing_" when it ended; if it died instead, do it for it.
    return releaseFollowers();
  }

  // Follower: another check or an installer holds this rendezvous. The
  // leader's mutex is watched in every wait: when the leader is gone, nothing
  // it or its installer has not done yet can be counted on. A mutex that this
  // check made itself, and so owns, means a leader that does not know it, or
  // no leader at all: the check then follows on the events alone, as before,
  // unless it made "installing_" itself. Nobody else holds that one, so
  // nobody would ever set it: the check sets it, for any follower that opened
  // it meanwhile, and returns.
  if (check.leader.Owned()) {
    check.leader.Close();
    if (!installingExisted) {
      ::SetEvent(check.installingEvent.Get());
      return;
    }
  }

  // The block is the leader's to fill, and a follower can come in between the
  // leader's creating the mapping and its filling it: read it only once the
  // installer acknowledged ("sync_"), which comes after the filling. Read
  // earlier, it would still be all zero and an update would look like a first
  // installation. When "installing_" is set, the rendezvous is over (or the
  // leader gave up): nothing to wait for. The host stays responsive meanwhile,
  // as it does during a first installation.
  const bool watchLeader = check.leader.Get() != nullptr;
  const HANDLE settled[] = {check.installingEvent.Get(), check.syncEvent.Get(), check.leader.Get()};
  const DWORD count = watchLeader ? 3 : 2;
  const DWORD ended = WaitPumpingMessages(settled, count);
  if (watchLeader && ended == 2) return check.leader.Acquired();
  if (::WaitForSingleObject(check.installingEvent.Get(), 0) != WAIT_TIMEOUT) return;
  if (::WaitForSingleObject(check.syncEvent.Get(), 0) != WAIT_OBJECT_0) return;
  if (!block.installedVersion.IsZero()) return;
  // A first installation, followed only while its leader is there.
  if (watchLeader && check.leader.Own(0)) return;
  const HANDLE installation[] = {check.installingEvent.Get(), check.leader.Get()};
  if (WaitForFirstInstallation(activeWindow, installation, count - 1) == 1) check.leader.Acquired();
}

}  // namespace orvex
