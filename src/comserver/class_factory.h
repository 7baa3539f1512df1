// The class object of the module's control class.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "server_module.h"

namespace orvex {

// Makes a class object that creates instances with instanceCreator and asks
// it for iid; the class table's class-object creator.
HRESULT CreateClassFactory(InstanceCreator instanceCreator, REFIID iid, void** out);

}  // namespace orvex
