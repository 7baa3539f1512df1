// A not-due update check: the product is installed (Version set) and its
// NextUpdateTime lies ten years ahead, so put_Info looks for a running
// rendezvous, reads the two registry values and returns without making any
// named object or starting anything. Measured against the same registry
// reads made directly, and against each part of the check on its own, to
// show where the time goes:
//   put_info            put_Info through the dual interface's vtable
//   install_check       the check on the ANSI text, without COM
//   rendezvous_probe    the look for a running rendezvous ("info_" opened, not found)
//   check_registry      the two keys opened with create semantics, as the check does
//   check_other_calls   system time, Shift key, lowercase name
//   check_calls         the three above in the check's order, without its logic
//   direct_reads        the two keys opened and their values read (the baseline)
//   rendezvous_objects  what a due check makes before it knows: the "info_"
//                       mapping and view, the two events, all released
// Every call is timed alone; the variants take turns in a rotating order.
// Output: "notdue <variant> <round> <median ns>" per variant and round.
#include <windows.h>
#include <oleauto.h>

#include <cstring>

#include "bench_clock.h"
#include "bench_runs.h"
#include "bench_setup.h"
#include "turns.h"
#include "install_check.h"
#include "object_names.h"
#include "registry_paths.h"
#include "rendezvous_block.h"

namespace orvex::bench {

namespace {

constexpr int kVariantCount = 8;
constexpr const char* kVariantNames[kVariantCount] = {
    "put_info",       "install_check",     "rendezvous_probe", "check_registry",
    "check_other_calls", "check_calls", "direct_reads",     "rendezvous_objects"};
constexpr int kWarmUpCalls = 50;
constexpr ULONGLONG kTenYears = 3650 * kFileTimeTicksPerDay;

struct NotDueCase {
  IOrvexInstallerCtl* control;
  BSTR info;
  std::string product;
  std::string makerKey;
  std::string downloadsKey;
  std::string mappingName;
  std::string installingName;
  std::string syncName;
};

void ReadValue(HKEY key, const char* value) {
  BYTE data[8];
  DWORD size = sizeof(data);
  ::RegQueryValueExA(key, value, nullptr, nullptr, data, &size);
}

void ReadDirectly(const NotDueCase& c) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, c.makerKey.c_str(), 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    ReadValue(key, kVersionValue);
    ::RegCloseKey(key);
  }
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, c.downloadsKey.c_str(), 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    ReadValue(key, kNextUpdateTimeValue);
    ::RegCloseKey(key);
  }
}

void ReadAsTheCheckDoes(const NotDueCase& c) {
  HKEY key = nullptr;
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, c.makerKey.c_str(), 0, nullptr, 0, KEY_QUERY_VALUE, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
    ReadValue(key, kVersionValue);
    ::RegCloseKey(key);
  }
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, c.downloadsKey.c_str(), 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        nullptr, &key, nullptr) == ERROR_SUCCESS) {
    ReadValue(key, kNextUpdateTimeValue);
    ::RegCloseKey(key);
  }
}

bool LookForRendezvous(const NotDueCase& c) {
  HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, c.mappingName.c_str());
  if (mapping == nullptr) return false;
  ::CloseHandle(mapping);
  return true;
}

void MakeRendezvousObjects(const NotDueCase& c) {
  HANDLE mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        static_cast<DWORD>(kRendezvousBlockSize), c.mappingName.c_str());
  void* view = mapping != nullptr ? ::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kRendezvousBlockSize)
                                  : nullptr;
  HANDLE installing = ::CreateEventA(nullptr, TRUE, FALSE, c.installingName.c_str());
  HANDLE sync = ::CreateEventA(nullptr, TRUE, FALSE, c.syncName.c_str());
  if (view != nullptr) {
    std::memset(view, 0, kRendezvousBlockSize);
    ::UnmapViewOfFile(view);
  }
  for (HANDLE h : {mapping, installing, sync}) {
    if (h != nullptr) ::CloseHandle(h);
  }
}

void MakeOtherCalls(const NotDueCase& c) {
  char lower[64];
  std::strncpy(lower, c.product.c_str(), sizeof(lower) - 1);
  lower[sizeof(lower) - 1] = '\0';
  ::CharLowerBuffA(lower, static_cast<DWORD>(std::strlen(lower)));
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  volatile SHORT shift = ::GetKeyState(VK_SHIFT);
  (void)shift;
}

// The platform calls of a not-due check, in its order.
void MakeTheCheckCalls(const NotDueCase& c) {
  if (LookForRendezvous(c)) return;
  char lower[64];
  std::strncpy(lower, c.product.c_str(), sizeof(lower) - 1);
  lower[sizeof(lower) - 1] = '\0';
  ::CharLowerBuffA(lower, static_cast<DWORD>(std::strlen(lower)));
  ReadAsTheCheckDoes(c);
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  volatile SHORT shift = ::GetKeyState(VK_SHIFT);
  (void)shift;
}

void RunVariant(int variant, const NotDueCase& c) {
  switch (variant) {
    case 0: c.control->put_Info(c.info); break;
    case 1: InstallCheck(c.product.c_str()); break;
    case 2: LookForRendezvous(c); break;
    case 3: ReadAsTheCheckDoes(c); break;
    case 4: MakeOtherCalls(c); break;
    case 5: MakeTheCheckCalls(c); break;
    case 6: ReadDirectly(c); break;
    default: MakeRendezvousObjects(c); break;
  }
}

}  // namespace

int RunNotDueBench(IOrvexInstallerCtl* control, const std::string& product, int rounds, int calls) {
  ForgetProduct(product);
  const ULONGLONG next = NowAsFileTime() + kTenYears;
  if (!SetInstalledVersion(product, PackedVersion::Make(1, 0, 0, 1)) || !SetNextUpdateTime(product, next)) {
    Report("error cannot write the product's registry values");
    return 1;
  }
  const std::wstring wideProduct(product.begin(), product.end());
  NotDueCase c{control,
               ::SysAllocString(wideProduct.c_str()),
               product,
               MakerKeyPath(product),
               DownloadsKeyPath(product),
               kInfoPrefix + product,
               kInstallingPrefix + product,
               kSyncPrefix + product};

  MeasureInTurns(
      kVariantCount, kWarmUpCalls, rounds, calls, [&c](int variant) { RunVariant(variant, c); },
      [](int variant, int round, long long ns) { Report("notdue %s %d %lld", kVariantNames[variant], round, ns); });
  ::SysFreeString(c.info);

  // The check must have found itself not due every time: a due check deletes
  // NextUpdateTime and starts the installer.
  ULONGLONG after = 0;
  const bool kept = ReadNextUpdateTime(product, after) && after == next;
  HANDLE installer = OpenChildProcess("OrvexInstaller.exe", SYNCHRONIZE);
  if (installer != nullptr) ::CloseHandle(installer);
  ForgetProduct(product);
  if (!kept || installer != nullptr) {
    Report("error the check was due: it started the installer or removed NextUpdateTime");
    return 1;
  }
  return 0;
}

}  // namespace orvex::bench
