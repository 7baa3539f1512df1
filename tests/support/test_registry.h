// The registry as tests set it up and inspect it: any value under any root,
// the maker's keys, viewer class registrations and the records of the test
// programs under HKCU, all removable per test; and the test program's files.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "packed_version.h"
#include "rendezvous_block.h"
#include "win_handles.h"

namespace orvex::test {

// Creates the key when missing.
bool WriteRegistryValue(HKEY root, const std::string& keyPath, const char* value, DWORD type, const void* data,
                        DWORD size);
// True when the value exists; its bytes go to data when given.
bool ReadRegistryValue(HKEY root, const std::string& keyPath, const char* value, std::vector<unsigned char>* data);

// Values under HKCU.
bool WriteString(const std::string& keyPath, const char* value, const std::string& text);
bool WriteDword(const std::string& keyPath, const char* value, DWORD data);
bool ReadString(const std::string& keyPath, const char* value, std::string& text);
bool ReadDword(const std::string& keyPath, const char* value, DWORD& data);

// HKLM\SOFTWARE\Brindlewood\<product> and ...\Downloads\<product>.
inline std::string MakerKeyPath(const std::string& product) { return "SOFTWARE\\Brindlewood\\" + product; }
inline std::string DownloadsKeyPath(const std::string& product) { return MakerKeyPath("Downloads\\" + product); }
inline void DeleteMachineKey(const std::string& keyPath) { ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, keyPath.c_str()); }

// The product's Version value as the product's own setup writes it (8 bytes),
// or only its first size bytes.
bool SetInstalledVersion(const std::string& product, PackedVersion version, DWORD size = 8);
// NextUpdateTime as the installer writes it: a UTC FILETIME, 8 bytes.
bool SetNextUpdateTime(const std::string& product, ULONGLONG fileTime);
inline bool HasNextUpdateTime(const std::string& product) {
  return ReadRegistryValue(HKEY_LOCAL_MACHINE, DownloadsKeyPath(product), "NextUpdateTime", nullptr);
}
ULONGLONG NowAsFileTime();
constexpr ULONGLONG kFileTimeTicksPerDay = 864000000000ULL;

// HKCR\CLSID\<clsid>\InprocServer32 = modulePath, and its removal.
bool RegisterViewerModule(const std::string& clsid, const std::string& modulePath);
inline void UnregisterViewerModule(const std::string& clsid) {
  ::RegDeleteTreeA(HKEY_CLASSES_ROOT, ("CLSID\\" + clsid).c_str());
}

// Removes everything a test of this product name may have left: the maker's
// keys and the installer double's record and mode.
void ForgetProduct(const std::string& product);
void ForgetDoubleRecord(const std::string& rendezvousName);

// A file next to the running test program.
std::string TestFilePath(const char* fileName);
// A whole file's bytes written (replacing it) or read ("" when unreadable).
bool WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);

// The installer double (installer_double.cpp stands in for OrvexInstaller.exe)
// and the test's side of it. Per rendezvous name, a key under HKCU holds the
// behaviour the test chose and what the double saw, and two named events let a
// test hold the double after it opened the rendezvous. Rendezvous names are
// case-sensitive but key names are not: keys and events carry the name in hex.
enum class DoubleMode : DWORD {
  kRelease,                // acknowledge on "sync_" and release "installing_" at once
  kHold,                   // acknowledge, signal "held", wait for "go", then release
  kHangBeforeAcknowledge,  // open everything, signal "held", wait for "go", end without acknowledging
};

std::string DoubleRecordKeyPath(const std::string& rendezvousName);  // under HKCU
std::string DoubleHeldEventName(const std::string& rendezvousName);
std::string DoubleGoEventName(const std::string& rendezvousName);

// Registry value names of the record.
constexpr char kModeValue[] = "Mode";  // DWORD, a DoubleMode
constexpr char kRunsValue[] = "Runs";
constexpr char kCommandLineValue[] = "CommandLine";
constexpr char kArgumentValue[] = "Argument";
constexpr char kPidValue[] = "Pid";
constexpr char kBlockValue[] = "Block";

void UseDouble(const std::string& rendezvousName, DoubleMode mode);

struct DoubleRecord {
  DWORD runs = 0;
  std::string commandLine;
  std::string argument;
  DWORD pid = 0;
  RendezvousBlock block = {};  // as the double read it; zeroed when it opened nothing
};

// runs == 0 when the double never ran for this name.
DoubleRecord ReadDoubleRecord(const std::string& rendezvousName);

// For kHold and kHangBeforeAcknowledge: the events through which the double
// says it holds the rendezvous and the test lets it go. Created before the
// check starts; lets go when destroyed.
class DoubleHold {
 public:
  explicit DoubleHold(const std::string& rendezvousName);
  ~DoubleHold() { LetGo(); }

  bool WaitHeld(DWORD timeoutMs) const { return ::WaitForSingleObject(held_.Get(), timeoutMs) == WAIT_OBJECT_0; }
  void LetGo() const { ::SetEvent(go_.Get()); }

 private:
  UniqueHandle held_;
  UniqueHandle go_;
};

}  // namespace orvex::test
