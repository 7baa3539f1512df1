// Registering and unregistering the module: each class's registry script,
// then the type library the module carries.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace orvex {

HRESULT RegisterModule();
HRESULT UnregisterModule();  // always S_OK

// The module's type library, from its own resources or, failing that, from the
// ".tlb" file beside it; *path receives the path it was loaded from.
HRESULT LoadOwnTypeLibrary(BSTR* path, ITypeLib** library);

}  // namespace orvex
