#include "bounded_text.h"

#include <cstring>

namespace orvex {

bool CopyText(char* dest, std::size_t destSize, const char* source, std::size_t length) {
  if (destSize == 0) return false;
  if (length >= destSize) {
    dest[0] = '\0';
    return false;
  }
  if (length != 0) std::memmove(dest, source, length);
  dest[length] = '\0';
  return true;
}

bool CopyText(char* dest, std::size_t destSize, const char* source) {
  return CopyText(dest, destSize, source, std::strlen(source));
}

bool JoinText(char* dest, std::size_t destSize, std::initializer_list<const char*> parts) {
  if (destSize == 0) return false;
  dest[0] = '\0';
  for (const char* part : parts) {
    if (!AppendText(dest, destSize, part)) return false;
  }
  return true;
}

bool AppendText(char* dest, std::size_t destSize, const char* source) {
  const std::size_t used = ::strnlen(dest, destSize);
  const std::size_t length = std::strlen(source);
  if (used >= destSize || length >= destSize - used) {
    if (destSize != 0) dest[0] = '\0';
    return false;
  }
  std::memcpy(dest + used, source, length + 1);
  return true;
}

void JoinTextCut(char* dest, std::size_t destSize, std::initializer_list<const char*> parts) {
  if (destSize == 0) return;
  std::size_t used = 0;
  for (const char* part : parts) {
    if (part == nullptr) continue;
    const std::size_t length = ::strnlen(part, destSize - 1 - used);
    std::memcpy(dest + used, part, length);
    used += length;
  }
  dest[used] = '\0';
}

}  // namespace orvex
