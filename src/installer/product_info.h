// The product information record "info.txt" that the information server
// publishes for each product, and its streaming parser.
//
// Wire format: bar-separated fields of 8-bit text, no header and no lines:
//
//   interval|a.b.c.d|a.b.c.d|size|first text|description|a.b.c.d|anything
//
// Numbers are plain ASCII digits (empty = 0) and wrap modulo 2^32; version
// components wrap modulo 2^16. A version is exactly four components and may
// be ended by a bar or by a full stop after its fourth component. The
// description runs to its bar or to the end of the chunk; after a closing bar
// it must be followed by a third version. Anything else is a format error,
// which empties the record completely.
#pragma once

#include <cstddef>
#include <cstdint>

#include "packed_version.h"

namespace orvex {

struct ProductInfo {
  // Parser states; see Feed.
  static constexpr std::int32_t kFormatError = -1;
  static constexpr std::int32_t kPastRecord = 18;

  bool parsed = false;                  // the last chunk ended without a format error
  std::int32_t parseState = 0;          // 0 to 18, or -1 while handling a format error
  std::uint32_t updateIntervalDays = 0; // field 1
  PackedVersion latestVersion{};        // field 2; zero means no usable record
  PackedVersion secondVersion{};        // field 3
  PackedVersion thirdVersion{};         // field 7
  std::uint32_t packageSize = 0;        // field 4, in bytes
  char* firstText = nullptr;            // field 5; null when empty
  char* description = nullptr;          // field 6; null when empty

  ProductInfo() = default;
  ~ProductInfo() { Reset(); }
  ProductInfo(const ProductInfo&) = delete;
  ProductInfo& operator=(const ProductInfo&) = delete;

  // Sets every field to zero or null. Releases nothing: use it only on a record
  // that owns no texts (a fresh one); Reset empties a record that may.
  void Init();

  // Releases both texts and any first text carried between chunks, then Init.
  void Reset();

  // Parses count bytes at data, continuing where the previous chunk stopped.
  // A count of -1 means data is NUL-terminated. A null data pointer or any
  // other negative count is an empty chunk. The end of a chunk closes an open
  // description; an open first text is carried over to the next chunk. The
  // buffer is not referenced after the call returns.
  // A text whose block cannot be allocated counts as a format error: the
  // record is emptied rather than left with a text missing.
  void Feed(const char* data, std::int32_t count);

 private:
  // The part of an open first text that earlier chunks held, in its own
  // global-memory block (NUL-terminated), or null when no text is carried.
  char* carriedText = nullptr;
  std::size_t carriedLength = 0;

  // Each returns false when the text's block cannot be allocated; Feed then
  // treats the record as malformed and empties it (see Feed).
  bool CloseFirstText(const char* part, std::size_t partLength);
  bool CloseDescription(const char* text, std::size_t length);
  bool CarryFirstText(const char* part, std::size_t partLength);
  void StepVersion(PackedVersion& version, std::int32_t firstState, unsigned char c);
};

}  // namespace orvex
