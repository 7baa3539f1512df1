#include "control_persistence.h"

#include <oleauto.h>

#include "property_value_reader.h"
#include "server_module.h"

namespace orvex {

namespace {

constexpr DISPID kInfoId = 1;

HRESULT WriteExact(IStream* stream, const void* data, ULONG size) {
  ULONG written = 0;
  const HRESULT result = stream->Write(data, size, &written);
  if (FAILED(result)) return result;
  return written == size ? S_OK : STG_E_MEDIUMFULL;
}

// Puts Info through the dispatch interface, as a script would. A page that
// may not drive the control has the value stored and no check run: the load
// itself succeeds.
HRESULT PutInfo(IDispatch* control, VARIANT& value) {
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS parameters = {&value, &named, 1, 1};
  EXCEPINFO exception = {};
  const HRESULT result = control->Invoke(kInfoId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &parameters,
                                         nullptr, &exception, nullptr);
  ::SysFreeString(exception.bstrSource);
  ::SysFreeString(exception.bstrDescription);
  ::SysFreeString(exception.bstrHelpFile);
  const bool refusedPage =
      result == E_ACCESSDENIED || (result == DISP_E_EXCEPTION && exception.scode == E_ACCESSDENIED);
  return SUCCEEDED(result) || refusedPage ? S_OK : E_FAIL;
}

HRESULT ReadUI4(IPropertyBag* bag, const wchar_t* name, IErrorLog* log, LONG& field) {
  VARIANT value;
  ::VariantInit(&value);
  value.vt = VT_UI4;
  if (FAILED(bag->Read(name, &value, log))) return S_OK;  // missing: skipped
  HRESULT result = value.vt == VT_UI4 ? S_OK : ::VariantChangeType(&value, &value, 0, VT_UI4);
  if (SUCCEEDED(result)) field = static_cast<LONG>(value.ulVal);
  ::VariantClear(&value);
  return S_OK;
}

HRESULT WriteUI4(IPropertyBag* bag, const wchar_t* name, LONG field) {
  VARIANT value;
  ::VariantInit(&value);
  value.vt = VT_UI4;
  value.ulVal = static_cast<ULONG>(field);
  return bag->Write(name, &value);
}

}  // namespace

HRESULT LoadProperties(IStream* stream, SIZEL& extent, IDispatch* control) {
  if (stream == nullptr) return E_POINTER;
  DWORD version = 0;
  HRESULT result = ReadExact(stream, &version, sizeof(version));
  if (FAILED(result)) return result;
  if (version > kStreamFormatVersion) return E_FAIL;
  // The extent is taken only once the whole stream has been read, and given
  // back when the put fails: a load that fails changes nothing.
  SIZEL loaded = {};
  if (FAILED(result = ReadExact(stream, &loaded.cx, sizeof(loaded.cx)))) return result;
  if (FAILED(result = ReadExact(stream, &loaded.cy, sizeof(loaded.cy)))) return result;
  VARTYPE type = VT_EMPTY;
  if (FAILED(result = ReadExact(stream, &type, sizeof(type)))) return result;
  VARIANT value;
  ::VariantInit(&value);
  result = ReadPropertyValue(stream, type, value);
  if (SUCCEEDED(result)) {
    const SIZEL previous = extent;
    extent = loaded;
    result = PutInfo(control, value);
    if (FAILED(result)) extent = previous;
  }
  ::VariantClear(&value);
  return result;
}

HRESULT SaveProperties(IStream* stream, const SIZEL& extent, BSTR info) {
  if (stream == nullptr) return E_POINTER;
  const DWORD version = kStreamFormatVersion;
  const VARTYPE type = VT_BSTR;
  const DWORD count = info != nullptr ? ::SysStringLen(info) : 0;
  HRESULT result = WriteExact(stream, &version, sizeof(version));
  if (SUCCEEDED(result)) result = WriteExact(stream, &extent.cx, sizeof(extent.cx));
  if (SUCCEEDED(result)) result = WriteExact(stream, &extent.cy, sizeof(extent.cy));
  if (SUCCEEDED(result)) result = WriteExact(stream, &type, sizeof(type));
  if (SUCCEEDED(result)) result = WriteExact(stream, &count, sizeof(count));
  if (FAILED(result) || count == 0) return result;
  auto* bytes = static_cast<BYTE*>(ModuleAlloc(count));
  if (bytes == nullptr) return E_OUTOFMEMORY;
  for (DWORD i = 0; i < count; ++i) bytes[i] = static_cast<BYTE>(info[i] & 0xFF);
  result = WriteExact(stream, bytes, count);
  ModuleFree(bytes);
  return result;
}

HRESULT LoadProperties(IPropertyBag* bag, IErrorLog* log, SIZEL& extent, IDispatch* control) {
  if (bag == nullptr) return E_POINTER;
  ReadUI4(bag, L"_cx", log, extent.cx);
  ReadUI4(bag, L"_cy", log, extent.cy);
  // The current value tells the type to ask the bag for.
  VARIANT current;
  ::VariantInit(&current);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  if (FAILED(control->Invoke(kInfoId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &current, nullptr,
                             nullptr))) {
    return E_FAIL;
  }
  VARIANT value;
  ::VariantInit(&value);
  value.vt = current.vt;
  ::VariantClear(&current);
  HRESULT result = S_OK;
  if (SUCCEEDED(bag->Read(L"Info", &value, log))) result = PutInfo(control, value);
  ::VariantClear(&value);
  return result;
}

HRESULT SaveProperties(IPropertyBag* bag, const SIZEL& extent, BSTR info) {
  if (bag == nullptr) return E_POINTER;
  HRESULT result = WriteUI4(bag, L"_cx", extent.cx);
  if (SUCCEEDED(result)) result = WriteUI4(bag, L"_cy", extent.cy);
  if (FAILED(result)) return result;
  VARIANT value;
  ::VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = info;  // borrowed: not cleared
  return bag->Write(L"Info", &value);
}

}  // namespace orvex
