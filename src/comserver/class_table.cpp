#include "class_table.h"

#include "class_factory.h"
#include "orvex_installer_ctl.h"
#include "module_script.h"

namespace orvex {

// {5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12}
const CLSID CLSID_OrvexInstallerCtl = {0x5B3C2A71, 0x8E4D, 0x4F60, {0xA1, 0xB2, 0x6C, 0x7D, 0x8E, 0x9F, 0x0A, 0x12}};

namespace {

constexpr UINT kRegistryScriptId = 102;

HRESULT UpdateControlRegistration(BOOL registerFlag) {
  return ApplyRegistryScript(kRegistryScriptId, registerFlag, nullptr);
}

// Plain data: constant-initialised, no start-up code.
ClassTableEntry classTable[] = {
    {&CLSID_OrvexInstallerCtl, UpdateControlRegistration, CreateClassFactory, CreateOrvexInstallerCtl, nullptr,
     nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

ClassTableEntry* ControlClassTable() { return classTable; }

}  // namespace orvex
