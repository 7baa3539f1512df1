// Object names built in one static buffer, reused by every call.
#pragma once

#include <cstddef>

namespace orvex {

constexpr std::size_t kJoinNamesSize = 260;

// Returns the static buffer holding the non-null texts joined in order. Each
// result must be used before the next call. A join that would not fit gives
// the empty text, which names no rendezvous object.
const char* JoinNames(const char* first, const char* second = nullptr, const char* third = nullptr);

}  // namespace orvex
