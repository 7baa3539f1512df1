// The built control module as tests reach it: its path, registration with the
// platform's regsvr32, and programs of this architecture run to their end.
#pragma once

#include <windows.h>

#include <string>

namespace orvex::test {

// The absolute form of a path.
std::string FullPath(const std::string& path);

// OrvexInstaller.dll in the build's bin folder.
std::string ControlModulePath();

// Runs a command line and waits up to a minute; its exit code, or 0xFFFFFFFF
// when it could not be started.
DWORD RunProgram(const std::string& commandLine);

// regsvr32 of this architecture on the control module ("/s", or "/s /u" to unregister).
DWORD RegisterControlModule();
DWORD UnregisterControlModule();

}  // namespace orvex::test
