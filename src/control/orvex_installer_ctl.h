// The control class: made by the class object, alone or aggregated.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace orvex {

// The class table's instance creator. With an outer object the control is
// aggregated and its non-delegating IUnknown is handed out. Each control holds
// one module lock from construction to destruction.
HRESULT CreateOrvexInstallerCtl(IUnknown* outer, REFIID iid, void** out);

}  // namespace orvex
