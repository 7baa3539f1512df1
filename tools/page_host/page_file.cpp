#include "page_file.h"

#include <windows.h>

namespace orvex::page_host {

namespace {

// Closes a file handle when it goes.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

bool Convert(UINT codePage, DWORD flags, const char* data, std::size_t size, std::wstring& text) {
  text.clear();
  if (size == 0) return true;
  const int length = ::MultiByteToWideChar(codePage, flags, data, static_cast<int>(size), nullptr, 0);
  if (length <= 0) return false;
  text.resize(static_cast<std::size_t>(length));
  return ::MultiByteToWideChar(codePage, flags, data, static_cast<int>(size), text.data(), length) == length;
}

}  // namespace

bool DecodePageBytes(const std::string& bytes, std::wstring& text) {
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    return Convert(CP_UTF8, 0, bytes.data() + 3, bytes.size() - 3, text);
  }
  if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFF\xFE") == 0) {
    const std::size_t units = (bytes.size() - 2) / 2;  // an odd last byte is dropped
    text.resize(units);
    for (std::size_t i = 0; i < units; ++i) {
      const auto low = static_cast<unsigned char>(bytes[2 + 2 * i]);
      const auto high = static_cast<unsigned char>(bytes[3 + 2 * i]);
      text[i] = static_cast<wchar_t>(low | (high << 8));
    }
    return true;
  }
  // Without a mark: UTF-8 when the bytes are valid UTF-8 (plain ASCII is), ANSI otherwise.
  if (Convert(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), bytes.size(), text)) return true;
  return Convert(CP_ACP, 0, bytes.data(), bytes.size(), text);
}

bool ReadPageFile(const std::wstring& path, std::wstring& text, std::wstring& error) {
  text.clear();
  FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.Get() == INVALID_HANDLE_VALUE) {
    error = L"cannot open the page (error " + std::to_wstring(::GetLastError()) + L")";
    return false;
  }
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file.Get(), &size)) {
    error = L"cannot read the size of the page (error " + std::to_wstring(::GetLastError()) + L")";
    return false;
  }
  if (size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > kMaxPageBytes) {
    error = L"the page is " + std::to_wstring(size.QuadPart) + L" bytes, more than the " +
            std::to_wstring(kMaxPageBytes) + L" a page may have";
    return false;
  }
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD read = 0;
    if (!::ReadFile(file.Get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read, nullptr)) {
      error = L"cannot read the page (error " + std::to_wstring(::GetLastError()) + L")";
      return false;
    }
    if (read == 0) break;  // the file shrank while it was read
    done += read;
  }
  bytes.resize(done);
  if (!DecodePageBytes(bytes, text)) {
    error = L"cannot decode the page's text";
    return false;
  }
  return true;
}

}  // namespace orvex::page_host
