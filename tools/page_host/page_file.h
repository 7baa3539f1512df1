// Reading a page file into characters: bounded in size, UTF-8 (with or
// without its byte-order mark), UTF-16 little-endian with its mark, or else
// text in the system's ANSI code page.
#pragma once

#include <cstddef>
#include <string>

namespace orvex::page_host {

constexpr std::size_t kMaxPageBytes = 1024 * 1024;

// False, with a message saying why, when the file cannot be opened or read,
// is larger than kMaxPageBytes, or cannot be decoded.
bool ReadPageFile(const std::wstring& path, std::wstring& text, std::wstring& error);

// The decoding of ReadPageFile, on bytes already read.
bool DecodePageBytes(const std::string& bytes, std::wstring& text);

}  // namespace orvex::page_host
