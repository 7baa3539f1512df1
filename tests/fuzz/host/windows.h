// Host stand-in for <windows.h> in the native fuzz build only: just the
// global-memory calls the product record parser makes, on top of the C heap,
// so the sanitizers see every block. Each block remembers its size for
// GlobalSize. hostFailingAllocation lets the fuzz entry make the n-th
// allocation from now fail (1 = the next one; 0 = none fails).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using HGLOBAL = void*;
using UINT = unsigned int;
using SIZE_T = std::size_t;

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

inline unsigned hostFailingAllocation = 0;

namespace host_memory {
constexpr std::size_t kHeader = alignof(std::max_align_t);
}

// Every block is zero-filled, as GPTR asks; the flags are otherwise ignored.
inline HGLOBAL GlobalAlloc(UINT, SIZE_T bytes) {
  if (hostFailingAllocation != 0 && --hostFailingAllocation == 0) return nullptr;
  if (bytes > SIZE_MAX - host_memory::kHeader) return nullptr;
  auto* base = static_cast<unsigned char*>(std::calloc(1, host_memory::kHeader + bytes));
  if (base == nullptr) return nullptr;
  *reinterpret_cast<SIZE_T*>(base) = bytes;
  return base + host_memory::kHeader;
}

inline SIZE_T GlobalSize(HGLOBAL block) {
  if (block == nullptr) return 0;
  return *reinterpret_cast<SIZE_T*>(static_cast<unsigned char*>(block) - host_memory::kHeader);
}

inline HGLOBAL GlobalFree(HGLOBAL block) {
  if (block != nullptr) std::free(static_cast<unsigned char*>(block) - host_memory::kHeader);
  return nullptr;
}
