// The page host's event log: one plain-text line per event, appended to the
// file named by --log (the line format is described in page_host_main.cpp).
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace orvex::page_host {

class HostLog {
 public:
  HostLog() = default;
  ~HostLog();
  HostLog(const HostLog&) = delete;
  HostLog& operator=(const HostLog&) = delete;

  // Opens the file for appending (creating it when missing). False when it
  // cannot be opened; without a file every line is dropped.
  bool Open(const std::wstring& path);

  // A host-level event line.
  void Line(const std::string& text);
  // An event of the page's object `number` (1-based): "#<number> <text>".
  void Object(std::size_t number, const std::string& text);

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

// Field formats shared by every line.
std::string HexResult(HRESULT result);       // "0x8000FFFF": eight upper-case digits
std::string HexNumber(unsigned long value);  // "0x56000000": eight upper-case digits
std::string HexHandle(const void* handle);   // "0x1A2B": upper case, no leading zeros; "0x0" for null
std::string Utf8(const std::wstring& text);

}  // namespace orvex::page_host
