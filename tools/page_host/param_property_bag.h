// The property bag a page's <param> elements make for one object: the
// control reads its persisted properties from it while it loads.
#pragma once

#include <ocidl.h>
#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "html_page.h"

namespace orvex::page_host {

// Values are the parameters' texts (VT_BSTR). Read finds a name without
// regard to case, the first parameter of that name; a missing name fails with
// E_INVALIDARG. When the caller asks for a type other than VT_EMPTY or
// VT_BSTR, the text is converted to it (VariantChangeTypeEx, invariant
// locale) and a failed conversion is returned as the failure. Write replaces
// or adds a text value.
class ParamPropertyBag final : public IPropertyBag {
 public:
  // Called after every Read with the name, the requested type and the result.
  using ReadObserver = std::function<void(const std::wstring& name, VARTYPE requested, HRESULT result)>;

  // A new bag with one reference, owned by the caller.
  static ParamPropertyBag* Create(const std::vector<PageParam>& params, ReadObserver observer);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog* errorLog) override;
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override;

 private:
  ParamPropertyBag(const std::vector<PageParam>& params, ReadObserver observer);
  ~ParamPropertyBag() = default;
  static constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);
  // The first parameter of that name, without regard to case; kNotFound when none.
  std::size_t IndexOf(LPCOLESTR name) const;

  LONG references_ = 1;
  std::vector<PageParam> params_;
  ReadObserver observer_;
};

}  // namespace orvex::page_host
