// Copying and joining ANSI text into fixed buffers. Text that does not fit is
// refused as a whole, never cut: the destination is then left empty (but for
// JoinTextCut, which says so).
#pragma once

#include <cstddef>
#include <initializer_list>

namespace orvex {

// Copies length bytes of source plus a NUL into dest (destSize bytes).
bool CopyText(char* dest, std::size_t destSize, const char* source, std::size_t length);

// Copies the NUL-terminated source into dest.
bool CopyText(char* dest, std::size_t destSize, const char* source);

// Concatenates the NUL-terminated parts into dest.
bool JoinText(char* dest, std::size_t destSize, std::initializer_list<const char*> parts);

// Appends the NUL-terminated source to the text already in dest.
bool AppendText(char* dest, std::size_t destSize, const char* source);

// Joins the non-null parts into dest, cutting the text where dest is full.
// For texts shown to the user, where a shortened line beats none.
void JoinTextCut(char* dest, std::size_t destSize, std::initializer_list<const char*> parts);

template <std::size_t N>
bool CopyText(char (&dest)[N], const char* source) {
  return CopyText(dest, N, source);
}

}  // namespace orvex
