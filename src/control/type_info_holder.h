// The control's type information, loaded once from the registered type
// library and kept until the module stops, with a table of its members'
// names for quick lookup.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace orvex {

// The type information of IOrvexInstallerCtl, borrowed (the holder keeps the
// reference); loaded on first need under the module's typeInfoLock.
HRESULT ControlTypeInfo(LCID locale, ITypeInfo** info);

// Member ids by exact, case-sensitive name; the type information is asked
// only for names the table does not hold.
HRESULT ControlIdsOfNames(LPOLESTR* names, UINT count, LCID locale, DISPID* ids);

}  // namespace orvex
