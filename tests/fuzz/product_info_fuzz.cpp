// Fuzz entry for the product record parser, built natively with libFuzzer and
// the sanitizers (tools/fuzz.sh).
//
// Input: three control bytes, then the record data.
//   byte 0, byte 1  two split points (each modulo data length + 1): the data is
//                   also fed in three chunks, each from its own exactly sized
//                   heap buffer that is freed right after its Feed
//   byte 2          low four bits: n = the n-th allocation of the chunked run
//                   fails (0 = none fails)
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "fuzz_host.h"
#include "product_info.h"

// The global-memory calls the parser makes, on the C heap so that the
// sanitizers see every block; each block keeps its size for GlobalSize.
constexpr std::size_t kBlockHeader = alignof(std::max_align_t);

HGLOBAL WINAPI GlobalAlloc(UINT, SIZE_T bytes) {
  if (!ledger::Allow(bytes) || bytes > SIZE_MAX - kBlockHeader) return nullptr;
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

const char kEmpty[] = "0 0 0 0 0 0 0 0|0";

// A text's bytes as its block holds them, after checking the block's shape.
std::string BlockText(char* text) {
  if (text == nullptr) return std::string();
  const SIZE_T size = GlobalSize(text);
  Check(size >= 2, "a text block holds at least one character and its NUL");
  Check(text[size - 1] == '\0', "a text ends with a NUL at the end of its block");
  Check(std::memchr(text, '|', size - 1) == nullptr, "a text holds no bar");
  return std::string(text, size - 1);
}

// Every field, after checking what a record holds after any chunk.
std::string Fields(const ProductInfo& r) {
  Check(r.parseState >= 0 && r.parseState <= 18 && r.parseState != 13,
        "state 0 to 18 after a chunk, and its end closes the description");
  Check(r.firstText == nullptr || r.parseState >= 12, "first text only once closed");
  Check(r.description == nullptr || r.parseState >= 14, "description only once closed");
  const std::string fields = std::to_string(r.parsed) + " " + std::to_string(r.parseState) + " " +
                             std::to_string(r.updateIntervalDays) + " " + std::to_string(r.latestVersion.Value()) +
                             " " + std::to_string(r.secondVersion.Value()) + " " +
                             std::to_string(r.thirdVersion.Value()) + " " + std::to_string(r.packageSize) + " " +
                             std::to_string(r.firstText != nullptr) + BlockText(r.firstText) + "|" +
                             std::to_string(r.description != nullptr) + BlockText(r.description);
  Check(r.parsed || fields == kEmpty, "a chunk that did not end parsed leaves the record empty");
  return fields;
}

// Feeds one chunk from a heap copy of exactly its size, freed afterwards, so
// that reading past the chunk or keeping hold of it is caught.
void FeedCopy(ProductInfo& record, const std::uint8_t* data, std::size_t size) {
  auto* copy = static_cast<char*>(std::malloc(size == 0 ? 1 : size));
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
  ledger::Arm(0);
  FeedCopy(whole, data, size);
  const std::string fields = Fields(whole);
  if (whole.parsed && whole.parseState >= 12) {
    const std::string texts = "|" + BlockText(whole.firstText) + "|" + BlockText(whole.description);
    Check(std::string(reinterpret_cast<const char*>(data), size).find(texts) != std::string::npos,
          "texts stand in the data as |first|description");
  }

  std::size_t first = input[0] % (size + 1);
  std::size_t second = input[1] % (size + 1);
  if (first > second) std::swap(first, second);
  const std::size_t bounds[4] = {0, first, second, size};
  ProductInfo chunked;
  chunked.Init();
  ledger::Arm(input[2] & 0x0Fu);
  bool comparable = true;
  for (int i = 0; i < 3; ++i) {
    const bool failedBefore = ledger::failed;
    FeedCopy(chunked, data + bounds[i], bounds[i + 1] - bounds[i]);
    const std::string now = Fields(chunked);
    if (ledger::failed && !failedBefore) {
      Check(now == kEmpty, "a failed allocation empties the record");
      comparable = false;
    }
    // A chunk end inside the description closes it early.
    if (i < 2 && (!chunked.parsed || chunked.parseState == 14)) comparable = false;
  }
  Check(!comparable || Fields(chunked) == fields, "chunks give the one-chunk record");
  return 0;
}
