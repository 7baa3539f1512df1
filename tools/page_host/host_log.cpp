#include "host_log.h"

#include <cstdint>

namespace orvex::page_host {

namespace {

std::string Hex(std::uint64_t value, int minimumDigits) {
  static const char kDigits[] = "0123456789ABCDEF";
  char buffer[17];
  int length = 0;
  do {
    buffer[length++] = kDigits[value & 0xF];
    value >>= 4;
  } while (value != 0 && length < 16);
  while (length < minimumDigits) buffer[length++] = '0';
  std::string text = "0x";
  while (length > 0) text.push_back(buffer[--length]);
  return text;
}

}  // namespace

HostLog::~HostLog() {
  if (file_ != INVALID_HANDLE_VALUE) ::CloseHandle(file_);
}

bool HostLog::Open(const std::wstring& path) {
  if (file_ != INVALID_HANDLE_VALUE) ::CloseHandle(file_);
  file_ = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  return file_ != INVALID_HANDLE_VALUE;
}

void HostLog::Line(const std::string& text) {
  if (file_ == INVALID_HANDLE_VALUE) return;
  // One write per line, so a line is never split by another writer or a crash.
  const std::string line = text + "\n";
  DWORD written = 0;
  ::WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void HostLog::Object(std::size_t number, const std::string& text) { Line("#" + std::to_string(number) + " " + text); }

std::string HexResult(HRESULT result) { return Hex(static_cast<std::uint32_t>(result), 8); }

std::string HexNumber(unsigned long value) { return Hex(value, 8); }

std::string HexHandle(const void* handle) { return Hex(reinterpret_cast<std::uintptr_t>(handle), 1); }

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace orvex::page_host
