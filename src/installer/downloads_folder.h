// Where packages are downloaded: Program Files, "\Brindlewood\Downloads".
#pragma once

#include <cstddef>

namespace orvex {

// Replaces the text in buffer (size bytes) with its expansion of environment
// references. An expansion that does not fit leaves the text unchanged and
// gives false.
bool ExpandInPlace(char* buffer, std::size_t size);

// Fills path (size bytes) with the downloads folder, creating its folders as
// needed (failures passed over), then "\" and fileName. False when the whole
// path does not fit.
bool PreparePackagePath(char* path, std::size_t size, const char* fileName);

}  // namespace orvex
