// How tests talk to the installer double: per rendezvous name, a registry key
// under HKCU holds the behaviour the test chose and what the double saw, and
// two named events let a test hold the double after it opened the rendezvous.
// Rendezvous names are case-sensitive but registry key names are not, so the
// key and event names carry the rendezvous name hex-encoded.
#pragma once

#include <windows.h>

#include <string>

namespace orvex::test {

enum class DoubleMode : DWORD {
  kRelease,                // acknowledge on "sync_" and release "installing_" at once
  kHold,                   // acknowledge, signal "held", wait for "go", then release
  kNoAcknowledge,          // end at once without opening anything
  kHangBeforeAcknowledge,  // open everything, signal "held", wait for "go", end without acknowledging
};

std::string HexName(const std::string& rendezvousName);
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
constexpr char kOpenedValue[] = "Opened";  // DWORD: 1 when the mapping and both events opened

// Values under HKCU.
bool WriteString(const std::string& keyPath, const char* value, const std::string& text);
bool WriteDword(const std::string& keyPath, const char* value, DWORD data);
bool ReadString(const std::string& keyPath, const char* value, std::string& text);
bool ReadDword(const std::string& keyPath, const char* value, DWORD& data);

}  // namespace orvex::test
