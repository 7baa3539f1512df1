// What the module's exported entry points do, for the exports and for tests.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace orvex {

HRESULT ModuleCanUnloadNow();
HRESULT ModuleGetClassObject(REFCLSID classId, REFIID iid, void** out);

}  // namespace orvex
