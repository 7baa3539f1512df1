#include "interface_table.h"

namespace orvex {

namespace {
IUnknown* InterfaceAt(void* object, DWORD offset) {
  return reinterpret_cast<IUnknown*>(static_cast<BYTE*>(object) + offset);
}
}  // namespace

HRESULT OffsetResolver(void* object, REFIID, void** out, DWORD value) {
  IUnknown* unknown = InterfaceAt(object, value);
  unknown->AddRef();
  *out = unknown;
  return S_OK;
}

HRESULT FindInterface(void* object, const InterfaceTableEntry* table, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (::IsEqualIID(iid, IID_IUnknown)) return OffsetResolver(object, iid, out, table[0].value);
  for (const InterfaceTableEntry* row = table; row->resolver != nullptr; ++row) {
    if (row->iid != nullptr && !::IsEqualIID(iid, *row->iid)) continue;
    const HRESULT result = row->resolver(object, iid, out, row->value);
    if (result == S_OK) return S_OK;
    if (FAILED(result) && row->iid != nullptr) return result;
  }
  return E_NOINTERFACE;
}

}  // namespace orvex
