// What the benchmarks arrange in their prefix before they measure: the
// maker's registry values of a product, the downloads folder, the programs
// they start, and the installer processes they wait for.
#pragma once

#include <windows.h>

#include <string>

#include "packed_version.h"

namespace orvex::bench {

// HKLM\SOFTWARE\Brindlewood\<product> and ...\Downloads\<product>.
std::string MakerKeyPath(const std::string& product);
std::string DownloadsKeyPath(const std::string& product);

// Removes both keys of the product: nothing installed, no check recorded.
void ForgetProduct(const std::string& product);
bool SetInstalledVersion(const std::string& product, PackedVersion version);
bool SetNextUpdateTime(const std::string& product, ULONGLONG fileTime);
// The product's NextUpdateTime; false when there is none.
bool ReadNextUpdateTime(const std::string& product, ULONGLONG& fileTime);
void DeleteNextUpdateTime(const std::string& product);
ULONGLONG NowAsFileTime();
constexpr ULONGLONG kFileTimeTicksPerDay = 864000000000ULL;

// %ProgramFiles%\Brindlewood\Downloads, where the installer puts packages.
std::string DownloadsFolder();
std::string Lowercase(std::string text);

// The folder of the running program, and the Windows directory.
std::string ProgramFolder();
std::string WindowsFolder();

// A process this process started, found by its file name ("OrvexInstaller.exe",
// case-insensitive), opened with the given rights; null when there is none.
HANDLE OpenChildProcess(const char* fileName, DWORD access);

// Waits for the installer of this rendezvous to let go of it: "installing_"
// set and "sync_" gone, so that the next check makes fresh objects. The
// event is "installing_" + name, opened before the check. False after timeoutMs.
bool WaitForRendezvousEnd(HANDLE installingEvent, const std::string& name, DWORD timeoutMs);

// Starts a program with the creation flags the install check uses; the
// handles go to process (thread handle closed). False when it cannot start.
bool StartProgram(const std::string& commandLine, HANDLE& process);

// Prints one result line, flushed at once: the driver's only output.
void Report(const char* format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));

}  // namespace orvex::bench
