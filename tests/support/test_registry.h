// The registry as tests set it up and inspect it: any value under any root,
// the maker's keys, viewer class registrations and the records of the test
// programs under HKCU, all removable per test.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "packed_version.h"

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
inline bool ReadMachineValue(const std::string& keyPath, const char* value, std::vector<unsigned char>* data) {
  return ReadRegistryValue(HKEY_LOCAL_MACHINE, keyPath, value, data);
}
inline void DeleteMachineKey(const std::string& keyPath) { ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, keyPath.c_str()); }

// The product's Version value as the product's own setup writes it (8 bytes),
// or only its first size bytes.
bool SetInstalledVersion(const std::string& product, PackedVersion version, DWORD size = 8);
// NextUpdateTime as the installer writes it: a UTC FILETIME, 8 bytes.
bool SetNextUpdateTime(const std::string& product, ULONGLONG fileTime);
inline bool HasNextUpdateTime(const std::string& product) {
  return ReadMachineValue(DownloadsKeyPath(product), "NextUpdateTime", nullptr);
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

}  // namespace orvex::test
