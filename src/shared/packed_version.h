// A product version a.b.c.d packed into 64 bits, 16 bits per component.
#pragma once

#include <cstdint>

namespace orvex {

// Two 64-bit quantities stored as (high, low) halves compare like one signed
// 64-bit integer: the high halves as signed values, and only when they are
// equal the low halves as unsigned values. Returns -1, 0 or 1.
constexpr int CompareSplit64(std::uint32_t highA, std::uint32_t lowA,
                             std::uint32_t highB, std::uint32_t lowB) {
  const auto sa = static_cast<std::int32_t>(highA);
  const auto sb = static_cast<std::int32_t>(highB);
  if (sa != sb) return sa < sb ? -1 : 1;
  if (lowA != lowB) return lowA < lowB ? -1 : 1;
  return 0;
}

// Laid out as stored: low 32 bits (c.d) first, then the high 32 bits (a.b),
// little-endian, exactly as the registry value "Version" holds it.
struct PackedVersion {
  std::uint32_t low;   // c in bits 16-31, d in bits 0-15
  std::uint32_t high;  // a in bits 16-31, b in bits 0-15

  static constexpr PackedVersion Make(std::uint16_t a, std::uint16_t b,
                                      std::uint16_t c, std::uint16_t d) {
    return PackedVersion{(static_cast<std::uint32_t>(c) << 16) | d,
                         (static_cast<std::uint32_t>(a) << 16) | b};
  }
  static constexpr PackedVersion FromHighLow(std::uint32_t high, std::uint32_t low) {
    return PackedVersion{low, high};
  }

  constexpr bool IsZero() const { return low == 0 && high == 0; }
  constexpr std::uint64_t Value() const {
    return (static_cast<std::uint64_t>(high) << 32) | low;
  }
};

constexpr int ComparePackedVersions(const PackedVersion& a, const PackedVersion& b) {
  return CompareSplit64(a.high, a.low, b.high, b.low);
}

constexpr bool operator<(const PackedVersion& a, const PackedVersion& b) {
  return ComparePackedVersions(a, b) < 0;
}
constexpr bool operator==(const PackedVersion& a, const PackedVersion& b) {
  return a.high == b.high && a.low == b.low;
}
constexpr bool operator!=(const PackedVersion& a, const PackedVersion& b) { return !(a == b); }

static_assert(sizeof(PackedVersion) == 8, "PackedVersion is stored as 8 raw bytes");

}  // namespace orvex
