#include "product_name.h"

#include <cstring>

#include "rendezvous_block.h"

namespace orvex {

bool IsAcceptableProductName(const char* name, std::size_t length) {
  if (length > kMaxProductNameLength) return false;
  if ((length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.')) {
    return false;
  }
  for (std::size_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c < 0x20) return false;
    if (std::strchr("\\/:*?\"<>|", c) != nullptr) return false;
    // The name is also a segment of the record's URL path.
    if (std::strchr("#%&;", c) != nullptr) return false;
  }
  return true;
}

bool IsAcceptableProductName(const char* name) {
  return IsAcceptableProductName(name, ::strnlen(name, kMaxProductNameLength + 1));
}

}  // namespace orvex
