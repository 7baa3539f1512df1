// Writing and reading one registry value, under any root, for tests and doubles.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace orvex::test {

// Creates the key when missing.
bool WriteRegistryValue(HKEY root, const std::string& keyPath, const char* value, DWORD type, const void* data,
                        DWORD size);

// True when the value exists; its bytes go to data when given.
bool ReadRegistryValue(HKEY root, const std::string& keyPath, const char* value, std::vector<unsigned char>* data);

}  // namespace orvex::test
