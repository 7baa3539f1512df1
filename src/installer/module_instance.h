// The installer's module instance, recorded at entry; the progress window
// loads its dialog template and banner from it.
#pragma once

#include <windows.h>

namespace orvex {

void SetModuleInstance(HINSTANCE instance);
HINSTANCE ModuleInstance();

}  // namespace orvex
