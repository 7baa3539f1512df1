// The module's class table: the one control class it serves.
#pragma once

#include <windows.h>

#include "server_module.h"

namespace orvex {

extern const CLSID CLSID_OrvexInstallerCtl;

// The table, ended by an all-zero entry.
ClassTableEntry* ControlClassTable();

}  // namespace orvex
