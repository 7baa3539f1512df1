#include "product_info.h"

#include <windows.h>

#include <cstring>

namespace orvex {
namespace {

constexpr unsigned char kBar = '|';
constexpr unsigned char kFullStop = '.';

// States of the parser, by the field being read.
constexpr std::int32_t kInterval = 0;
constexpr std::int32_t kLatestVersion = 1;    // 1 to 4: components a to d
constexpr std::int32_t kSecondVersion = 5;    // 5 to 8
constexpr std::int32_t kPackageSize = 9;
constexpr std::int32_t kFirstTextNotBegun = 10;
constexpr std::int32_t kFirstTextOpen = 11;
constexpr std::int32_t kDescriptionNotBegun = 12;
constexpr std::int32_t kDescriptionOpen = 13;
constexpr std::int32_t kThirdVersion = 14;    // 14 to 17

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// Digits accumulate without an overflow test: the value wraps modulo 2^32.
void AccumulateNumber(std::uint32_t& number, unsigned char digit) {
  number = number * 10u + static_cast<std::uint32_t>(digit - '0');
}

// Component 0 is a (bits 48-63), 1 is b, 2 is c, 3 is d (bits 0-15). The
// component wraps modulo 2^16 and never spills into its neighbour.
void AccumulateComponent(PackedVersion& version, std::int32_t component, unsigned char digit) {
  std::uint32_t& half = component < 2 ? version.high : version.low;
  const unsigned shift = component % 2 == 0 ? 16u : 0u;
  const auto current = static_cast<std::uint16_t>(half >> shift);
  const auto next = static_cast<std::uint16_t>(current * 10u + static_cast<unsigned>(digit - '0'));
  half = (half & ~(0xFFFFu << shift)) | (static_cast<std::uint32_t>(next) << shift);
}

// A zero-filled global-memory block of length + 1 bytes holding head followed
// by tail; null when the size does not fit or the allocation fails.
char* AllocateText(const char* head, std::size_t headLength, const char* tail,
                   std::size_t tailLength) {
  if (headLength > SIZE_MAX - 1 || tailLength > SIZE_MAX - 1 - headLength) return nullptr;
  const std::size_t length = headLength + tailLength;
  auto* text = static_cast<char*>(GlobalAlloc(GPTR, length + 1));
  if (text == nullptr) return nullptr;
  if (headLength != 0) std::memcpy(text, head, headLength);
  if (tailLength != 0) std::memcpy(text + headLength, tail, tailLength);
  return text;
}

void FreeText(char*& text) {
  if (text != nullptr) {
    GlobalFree(text);
    text = nullptr;
  }
}

}  // namespace

void ProductInfo::Init() {
  parsed = false;
  parseState = kInterval;
  updateIntervalDays = 0;
  latestVersion = PackedVersion{};
  secondVersion = PackedVersion{};
  thirdVersion = PackedVersion{};
  packageSize = 0;
  firstText = nullptr;
  description = nullptr;
  carriedText = nullptr;
  carriedLength = 0;
}

void ProductInfo::Reset() {
  FreeText(firstText);
  FreeText(description);
  FreeText(carriedText);
  Init();
}

// The first text is the part carried from earlier chunks followed by part.
// A failed allocation is treated as a format error: the caller then empties
// the record, so no field is left holding a partial value.
bool ProductInfo::CloseFirstText(const char* part, std::size_t partLength) {
  char* text = AllocateText(carriedText, carriedLength, part, partLength);
  if (text == nullptr) return false;
  FreeText(carriedText);
  carriedLength = 0;
  firstText = text;
  return true;
}

bool ProductInfo::CloseDescription(const char* text, std::size_t length) {
  description = AllocateText(text, length, nullptr, 0);
  return description != nullptr;
}

// Called at the end of a chunk that leaves the first text open: the chunk's
// part of it is appended to what earlier chunks carried, since the chunk
// itself is gone once Feed returns.
bool ProductInfo::CarryFirstText(const char* part, std::size_t partLength) {
  char* carried = AllocateText(carriedText, carriedLength, part, partLength);
  if (carried == nullptr) return false;
  FreeText(carriedText);
  carriedText = carried;
  carriedLength += partLength;
  return true;
}

// One character in states firstState to firstState + 3 (components a to d).
// A full stop ends each component; after d a bar ends the version too.
void ProductInfo::StepVersion(PackedVersion& version, std::int32_t firstState, unsigned char c) {
  const std::int32_t component = parseState - firstState;
  if (IsDigit(c)) {
    AccumulateComponent(version, component, c);
  } else if (c == kFullStop || (c == kBar && component == 3)) {
    ++parseState;
  } else {
    parseState = kFormatError;
  }
}

void ProductInfo::Feed(const char* data, std::int32_t count) {
  std::size_t length = 0;
  if (data != nullptr) {
    if (count == -1) {
      length = std::strlen(data);
    } else if (count > 0) {
      length = static_cast<std::size_t>(count);
    }
  }

  // Where the open text begins in this chunk. A first text left open by the
  // previous chunk continues at this chunk's first character.
  std::size_t textStart = 0;

  std::size_t i = 0;
  for (; i < length && parseState != kFormatError; ++i) {
    const auto c = static_cast<unsigned char>(data[i]);
    switch (parseState) {
      case kInterval:
        if (IsDigit(c)) {
          AccumulateNumber(updateIntervalDays, c);
        } else if (c == kBar) {
          parseState = kLatestVersion;
        } else {
          parseState = kFormatError;
        }
        break;
      case kLatestVersion:
      case kLatestVersion + 1:
      case kLatestVersion + 2:
      case kLatestVersion + 3:
        StepVersion(latestVersion, kLatestVersion, c);
        break;
      case kSecondVersion:
      case kSecondVersion + 1:
      case kSecondVersion + 2:
      case kSecondVersion + 3:
        StepVersion(secondVersion, kSecondVersion, c);
        break;
      case kPackageSize:
        if (IsDigit(c)) {
          AccumulateNumber(packageSize, c);
        } else if (c == kBar) {
          parseState = kFirstTextNotBegun;
        } else {
          parseState = kFormatError;
        }
        break;
      case kFirstTextNotBegun:
        if (c == kBar) {
          parseState = kDescriptionNotBegun;
        } else {
          textStart = i;
          parseState = kFirstTextOpen;
        }
        break;
      case kFirstTextOpen:
        if (c == kBar) {
          parseState = CloseFirstText(data + textStart, i - textStart) ? kDescriptionNotBegun
                                                                        : kFormatError;
        }
        break;
      case kDescriptionNotBegun:
        if (c == kBar) {
          parseState = kThirdVersion;
        } else {
          textStart = i;
          parseState = kDescriptionOpen;
        }
        break;
      case kDescriptionOpen:
        if (c == kBar) {
          parseState = CloseDescription(data + textStart, i - textStart) ? kThirdVersion
                                                                          : kFormatError;
        }
        break;
      case kThirdVersion:
      case kThirdVersion + 1:
      case kThirdVersion + 2:
      case kThirdVersion + 3:
        StepVersion(thirdVersion, kThirdVersion, c);
        break;
      case kPastRecord:
        break;
      default:
        // Not a state this parser reaches; treat the record as malformed.
        parseState = kFormatError;
        break;
    }
  }

  // End of the chunk.
  if (parseState == kDescriptionOpen) {
    parseState = CloseDescription(data + textStart, length - textStart) ? kThirdVersion
                                                                          : kFormatError;
  } else if (parseState == kFirstTextOpen && length > textStart) {
    if (!CarryFirstText(data + textStart, length - textStart)) parseState = kFormatError;
  }
  if (parseState == kFormatError) {
    Reset();
  } else {
    parsed = true;
  }
}

}  // namespace orvex
