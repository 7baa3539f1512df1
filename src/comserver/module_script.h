// The module's own registry scripts: its REGISTRY resources, run with
// "Module" bound to the module file's path.
#pragma once

#include <windows.h>

#include "registry_script.h"

namespace orvex {

// Loads the REGISTRY resource resourceId from the current module's file and
// registers (registerFlag non-zero) or unregisters what it describes.
// "Module" is bound to the module's short path (its long path when the short
// form cannot be had) with every apostrophe doubled, so that it can stand in
// a quoted token; then each of the additional pairs (may be null).
HRESULT ApplyRegistryScript(UINT resourceId, BOOL registerFlag, const SubstitutionPair* additional);

}  // namespace orvex
