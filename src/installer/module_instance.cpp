#include "module_instance.h"

namespace orvex {

namespace {
HINSTANCE moduleInstance = nullptr;
}  // namespace

void SetModuleInstance(HINSTANCE instance) { moduleInstance = instance; }

HINSTANCE ModuleInstance() { return moduleInstance; }

}  // namespace orvex
