#include "report_internet_error.h"

#include <wininet.h>

#include <cstdio>
#include <cstring>

namespace orvex {

namespace {

constexpr char kCaption[] = "Error Accessing Internet";
constexpr char kUnknownError[] = "Unknown Error";
constexpr DWORD kExtendedError = 12003;  // ERROR_INTERNET_EXTENDED_ERROR
constexpr std::size_t kMessageSize = 356;
constexpr std::size_t kSystemMessageSize = 256;

int Box(HWND owner, const char* text) { return ::MessageBoxA(owner, text, kCaption, MB_OK | MB_ICONERROR); }

// Appends "<what><last error>\n" to the text and shows it.
int BoxWithLastError(HWND owner, char (&text)[kMessageSize], const char* what) {
  const std::size_t used = std::strlen(text);
  std::snprintf(text + used, sizeof(text) - used, "%s%d\n", what, static_cast<int>(::GetLastError()));
  Box(owner, text);
  return 0;
}

}  // namespace

int ReportInternetError(HWND owner, DWORD errorCode) {
  if (errorCode == 0) {
    Box(owner, kUnknownError);
    return 1;
  }
  char systemMessage[kSystemMessageSize] = "";
  if (::FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, ::GetModuleHandleA("wininet.dll"),
                       errorCode, 0, systemMessage, sizeof(systemMessage), nullptr) == 0) {
    Box(owner, kUnknownError);
    return 1;
  }
  char text[kMessageSize];
  std::snprintf(text, sizeof(text), "Error code: %d\nMessage: %s\n", static_cast<int>(errorCode), systemMessage);
  if (errorCode != kExtendedError) return Box(owner, text);

  // The server sent a text of its own: show it after ours, unchanged.
  DWORD serverError = 0;
  DWORD length = 0;
  ::InternetGetLastResponseInfoA(&serverError, nullptr, &length);
  if (length == 0) return Box(owner, text);
  HLOCAL serverText = ::LocalAlloc(LPTR, length + 1);
  if (serverText == nullptr) {
    return BoxWithLastError(owner, text, "Unable to allocate memory to display. Internet error code. Error code: ");
  }
  DWORD fetched = length + 1;
  if (!::InternetGetLastResponseInfoA(&serverError, static_cast<char*>(serverText), &fetched)) {
    ::LocalFree(serverText);
    return BoxWithLastError(owner, text, "Unable to get Internet error. Error code: ");
  }
  const std::size_t textLength = std::strlen(text);
  const std::size_t serverLength = ::strnlen(static_cast<const char*>(serverText), length + 1);
  HLOCAL joined = ::LocalAlloc(LPTR, textLength + serverLength + 1);
  if (joined == nullptr) {
    ::LocalFree(serverText);
    return BoxWithLastError(owner, text, "Unable to allocate memory. Error code: ");
  }
  std::memcpy(joined, text, textLength);
  std::memcpy(static_cast<char*>(joined) + textLength, serverText, serverLength);
  ::LocalFree(serverText);
  const int result = Box(owner, static_cast<const char*>(joined));
  ::LocalFree(joined);
  return result;
}

}  // namespace orvex
