// A GUI program that does nothing: the yardstick the benchmarks hold the
// installer against. It starts as a GUI program does (its thread gets a
// message queue), then
//   idle_program.exe                  ends at once;
//   idle_program.exe signal NAME      sets the named event NAME and ends;
//   idle_program.exe hold READY QUIT  sets READY, then waits (a minute at most)
//                                     for QUIT before it ends.
// Exit code 0, or 1 when an event could not be opened.
//
// Built a second time with ORVEX_IDLE_WITH_INSTALLER_IMPORTS, it imports the
// system modules the installer imports, so that the loader maps the same
// ones: the difference between the two shows what loading them costs.
#include <windows.h>

#include <cstring>

#ifdef ORVEX_IDLE_WITH_INSTALLER_IMPORTS
#include <commctrl.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wininet.h>
#include <wintrust.h>
#endif

namespace {

constexpr int kMaxWords = 3;
constexpr std::size_t kWordSize = 128;
constexpr DWORD kHoldLimitMs = 60000;

struct Words {
  char text[kMaxWords][kWordSize] = {};
  int count = 0;
};

// Splits the command line at blanks; more words than expected, or a word too
// long for its buffer, make the line unusable (count -1).
Words SplitWords(const char* line) {
  Words words;
  while (*line != '\0') {
    while (*line == ' ' || *line == '\t') ++line;
    if (*line == '\0') break;
    if (words.count == kMaxWords) return Words{{}, -1};
    std::size_t length = 0;
    while (line[length] != '\0' && line[length] != ' ' && line[length] != '\t') ++length;
    if (length >= kWordSize) return Words{{}, -1};
    std::memcpy(words.text[words.count], line, length);
    ++words.count;
    line += length;
  }
  return words;
}

bool SetNamedEvent(const char* name) {
  HANDLE event = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
  if (event == nullptr) return false;
  const bool set = ::SetEvent(event) != FALSE;
  ::CloseHandle(event);
  return set;
}

#ifdef ORVEX_IDLE_WITH_INSTALLER_IMPORTS
// One function of each module, referenced and never called.
struct InstallerImports {
  decltype(&::InternetCloseHandle) wininet;
  decltype(&::WinVerifyTrust) wintrust;
  decltype(&::CertGetNameStringA) crypt32;
  decltype(&::InitCommonControlsEx) comctl32;
  decltype(&::CreateDIBSection) gdi32;
  decltype(&::RegCloseKey) advapi32;
};
volatile InstallerImports gInstallerImports = {&::InternetCloseHandle, &::WinVerifyTrust, &::CertGetNameStringA,
                                               &::InitCommonControlsEx, &::CreateDIBSection, &::RegCloseKey};
#endif

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
#ifdef ORVEX_IDLE_WITH_INSTALLER_IMPORTS
  (void)gInstallerImports.wininet;
#endif
  MSG message;
  ::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);

  const Words words = SplitWords(commandLine != nullptr ? commandLine : "");
  if (words.count == 0) return 0;
  if (words.count == 2 && std::strcmp(words.text[0], "signal") == 0) {
    return SetNamedEvent(words.text[1]) ? 0 : 1;
  }
  if (words.count == 3 && std::strcmp(words.text[0], "hold") == 0) {
    HANDLE quit = ::OpenEventA(SYNCHRONIZE, FALSE, words.text[2]);
    if (quit == nullptr || !SetNamedEvent(words.text[1])) {
      if (quit != nullptr) ::CloseHandle(quit);
      return 1;
    }
    ::WaitForSingleObject(quit, kHoldLimitMs);
    ::CloseHandle(quit);
    return 0;
  }
  return 1;
}
