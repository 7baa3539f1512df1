// The page host's command line.
#pragma once

#include <string>
#include <vector>

#include "client_site.h"

namespace orvex::page_host {

// Exit codes, listed in the usage text.
enum ExitCode : int {
  kExitOk = 0,              // the page was read; every object was created, loaded and activated
  kExitUsage = 1,           // the command line is wrong
  kExitPageUnreadable = 2,  // the page cannot be read, is too large, or passes a bound
  kExitHostFailed = 3,      // OLE or the host window could not be set up
  kExitCreateFailed = 4,    // an object could not be created (or is no OLE object)
  kExitLoadFailed = 5,      // an object failed to load its parameters
  kExitActivateFailed = 6,  // an object failed to activate
};

struct HostOptions {
  std::wstring page;
  std::wstring logPath;  // empty: no log
  SiteOptions site;
  long verb = -5;  // OLEIVERB_INPLACEACTIVATE
  std::vector<long> thenVerbs;
  bool closeAfter = false;  // with closeAfterMs: a timed run instead of waiting for the user
  unsigned long closeAfterMs = 0;
  bool help = false;
};

constexpr unsigned long kMaxCloseAfterMs = 600000;

// False, with a message, when the arguments (without the program name) are wrong.
bool ParseHostOptions(const std::vector<std::wstring>& arguments, HostOptions& options, std::wstring& error);

// The usage text, exit codes included.
const wchar_t* UsageText();

}  // namespace orvex::page_host
