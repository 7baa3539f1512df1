// Reading the version resource of an installed viewer module.
#pragma once

#include <windows.h>

#include "packed_version.h"

namespace orvex {

// Stores the module's file version in *version and its US-English InternalName
// in name (a productName-sized field of 50 bytes); either may be null. Returns
// the size of the module's version information, 0 when it has none (the outputs
// are then untouched). An InternalName that does not fit the field is not taken.
DWORD ReadModuleVersion(const char* path, PackedVersion* version, char* name);

}  // namespace orvex
