// Comparing ASCII text without regard to case, the same in every locale:
// only 'A'..'Z' fold, whatever the code page or the user's language.
#pragma once

#include <cstddef>

namespace orvex {

template <typename Char>
constexpr Char AsciiLower(Char c) {
  return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

// Whether the first length characters of a (narrow or wide text) and of the
// narrow text b are equal without case; b's bytes are widened as unsigned.
template <typename Char>
bool EqualNoCase(const Char* a, const char* b, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (AsciiLower(a[i]) != AsciiLower(static_cast<Char>(static_cast<unsigned char>(b[i])))) return false;
  }
  return true;
}

// Whether the NUL-terminated a and b are equal without case.
inline bool EqualNoCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (AsciiLower(*a) != AsciiLower(*b)) return false;
  }
  return *a == *b;
}

}  // namespace orvex
