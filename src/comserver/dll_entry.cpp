// The control module's entry point and exports. The module has no language
// runtime start-up: the loader calls DllEntry, which calls DllMain directly.
#include <windows.h>
#include <objbase.h>

#include "class_table.h"
#include "module_exports.h"
#include "module_registration.h"
#include "server_module.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    orvex::StartModule(orvex::ControlClassTable(), instance);
    ::DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    orvex::StopModule();
  }
  return TRUE;
}

BOOL WINAPI DllEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) { return DllMain(instance, reason, reserved); }

STDAPI DllCanUnloadNow() { return orvex::ModuleCanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, LPVOID* out) {
  return orvex::ModuleGetClassObject(classId, iid, out);
}

STDAPI DllRegisterServer() { return orvex::RegisterModule(); }

STDAPI DllUnregisterServer() { return orvex::UnregisterModule(); }

}  // extern "C"
