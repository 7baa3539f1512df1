#include "module_exports.h"

#include "server_module.h"

namespace orvex {

HRESULT ModuleCanUnloadNow() { return CurrentModule()->lockCount == 0 ? S_OK : S_FALSE; }

HRESULT ModuleGetClassObject(REFCLSID classId, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  HRESULT result = S_OK;
  ServerModule* module = CurrentModule();
  for (ClassTableEntry* entry = module->classTable; entry->classId != nullptr; ++entry) {
    if (entry->classObjectCreator == nullptr || !::IsEqualCLSID(classId, *entry->classId)) continue;
    if (entry->cachedClassObject == nullptr) {
      ::EnterCriticalSection(&module->classTableLock);
      if (entry->cachedClassObject == nullptr) {
        result = entry->classObjectCreator(entry->instanceCreator, IID_IUnknown,
                                           reinterpret_cast<void**>(&entry->cachedClassObject));
      }
      ::LeaveCriticalSection(&module->classTableLock);
    }
    if (entry->cachedClassObject != nullptr) result = entry->cachedClassObject->QueryInterface(iid, out);
    break;
  }
  if (*out == nullptr && result == S_OK) result = CLASS_E_CLASSNOTAVAILABLE;
  return result;
}

}  // namespace orvex
