#include "param_property_bag.h"

#include <new>
#include <utility>

namespace orvex::page_host {

ParamPropertyBag* ParamPropertyBag::Create(const std::vector<PageParam>& params, ReadObserver observer) {
  try {
    return new ParamPropertyBag(params, std::move(observer));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

ParamPropertyBag::ParamPropertyBag(const std::vector<PageParam>& params, ReadObserver observer)
    : params_(params), observer_(std::move(observer)) {}

HRESULT STDMETHODCALLTYPE ParamPropertyBag::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!::IsEqualIID(iid, IID_IUnknown) && !::IsEqualIID(iid, IID_IPropertyBag)) return E_NOINTERFACE;
  AddRef();
  *out = static_cast<IPropertyBag*>(this);
  return S_OK;
}

ULONG STDMETHODCALLTYPE ParamPropertyBag::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }

ULONG STDMETHODCALLTYPE ParamPropertyBag::Release() {
  const LONG count = ::InterlockedDecrement(&references_);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

std::size_t ParamPropertyBag::IndexOf(LPCOLESTR name) const {
  for (std::size_t i = 0; i < params_.size(); ++i) {
    const std::wstring& candidate = params_[i].name;
    if (::CompareStringOrdinal(candidate.c_str(), static_cast<int>(candidate.size()), name, -1, TRUE) == CSTR_EQUAL) {
      return i;
    }
  }
  return kNotFound;
}

HRESULT STDMETHODCALLTYPE ParamPropertyBag::Read(LPCOLESTR name, VARIANT* value, IErrorLog* errorLog) {
  if (name == nullptr || value == nullptr) return E_POINTER;
  const VARTYPE requested = value->vt;
  HRESULT result = E_INVALIDARG;  // no such parameter: the caller's variant stays as it was
  const std::size_t index = IndexOf(name);
  if (index != kNotFound) {
    const PageParam* param = &params_[index];
    // The caller chose the type; whatever else the variant holds is not ours to free.
    ::VariantInit(value);
    VARIANT text;
    ::VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = ::SysAllocStringLen(param->value.data(), static_cast<UINT>(param->value.size()));
    if (text.bstrVal == nullptr) {
      result = E_OUTOFMEMORY;
    } else if (requested == VT_EMPTY || requested == VT_BSTR) {
      *value = text;  // the caller owns the string now
      result = S_OK;
    } else {
      result = ::VariantChangeTypeEx(value, &text, LOCALE_INVARIANT, 0, requested);
      ::VariantClear(&text);
    }
    if (FAILED(result) && errorLog != nullptr) {
      EXCEPINFO failure = {};
      failure.scode = result;
      errorLog->AddError(name, &failure);
    }
  }
  if (observer_) {
    try {
      observer_(name, requested, result);
    } catch (const std::bad_alloc&) {
      // The record of the read is lost; the read itself stands.
    }
  }
  return result;
}

HRESULT STDMETHODCALLTYPE ParamPropertyBag::Write(LPCOLESTR name, VARIANT* value) {
  if (name == nullptr || value == nullptr) return E_POINTER;
  VARIANT text;
  ::VariantInit(&text);
  const HRESULT converted = ::VariantChangeTypeEx(&text, value, LOCALE_INVARIANT, 0, VT_BSTR);
  if (FAILED(converted)) return converted;
  HRESULT result = S_OK;
  try {
    std::wstring newValue(text.bstrVal, ::SysStringLen(text.bstrVal));
    std::wstring newName(name);
    if (newName.size() > kMaxNameLength || newValue.size() > kMaxValueLength) {
      result = E_INVALIDARG;
    } else if (const std::size_t index = IndexOf(name); index != kNotFound) {
      params_[index].value = std::move(newValue);
    } else {
      params_.push_back(PageParam{std::move(newName), std::move(newValue)});
    }
  } catch (const std::bad_alloc&) {
    result = E_OUTOFMEMORY;
  }
  ::VariantClear(&text);
  return result;
}

}  // namespace orvex::page_host
