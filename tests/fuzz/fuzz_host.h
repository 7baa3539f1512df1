// What the three fuzz entries share: a check that aborts with its reason (the
// fuzzer then keeps the input), and a ledger of the allocations the code under
// test makes through the stand-in platform, which can make one of them fail and
// refuses any single block over a limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

inline void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
  }
}

namespace ledger {

inline unsigned failing = 0;          // the n-th allocation from now fails (1 = the next one); 0 = none
inline bool failed = false;           // an allocation was made to fail
inline unsigned count = 0;            // allocations asked for
inline std::size_t limit = SIZE_MAX;  // no single block may be larger

// Arms the n-th allocation from now to fail (0 = none) under a block limit.
inline void Arm(unsigned n, std::size_t blockLimit = SIZE_MAX) {
  failing = n;
  failed = false;
  count = 0;
  limit = blockLimit;
}

// False when this allocation is the one made to fail.
inline bool Allow(std::size_t bytes) {
  Check(bytes <= limit, "no single allocation is far larger than the input");
  ++count;
  if (failing == 0 || --failing != 0) return true;
  failed = true;
  return false;
}

}  // namespace ledger
