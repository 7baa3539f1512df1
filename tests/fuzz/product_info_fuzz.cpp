// Fuzz entry for the product record parser, built natively with libFuzzer and
// the address, leak and undefined-behaviour sanitizers.
//
// Input: three control bytes, then the record data.
//   byte 0, byte 1  two split points (each modulo data length + 1): the data is
//                   fed in three chunks, each from its own exactly sized heap
//                   buffer that is freed right after its Feed
//   byte 2          low four bits: 0 = every allocation succeeds, n = the n-th
//                   allocation of the chunked run fails
//
// Checks, besides the sanitizers' own: each Check below says what it holds
// (README, "Fuzzing", lists them).
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "product_info.h"

// The global-memory calls the parser makes, on the C heap so that the
// sanitizers see every block; each block keeps its size for GlobalSize.
// hostFailingAllocation makes the n-th allocation from now fail (1 = the next
// one; 0 = none fails).
unsigned hostFailingAllocation = 0;
constexpr std::size_t kBlockHeader = alignof(std::max_align_t);

HGLOBAL WINAPI GlobalAlloc(UINT, SIZE_T bytes) {
  if (hostFailingAllocation != 0 && --hostFailingAllocation == 0) return nullptr;
  if (bytes > SIZE_MAX - kBlockHeader) return nullptr;
  auto* base = static_cast<unsigned char*>(std::calloc(1, kBlockHeader + bytes));
  if (base == nullptr) return nullptr;
  std::memcpy(base, &bytes, sizeof(bytes));
  return base + kBlockHeader;
}

SIZE_T WINAPI GlobalSize(HGLOBAL block) {
  SIZE_T size = 0;
  if (block != nullptr) std::memcpy(&size, static_cast<unsigned char*>(block) - kBlockHeader, sizeof(size));
  return size;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL block) {
  if (block != nullptr) std::free(static_cast<unsigned char*>(block) - kBlockHeader);
  return nullptr;
}

namespace {

using orvex::ProductInfo;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "product record check failed: %s\n", what);
    std::abort();
  }
}

bool IsEmpty(const ProductInfo& r) {
  return !r.parsed && r.parseState == 0 && r.updateIntervalDays == 0 &&
         r.latestVersion.IsZero() && r.secondVersion.IsZero() && r.thirdVersion.IsZero() &&
         r.packageSize == 0 && r.firstText == nullptr && r.description == nullptr;
}

// A text's bytes as its block holds them, after checking the block's shape.
std::string BlockText(char* text) {
  if (text == nullptr) return std::string();
  const SIZE_T size = GlobalSize(text);
  Check(size >= 2, "a text block holds at least one character and its NUL");
  Check(text[size - 1] == '\0', "a text ends with a NUL at the end of its block");
  Check(std::memchr(text, '|', size - 1) == nullptr, "a text holds no bar");
  return std::string(text, size - 1);
}

void CheckRecord(const ProductInfo& r) {
  Check(r.parseState >= 0 && r.parseState <= 18, "state 0 to 18 after a chunk");
  Check(r.parseState != 13, "a chunk end closes the description");
  if (!r.parsed) Check(IsEmpty(r), "a chunk that did not end parsed leaves the record empty");
  if (r.firstText != nullptr) Check(r.parseState >= 12, "first text only once closed");
  if (r.description != nullptr) Check(r.parseState >= 14, "description only once closed");
  BlockText(r.firstText);
  BlockText(r.description);
}

bool SameRecord(const ProductInfo& a, const ProductInfo& b) {
  return a.parsed == b.parsed && a.parseState == b.parseState &&
         a.updateIntervalDays == b.updateIntervalDays && a.latestVersion == b.latestVersion &&
         a.secondVersion == b.secondVersion && a.thirdVersion == b.thirdVersion &&
         a.packageSize == b.packageSize && (a.firstText == nullptr) == (b.firstText == nullptr) &&
         (a.description == nullptr) == (b.description == nullptr) &&
         BlockText(a.firstText) == BlockText(b.firstText) &&
         BlockText(a.description) == BlockText(b.description);
}

// Feeds one chunk from a heap copy of exactly its size, freed afterwards, so
// that reading past the chunk or keeping hold of it is caught.
void FeedCopy(ProductInfo& record, const std::uint8_t* data, std::size_t size) {
  auto* copy = static_cast<char*>(std::malloc(size == 0 ? 1 : size));
  Check(copy != nullptr, "memory for the chunk");
  if (size != 0) std::memcpy(copy, data, size);
  record.Feed(copy, static_cast<std::int32_t>(size));
  std::free(copy);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t inputSize) {
  if (inputSize < 3 || inputSize > 0x100000) return 0;
  const std::uint8_t* data = input + 3;
  const std::size_t size = inputSize - 3;

  ProductInfo whole;
  whole.Init();
  hostFailingAllocation = 0;
  FeedCopy(whole, data, size);
  CheckRecord(whole);
  if (whole.parsed && whole.parseState >= 12) {
    const std::string needle =
        "|" + BlockText(whole.firstText) + "|" + BlockText(whole.description);
    const std::string text(reinterpret_cast<const char*>(data), size);
    Check(text.find(needle) != std::string::npos, "texts stand in the data as |first|description");
  }

  std::size_t first = input[0] % (size + 1);
  std::size_t second = input[1] % (size + 1);
  if (first > second) std::swap(first, second);
  const std::size_t bounds[4] = {0, first, second, size};
  const unsigned failing = input[2] & 0x0Fu;

  ProductInfo chunked;
  chunked.Init();
  hostFailingAllocation = failing;
  bool comparable = true;
  for (int i = 0; i < 3; ++i) {
    const bool failureArmed = hostFailingAllocation != 0;
    FeedCopy(chunked, data + bounds[i], bounds[i + 1] - bounds[i]);
    CheckRecord(chunked);
    if (failureArmed && hostFailingAllocation == 0) {
      Check(IsEmpty(chunked), "a failed allocation empties the record");
      comparable = false;
    }
    if (i < 2 && (!chunked.parsed || chunked.parseState == 14)) comparable = false;
  }
  hostFailingAllocation = 0;
  if (comparable) Check(SameRecord(whole, chunked), "chunks give the one-chunk record");

  chunked.Reset();
  Check(IsEmpty(chunked), "Reset empties the record");
  whole.Reset();
  Check(IsEmpty(whole), "Reset empties the record");
  return 0;
}
